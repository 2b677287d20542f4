#include <quotalume/coordination/engine_channel.hpp>

#include <quotalume/support/cancellation.hpp>

#include "../codex/line_buffer.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace quotalume {
namespace {

using std::chrono::steady_clock;

// A folder of ours that nobody else may enter, made when missing; one of ours with a wider
// mode is narrowed, as Qt does with the runtime folder it makes.
void privateFolder(const std::filesystem::path& folder) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        throw std::system_error(errno, std::system_category(), "mkdir " + folder.string());
    }
    struct stat status {};
    if (::lstat(folder.c_str(), &status) != 0) {
        throw std::system_error(errno, std::system_category(), "stat " + folder.string());
    }
    if (!S_ISDIR(status.st_mode) || status.st_uid != ::geteuid()) {
        throw std::system_error(EACCES, std::system_category(),
                                folder.string() + " is not a folder of this user");
    }
    if ((status.st_mode & 077) != 0 && ::chmod(folder.c_str(), 0700) != 0) {
        throw std::system_error(errno, std::system_category(), "chmod " + folder.string());
    }
}

}  // namespace

namespace engine_socket {

std::filesystem::path directory() {
    std::filesystem::path base;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && runtime[0] == '/') {
        base = runtime;
    } else {
        const passwd* user = ::getpwuid(::geteuid());
        base = "/tmp/runtime-" +
               (user != nullptr ? std::string(user->pw_name) : std::to_string(::geteuid()));
        privateFolder(base);
    }
    privateFolder(base / "quotalume");
    return base / "quotalume";
}

std::filesystem::path pathFor(long long pid) {
    std::filesystem::path path = directory() / ("engine-" + std::to_string(pid) + ".sock");
    if (path.native().size() >= sizeof(sockaddr_un::sun_path)) {
        throw std::length_error("the socket path " + path.string() + " is longer than the " +
                                std::to_string(sizeof(sockaddr_un::sun_path) - 1) +
                                " bytes a socket address holds; set XDG_RUNTIME_DIR to a "
                                "shorter folder");
    }
    return path;
}

void removeDeadSockets(const std::filesystem::path& folder) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        struct stat status {};
        if (!name.starts_with("engine-") || !name.ends_with(".sock") ||
            ::lstat(entry.path().c_str(), &status) != 0 || !S_ISSOCK(status.st_mode) ||
            status.st_uid != ::geteuid()) {
            continue;
        }
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (entry.path().native().size() >= sizeof address.sun_path) {
            continue;
        }
        std::memcpy(address.sun_path, entry.path().c_str(), entry.path().native().size());
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return;
        }
        // Without waiting: a full queue (EAGAIN) is an engine that is there.
        const bool refused =
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
            errno == ECONNREFUSED;
        ::close(fd);
        if (refused) {
            ::unlink(entry.path().c_str());
        }
    }
}

std::optional<ViewReadLock> ViewReadLock::acquire(steady_clock::time_point deadline) {
    const std::filesystem::path path = directory() / "view-read.lock";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
    if (fd < 0) {
        return std::nullopt;
    }
    ViewReadLock lock(fd);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            return lock;
        }
        if ((errno != EWOULDBLOCK && errno != EINTR) || steady_clock::now() >= deadline ||
            Cancellation::requested()) {
            return std::nullopt;
        }
        ::usleep(20'000);
    }
}

ViewReadLock::ViewReadLock(ViewReadLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

ViewReadLock& ViewReadLock::operator=(ViewReadLock&& other) noexcept {
    std::swap(fd_, other.fd_);  // the other closes what was ours
    return *this;
}

ViewReadLock::~ViewReadLock() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

}  // namespace engine_socket

EngineChannel::EngineChannel(int fd)
    : fd_(fd), input_(std::make_unique<LineBuffer>(2 * engine_socket::largestMessage)) {
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
}

