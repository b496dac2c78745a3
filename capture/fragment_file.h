#pragma once
// The movie file as the muxer writes it while recording: the muxer's bytes collect in
// memory and reach the file only at a fragment boundary, in one go, so whatever is on
// disk at any moment (a crash, a kill, a full disk) ends on a whole fragment and plays.
// A write the system refuses part-way is cut back to the last whole fragment.
//
// Threads: one at a time (the writer's controlling thread before its worker starts,
// then the worker).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/error.h"

struct AVIOContext;

namespace lumbrix {

class FragmentFile {
public:
    FragmentFile() = default;
    ~FragmentFile();
    FragmentFile(const FragmentFile&) = delete;
    FragmentFile& operator=(const FragmentFile&) = delete;

    // Creates or truncates `path` (following a symbolic link to its target). The error
    // is the system's, worded "Cannot create PATH".
    std::optional<Error> open(const std::string& path);
    // The I/O context to hand the muxer; valid from open() until close().
    AVIOContext* context() const { return context_; }
    // Everything the muxer has written so far goes to the file. On failure the file is
    // cut back to what the last successful commit left and the system's error comes
    // back, worded "Cannot write PATH"; later commits fail the same way.
    std::optional<Error> commit();
    // Commits nothing more; closes the file and frees the context.
    void close();

    bool isOpen() const { return fd_ >= 0; }
    // A plain file (not a device or a pipe someone named as the movie).
    bool isRegular() const { return regular_; }
    int64_t committedBytes() const { return committed_; }

private:
    static int collect(void* opaque, uint8_t* data, int size);

    std::string path_;
    int fd_ = -1;
    bool regular_ = false;
    AVIOContext* context_ = nullptr;
    std::vector<uint8_t> pending_;
    int64_t committed_ = 0;
    std::optional<Error> failure_;
};

// Rewrites the fragmented movie at `path` as a regular MP4 (one index, no fragments):
// the packets are copied into a temporary file beside it, which then replaces `path`
// in one rename. On any failure the fragmented file stays as it was.
std::optional<Error> convertToRegularMovie(const std::string& path);

}  // namespace lumbrix
