#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quotalume {

class LineBuffer;

// The engine (the tray app or `quotalume-cli watch`) serves its readings to other processes of
// the same user over a Unix socket, one JSON object per line each way.
namespace engine_socket {

// Longest line either side accepts: a reading is a few kilobytes.
inline constexpr std::size_t largestMessage = 64 * 1024;

// <runtime>/quotalume, created 0700: $XDG_RUNTIME_DIR, else /tmp/runtime-<user> as Qt makes it.
// Throws std::system_error when a folder cannot be made or is not ours and private.
std::filesystem::path directory();
// The socket of the engine in process `pid`. Throws std::length_error for a path that does not
// fit a socket address (107 bytes), naming it.
std::filesystem::path pathFor(long long pid);
// Removes the engines' sockets in `folder` that refuse connections: their engines are gone.
// One that is busy or merely slow is left alone.
void removeDeadSockets(const std::filesystem::path& folder);

// Held while a view reads Codex itself because its engine does not answer, so that many views
// of one engine start one Codex at a time, not one each: an flock in the runtime folder, taken
// by `deadline` or not at all.
class ViewReadLock {
public:
    static std::optional<ViewReadLock> acquire(std::chrono::steady_clock::time_point deadline);
    ViewReadLock(ViewReadLock&& other) noexcept;
    ViewReadLock& operator=(ViewReadLock&& other) noexcept;
    ViewReadLock(const ViewReadLock&) = delete;
    ~ViewReadLock();

private:
    explicit ViewReadLock(int fd) : fd_(fd) {}
    int fd_;
};

}  // namespace engine_socket

// The engine's answers that are no reading.
// One end of a connection on the engine's socket, owning the descriptor, which is non-blocking.
class EngineChannel {
public:
    explicit EngineChannel(int fd);
    EngineChannel(EngineChannel&&) noexcept;
    EngineChannel& operator=(EngineChannel&&) noexcept;
    ~EngineChannel();

    // A channel to the socket at `path`, or nothing when no engine listens there or one of
    // another user answers.
    static std::optional<EngineChannel> connect(const std::filesystem::path& path);
    // The same; `full` tells whether an engine was there but its queue of connections stayed
    // full for the second waited.
    static std::optional<EngineChannel> connect(const std::filesystem::path& path, bool& full);
    // Whether the process at the other end runs as our user (SO_PEERCRED).
    static bool peerIsUs(int fd);

    int descriptor() const { return fd_; }
    // Reads what has arrived; false at the end of the stream, on an error, or when a line
    // grows past largestMessage.
    bool receive();
    // The next complete line, or false when none has arrived yet.
    bool takeLine(std::string& line);
    // Queues `line` (a line feed is added) and writes what the socket takes now. False once the
    // peer is gone or has fallen more than a few messages behind.
    bool send(std::string_view line);
    // Writes what is queued; false on an error.
    bool flush();
    bool hasQueuedOutput() const { return sent_ < queued_.size(); }
    // Whether the peer hung up (or the connection failed): nothing more will arrive.
    bool ended() const { return ended_; }

    // Blocking helpers for clients: the next line, or nothing at the end of the stream or past
    // `deadline`.
    std::optional<std::string> awaitLine(std::chrono::steady_clock::time_point deadline);
    // Sends everything queued by `deadline`.
    bool flushBy(std::chrono::steady_clock::time_point deadline);

private:
    int fd_ = -1;
    std::unique_ptr<LineBuffer> input_;
    std::string queued_;
    std::size_t sent_ = 0;
    bool ended_ = false;
};

}  // namespace quotalume
