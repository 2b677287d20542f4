#include <quotalume/support/private_file.hpp>

#include <quotalume/support/text.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <system_error>
#include <vector>

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
    const bool followLinks = options.followLinks && !options.privateToOwner;
    Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY |
                                             (followLinks ? 0 : O_NOFOLLOW)));
    if (file.get() < 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return std::nullopt;
        }
        if (errno == ELOOP && options.privateToOwner) {
            throw NotPrivateFile(NotPrivateFile::Reason::link, path.string());
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
    if (options.privateToOwner) {
        // Never narrowed in passing: whatever others could read they may already have copied,
        // and the owner must hear of it.
        if (status.st_uid != ::geteuid()) {
            throw NotPrivateFile(NotPrivateFile::Reason::otherOwner, path.string());
        }
        if ((status.st_mode & 077) != 0) {
            throw NotPrivateFile(NotPrivateFile::Reason::sharedMode, path.string());
        }
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

namespace {

std::string utcStamp() {
    std::time_t now = std::time(nullptr);
    std::tm parts{};
    ::gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &parts);
    return text;
}

// Removes the oldest copies beyond `keep`; their names sort by the time they carry.
void pruneCopies(const std::filesystem::path& directory, const std::string& prefix,
                 std::size_t keep) {
    std::vector<std::string> copies;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(directory, error), end; !error && entry != end;
         entry.increment(error)) {
        std::string name = entry->path().filename().string();
        if (name.starts_with(prefix)) {
            copies.push_back(std::move(name));
        }
    }
    if (copies.size() <= keep) {
        return;
    }
    std::sort(copies.begin(), copies.end());
    for (std::size_t i = 0; i + keep < copies.size(); ++i) {
        std::error_code ignored;
        std::filesystem::remove(directory / copies[i], ignored);  // a link goes, not its target
    }
}

}  // namespace

std::optional<std::filesystem::path> moveAside(
    const std::filesystem::path& path, std::string_view label, std::size_t keep,
    const std::function<int(const char* from, const char* to)>& rename) {
    const std::string prefix = path.filename().string() + "." + std::string(label) + "-";
    const std::string stem = (path.parent_path() / prefix).string() + utcStamp();
    for (int attempt = 1;; ++attempt) {
        std::string candidate = attempt == 1 ? stem : stem + "-" + std::to_string(attempt);
        int result = rename ? -1
                            : ::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, candidate.c_str(),
                                          RENAME_NOREPLACE);
        if (rename || (result != 0 && errno == EINVAL)) {
            // Without RENAME_NOREPLACE (an older file system, or a test's rename) a check first
            // is good enough: the folder is the user's own.
            struct stat status {};
            if (::lstat(candidate.c_str(), &status) == 0) {
                continue;
            }
            result = rename ? rename(path.c_str(), candidate.c_str())
                            : ::rename(path.c_str(), candidate.c_str());
        }
        if (result == 0) {
            // It may hold what the file held: no wider than the file we write ourselves.
            struct stat status {};
            if (::lstat(candidate.c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
                ::chmod(candidate.c_str(), 0600);
            }
            if (keep > 0) {
                pruneCopies(path.parent_path(), prefix, keep);
            }
            return candidate;
        }
        if (errno == EEXIST) {
            continue;
        }
        if (errno == ENOENT) {
            return std::nullopt;
        }
        throwErrno(errno, "rename " + path.string());
    }
}

void replaceFileAtomically(const std::filesystem::path& path, std::string_view content,
                           const std::string& temporaryName, const FileOperations& operations,
                           std::optional<SharedFile> shared) {
    const std::filesystem::path directory = path.parent_path();
    if (!shared) {
        createPrivateDirectories(directory);
    }
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
    if (shared && ::fchmod(file.get(), shared->mode) != 0) {
        throwErrno(errno, "chmod " + temporary.path());
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
