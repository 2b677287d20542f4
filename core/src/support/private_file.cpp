#include <quotalume/private_file.hpp>

#include <quotalume/text.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace quotalume {
namespace {

[[noreturn]] void throwErrno(int error, const std::string& what) {
    throw std::system_error(error, std::system_category(), what);
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { close(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    int close() {
        int result = fd_ >= 0 ? ::close(fd_) : 0;
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

// Removes the temporary file on every way out, unless the rename took it away or it was never
// ours (the exclusive create failed).
class TemporaryPath {
public:
    explicit TemporaryPath(std::string path) : path_(std::move(path)) {}
    ~TemporaryPath() {
        if (owned_) {
            ::unlink(path_.c_str());
        }
    }
    TemporaryPath(const TemporaryPath&) = delete;
    TemporaryPath& operator=(const TemporaryPath&) = delete;
    const std::string& path() const { return path_; }
    void release() { owned_ = false; }

private:
    std::string path_;
    bool owned_ = true;
};

}  // namespace

FileOperations FileOperations::system() {
    return {[](const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); },
            ::write, ::fsync, ::rename};
}

std::filesystem::path xdgDirectory(const char* variable, const char* fallback,
                                   const std::function<const char*(const char*)>& environment) {
    auto lookup = [&](const char* name) -> std::string {
        const char* value = environment ? environment(name) : std::getenv(name);
        return value != nullptr ? value : "";
    };
    std::filesystem::path directory = lookup(variable);
    if (directory.is_absolute()) {
        return directory;
    }
    const std::filesystem::path home = userHomeDirectory(environment);
    if (!home.is_absolute()) {
        throwErrno(ENOENT, "no home directory");
    }
    return home / fallback;
}

void createPrivateDirectories(const std::filesystem::path& directory) {
    if (directory.empty() || ::mkdir(directory.c_str(), 0700) == 0 || errno == EEXIST) {
        return;
    }
    if (errno != ENOENT) {
        throwErrno(errno, "mkdir " + directory.string());
    }
    createPrivateDirectories(directory.parent_path());
    if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
        throwErrno(errno, "mkdir " + directory.string());
    }
}

std::optional<std::string> readSmallFile(const std::filesystem::path& path, std::size_t limit,
                                         SmallFileRead options) {
    Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY |
                                             (options.followLinks ? 0 : O_NOFOLLOW)));
    if (file.get() < 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return std::nullopt;
        }
        throwErrno(errno, "open " + path.string());
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) {
        throwErrno(errno, "stat " + path.string());
    }
    if (!S_ISREG(status.st_mode)) {
        throwErrno(S_ISDIR(status.st_mode) ? EISDIR : EINVAL, path.string());
    }
    if (options.ownerOnly && (status.st_mode & 077) != 0 && ::fchmod(file.get(), 0600) != 0) {
        throwErrno(errno, "chmod " + path.string());
    }
    std::string content;
    char buffer[8192];
    for (;;) {
        ssize_t count = ::read(file.get(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            throwErrno(errno, "read " + path.string());
        }
        if (count == 0) {
            return content;
        }
        content.append(buffer, static_cast<std::size_t>(count));
        if (content.size() > limit) {
            throwErrno(EFBIG, path.string());
        }
    }
}

void replaceFileAtomically(const std::filesystem::path& path, std::string_view content,
                           const std::string& temporaryName, const FileOperations& operations) {
    const std::filesystem::path directory = path.parent_path();
    createPrivateDirectories(directory);
    TemporaryPath temporary((directory / temporaryName).string());
    Descriptor file(operations.open(temporary.path().c_str(),
                                    O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (file.get() < 0) {
        const int error = errno;
        temporary.release();
        throwErrno(error, "open " + temporary.path());
    }
    // A strict umask may have narrowed the mode; the owner still has to read the file back.
    if (::fchmod(file.get(), 0600) != 0) {
        throwErrno(errno, "chmod " + temporary.path());
    }
    for (std::size_t written = 0; written < content.size();) {
        ssize_t count =
            operations.write(file.get(), content.data() + written, content.size() - written);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            throwErrno(count < 0 ? errno : EIO, "write " + temporary.path());
        }
        written += static_cast<std::size_t>(count);
    }
    if (operations.fsync(file.get()) != 0) {
        throwErrno(errno, "fsync " + temporary.path());
    }
    if (file.close() != 0) {
        throwErrno(errno, "close " + temporary.path());
    }
    if (operations.rename(temporary.path().c_str(), path.c_str()) != 0) {
        throwErrno(errno, "rename " + temporary.path());
    }
    temporary.release();
    // Makes the rename itself durable; the new file is already in place, so a failure here is
    // not a failed write.
    Descriptor folder(
        ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0) {
        ::fsync(folder.get());
    }
}

}  // namespace quotalume
