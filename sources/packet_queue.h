#pragma once
#if !defined(LUMBRIX_INSIDE_SOURCES) && !defined(LUMBRIX_TESTS)
#error "sources/packet_queue.h is internal to sources/"
#endif
// A bounded queue of demuxed packets between the demuxer and one decoder. Every packet
// carries the serial of the timeline it belongs to: a seek or a loop restart bumps the
// serial and flushes, so a decoder can tell stale data from fresh.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include "platform/media/ffmpeg_handles.h"

namespace lumbrix {

class PacketQueue {
public:
    struct Item {
        PacketPtr packet;  // null: the end of the stream, drain the decoder
        int serial = 0;
    };

    explicit PacketQueue(size_t maxPackets) : maxPackets_(maxPackets) {}

    // Waits while full; false once aborted. Takes over the packet's data.
    bool put(PacketPtr packet, int serial);
    // Waits until an item is there; false once aborted.
    bool get(Item& item);
    // Drops everything queued and starts serial `serial`.
    void flush(int serial);
    void abort();
    bool full() const;
    size_t size() const;
    int serial() const;

private:
    mutable std::mutex mutex_;  // guards items_, serial_, aborted_
    std::condition_variable changed_;
    std::deque<Item> items_;
    size_t maxPackets_;
    int serial_ = 0;
    bool aborted_ = false;
};

}  // namespace lumbrix
