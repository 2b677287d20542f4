#include <quotalume/coordination/engine_lock.hpp>

#include <quotalume/support/bounded_json.hpp>
#include <quotalume/support/private_file.hpp>

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <system_error>

namespace quotalume {
namespace {

using nlohmann::json;

// A pid, a program name and a folder; anything larger was not written by a holder.
constexpr std::size_t largestRecord = 4096;

void writeRecord(int fd, const EngineHolder& self) {
    const std::string record = json{{"pid", self.pid},
                                    {"program", self.program},
                                    {"runtimeDirectory", self.runtimeDirectory},
                                    {"socket", self.socket}}
                                   .dump(-1, ' ', false, json::error_handler_t::replace) +
                               "\n";
    // The record only helps messages; a lock file we may not write still locks.
    if (::ftruncate(fd, 0) == 0) {
        (void)!::pwrite(fd, record.data(), record.size(), 0);
    }
}

}  // namespace

namespace {

// Takes an exclusive flock without waiting: false while another holds it.
bool lockNow(int fd, const std::filesystem::path& path) {
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            return false;
        }
        if (errno != EINTR) {
            throw std::system_error(errno, std::system_category(), "flock " + path.string());
        }
    }
    return true;
}

// The lock file, opened for writing when we may; never through a link: the lock must be the
// file in our own folder.
int openLockFile(const std::filesystem::path& path, bool& writable) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
    writable = fd >= 0;
    if (fd < 0 && (errno == EACCES || errno == EROFS)) {
        // A lock file we may not write (left by a run as another user, or on a read-only
        // mount) still locks: flock needs only an open descriptor.
        const int refused = errno;
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY);
        if (fd < 0 && errno == ENOENT) {
            errno = refused;  // no file, and none may be made: say why not
        }
    }
    if (fd < 0) {
        throw std::system_error(errno, std::system_category(), "open " + path.string());
    }
    return fd;
}

}  // namespace

std::optional<EngineLock> EngineLock::acquire(const std::filesystem::path& directory,
                                              const EngineHolder& self) {
    createPrivateDirectories(directory);
    // The folder first: deleting or replacing engine.lock cannot make a second holder of it.
    const int folderFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0) {
        throw std::system_error(errno, std::system_category(), "open " + directory.string());
    }
    EngineLock lock(folderFd, -1);
    if (!lockNow(folderFd, directory)) {
        return std::nullopt;
    }
    const std::filesystem::path path = directory / fileName;
    bool writable = false;
    lock.fd_ = openLockFile(path, writable);
    // An older build holds only the file.
    if (!lockNow(lock.fd_, path)) {
        return std::nullopt;
    }
    if (writable) {
        writeRecord(lock.fd_, self);
    }
    return lock;
}

bool EngineLock::keepLockFile(const std::filesystem::path& directory, const EngineHolder& self) {
    const std::filesystem::path path = directory / fileName;
    struct stat held {};
    struct stat named {};
    if (fd_ >= 0 && ::fstat(fd_, &held) == 0 && ::lstat(path.c_str(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
        return true;
    }
    try {
        if (::lstat(path.c_str(), &named) == 0 && !S_ISREG(named.st_mode)) {
            ::unlink(path.c_str());  // a link or a folder in its place names nobody
        }
        bool writable = false;
        const int fd = openLockFile(path, writable);
        if (!lockNow(fd, path)) {
            ::close(fd);  // an older build took the file meanwhile; the folder is still ours
            return false;
        }
        if (writable) {
            writeRecord(fd, self);
        }
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

std::optional<EngineHolder> EngineLock::holder(const std::filesystem::path& directory) {
    try {
        const auto content =
            readSmallFile(directory / fileName, largestRecord, {.followLinks = false});
        if (!content) {
            return std::nullopt;
        }
        const json record = parseBoundedJSON(*content);
        if (!record.is_object()) {
            return std::nullopt;
        }
        EngineHolder holder;
        holder.pid = record.at("pid").get<long long>();
        holder.program = record.at("program").get<std::string>();
        holder.runtimeDirectory = record.at("runtimeDirectory").get<std::string>();
        holder.socket = record.value("socket", std::string());
        if (holder.pid <= 0 || holder.program.empty()) {
            return std::nullopt;
        }
        return holder;
    } catch (const std::exception&) {
        return std::nullopt;  // a record half written, or not ours
    }
}

EngineLock::~EngineLock() {
    for (int fd : {fd_, folderFd_}) {
        if (fd >= 0) {
            ::close(fd);  // releases its lock
        }
    }
}

}  // namespace quotalume
