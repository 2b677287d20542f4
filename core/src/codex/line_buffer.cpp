#include "line_buffer.hpp"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace quotalume {

char* LineBuffer::prepare() {
    // Drop returned lines from the front before growing, so the buffer stays bounded by the
    // unread bytes.
    if (lineStart_ > 0) {
        buffer_.erase(0, lineStart_);
        scanned_ -= lineStart_;
        lineStart_ = 0;
    }
    prepared_ = buffer_.size();
    // A long line gets room up to the ceiling at once: the pages are only touched as bytes
    // arrive, and the buffer is never copied again on the way to the bound.
    if (prepared_ >= largeLineBytes_ && buffer_.capacity() < maximumBytes_ + readChunkBytes) {
        buffer_.reserve(maximumBytes_ + readChunkBytes);
    }
    buffer_.resize(prepared_ + readChunkBytes);
    return buffer_.data() + prepared_;
}

void LineBuffer::commit(std::size_t count) {
    assert(buffer_.size() == prepared_ + readChunkBytes);
    buffer_.resize(prepared_ + std::min(count, readChunkBytes));
}

bool LineBuffer::takeLine(std::string& line) {
    const std::size_t from = std::max(lineStart_, scanned_);
    const void* feed = std::memchr(buffer_.data() + from, '\n', buffer_.size() - from);
    if (feed == nullptr) {
        scanned_ = buffer_.size();
        return false;
    }
    auto end = static_cast<std::size_t>(static_cast<const char*>(feed) - buffer_.data());
    line.assign(buffer_, lineStart_, end - lineStart_);
    lineStart_ = scanned_ = end + 1;
    if (lineStart_ == buffer_.size()) {
        buffer_.clear();
        lineStart_ = scanned_ = 0;
    }
    return true;
}

}  // namespace quotalume
