#pragma once

#include <cstddef>
#include <string>

namespace quotalume {

// The child's output cut into lines. Bytes are read straight into the tail; lines already
// returned are dropped from the front only when room is made, so cutting many lines stays
// linear, and bytes once scanned for a line feed are never scanned again.
class LineBuffer {
public:
    // Most bytes one read may add.
    static constexpr std::size_t readChunkBytes = 8192;

    // Unread bytes past `largeLineBytes` make room for the whole bound at once.
    explicit LineBuffer(std::size_t maximumBytes, std::size_t largeLineBytes = 64 * 1024)
        : maximumBytes_(maximumBytes), largeLineBytes_(largeLineBytes) {}

    // Room for readChunkBytes at the end; commit() must follow before any other call.
    char* prepare();
    // Keeps the first `count` bytes of the prepared room (at most readChunkBytes).
    void commit(std::size_t count);
    // The next complete line, without its line feed, or false when none is buffered yet.
    bool takeLine(std::string& line);

    // Bytes received but not yet returned as lines.
    std::size_t unread() const { return buffer_.size() - lineStart_; }
    // More unread bytes than the bound: the sender floods us without line breaks.
    bool overflowing() const { return unread() > maximumBytes_; }

private:
    std::size_t maximumBytes_;
    std::size_t largeLineBytes_;
    std::string buffer_;
    std::size_t lineStart_ = 0;  // bytes before this were already returned as lines
    std::size_t scanned_ = 0;    // bytes before this are known to hold no line feed
    std::size_t prepared_ = 0;   // size of the buffer before the room of prepare()
};

}  // namespace quotalume
