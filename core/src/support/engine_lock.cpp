#include <quotalume/engine_lock.hpp>

#include <quotalume/private_file.hpp>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace quotalume {

std::optional<EngineLock> EngineLock::acquire(const std::filesystem::path& directory) {
    createPrivateDirectories(directory);
    const std::filesystem::path path = directory / fileName;
    // Never through a link: the lock must be the file in our own folder.
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
    if (fd < 0 && (errno == EACCES || errno == EROFS)) {
        // A lock file we may not write (left by a run as another user, or on a read-only
        // mount) still locks: flock needs only an open descriptor.
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY);
    }
    if (fd < 0) {
        throw std::system_error(errno, std::system_category(), "open " + path.string());
    }
    EngineLock lock(fd);
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            return std::nullopt;
        }
        if (errno != EINTR) {
            throw std::system_error(errno, std::system_category(), "flock " + path.string());
        }
    }
    return lock;
}

EngineLock::~EngineLock() {
    if (fd_ >= 0) {
        ::close(fd_);  // releases the lock
    }
}

}  // namespace quotalume