EngineChannel::EngineChannel(EngineChannel&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      input_(std::move(other.input_)),
      queued_(std::move(other.queued_)),
      sent_(other.sent_),
      ended_(other.ended_) {}

EngineChannel& EngineChannel::operator=(EngineChannel&& other) noexcept {
    std::swap(fd_, other.fd_);  // the other closes what was ours
    std::swap(input_, other.input_);
    std::swap(queued_, other.queued_);
    std::swap(sent_, other.sent_);
    std::swap(ended_, other.ended_);
    return *this;
}

EngineChannel::~EngineChannel() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

std::optional<EngineChannel> EngineChannel::connect(const std::filesystem::path& path) {
    bool full = false;
    return connect(path, full);
}

std::optional<EngineChannel> EngineChannel::connect(const std::filesystem::path& path, bool& full) {
    full = false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.native().size() >= sizeof address.sun_path) {
        return std::nullopt;
    }
    std::memcpy(address.sun_path, path.c_str(), path.native().size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return std::nullopt;
    }
    EngineChannel channel(fd);
    int result;
    // A full queue of connections (EAGAIN on a Unix socket) is an engine that is there: wait a
    // little for room rather than take it for none.
    for (int attempt = 0;; ++attempt) {
        result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        if (result == 0 || (errno != EINTR && (errno != EAGAIN || attempt == 50))) {
            break;
        }
        if (errno == EAGAIN) {
            ::usleep(20'000);
        }
    }
    full = result != 0 && errno == EAGAIN;
    if (result != 0 && errno == EINPROGRESS) {
        pollfd ready{fd, POLLOUT, 0};
        int error = 0;
        socklen_t size = sizeof error;
        result = ::poll(&ready, 1, 2000) == 1 &&
                         ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0
                     ? 0
                     : -1;
    }
    // A socket another user made in our name gets nothing from us, not even a request.
    if (result != 0 || !peerIsUs(fd)) {
        return std::nullopt;
    }
    return channel;
}

bool EngineChannel::peerIsUs(int fd) {
    ucred peer{};
    socklen_t size = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::geteuid();
}

bool EngineChannel::receive() {
    // A few chunks at a time: a peer that floods us cannot keep us here.
    for (int chunk = 0; chunk < 4; ++chunk) {
        char* room = input_->prepare();
        const ssize_t n = ::read(fd_, room, LineBuffer::readChunkBytes);
        input_->commit(n > 0 ? static_cast<std::size_t>(n) : 0);
        if (n == 0) {
            ended_ = true;
            return false;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            ended_ = errno != EAGAIN && errno != EWOULDBLOCK;
            return !ended_;
        }
        if (input_->overflowing()) {
            return false;
        }
    }
    return true;
}

bool EngineChannel::takeLine(std::string& line) {
    return input_->takeLine(line);
}

bool EngineChannel::send(std::string_view line) {
    if (queued_.size() - sent_ > 4 * engine_socket::largestMessage) {
        return false;  // a reader that stopped reading is not buffered for without end
    }
    if (sent_ == queued_.size()) {
        queued_.clear();
        sent_ = 0;
    }
    queued_.append(line);
    queued_ += '\n';
    return flush();
}

bool EngineChannel::flush() {
    while (sent_ < queued_.size()) {
        const ssize_t n = ::send(fd_, queued_.data() + sent_, queued_.size() - sent_, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno == EAGAIN || errno == EWOULDBLOCK;
        }
        sent_ += static_cast<std::size_t>(n);
    }
    return true;
}

namespace {

bool waitFor(int fd, short events, steady_clock::time_point deadline) {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        const Cancellation* cancellation = Cancellation::current();
        pollfd ready[2] = {{fd, events, 0},
                           {cancellation ? cancellation->descriptor() : -1, POLLIN, 0}};
        const int result = ::poll(ready, 2, static_cast<int>(left.count()));
        if (Cancellation::requested()) {
            return false;
        }
        if (result > 0) {
            return true;
        }
        if (result < 0 && errno != EINTR) {
            return false;
        }
    }
}

}  // namespace

std::optional<std::string> EngineChannel::awaitLine(steady_clock::time_point deadline) {
    std::string line;
    for (;;) {
        if (takeLine(line)) {
            return line;
        }
        if (!waitFor(fd_, POLLIN, deadline) || !receive()) {
            return takeLine(line) ? std::optional(line) : std::nullopt;
        }
    }
}

bool EngineChannel::flushBy(steady_clock::time_point deadline) {
    while (hasQueuedOutput()) {
        if (!flush() || (hasQueuedOutput() && !waitFor(fd_, POLLOUT, deadline))) {
            return false;
        }
    }
    return true;
}

}  // namespace quotalume
