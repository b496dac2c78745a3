#include "sources/packet_queue.h"

namespace lumbrix {

bool PacketQueue::put(PacketPtr packet, int serial) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return aborted_ || items_.size() < maxPackets_ || serial != serial_; });
    if (aborted_) {
        return false;
    }
    if (serial != serial_) {
        return true;  // from a timeline already flushed: dropped
    }
    items_.push_back({std::move(packet), serial});
    changed_.notify_all();
    return true;
}

bool PacketQueue::get(Item& item) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return aborted_ || !items_.empty(); });
    if (aborted_) {
        return false;
    }
    item = std::move(items_.front());
    items_.pop_front();
    changed_.notify_all();
    return true;
}

void PacketQueue::flush(int serial) {
    std::lock_guard lock(mutex_);
    items_.clear();
    serial_ = serial;
    changed_.notify_all();
}

void PacketQueue::abort() {
    std::lock_guard lock(mutex_);
    aborted_ = true;
    changed_.notify_all();
}

bool PacketQueue::full() const {
    std::lock_guard lock(mutex_);
    return items_.size() >= maxPackets_;
}

size_t PacketQueue::size() const {
    std::lock_guard lock(mutex_);
    return items_.size();
}

int PacketQueue::serial() const {
    std::lock_guard lock(mutex_);
    return serial_;
}

}  // namespace lumbrix
