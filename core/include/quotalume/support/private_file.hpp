#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quotalume {

// Files that only their owner may read, replaced whole and atomically: the preferences, the
// webhook credentials and the monitor state. Every failure is a std::system_error with the
// errno of the step that failed.

// The system calls a replacement goes through, replaceable so tests can make any step fail.
struct FileOperations {
    std::function<int(const char* path, int flags, mode_t mode)> open;
    std::function<ssize_t(int fd, const void* data, std::size_t size)> write;
    std::function<int(int fd)> fsync;
    std::function<int(const char* from, const char* to)> rename;
    static FileOperations system();
};

// $<variable> when it is an absolute path, else the user's home + `fallback` (".config",
// ".local/share"); ENOENT when there is no home directory either.
std::filesystem::path xdgDirectory(
    const char* variable, const char* fallback,
    const std::function<const char*(const char*)>& environment = nullptr);

// Every missing folder on the way is created with mode 0700; existing ones keep their mode.
void createPrivateDirectories(const std::filesystem::path& directory);

struct SmallFileRead {
    // The file holds credentials: it must be a regular file of ours that nobody else may read
    // or write, and never a link. Anything else fails with NotPrivateFile and is left as it is.
    bool privateToOwner = false;
    // A link in the file's place, even one leading nowhere, fails with ELOOP.
    bool followLinks = true;
};

// A file that should hold secrets but others could have read or replaced.
class NotPrivateFile : public std::runtime_error {
public:
    enum class Reason { link, otherOwner, sharedMode };
    NotPrivateFile(Reason reason, const std::string& path)
        : std::runtime_error(path), reason_(reason) {}
    Reason reason() const { return reason_; }

private:
    Reason reason_;
};

// The whole of a regular file of at most `limit` bytes; nothing when there is no such file.
// Another kind of file fails with EISDIR or EINVAL, a larger one with EFBIG. Opened without
// blocking, so a FIFO in the file's place cannot stall the caller.
std::optional<std::string> readSmallFile(const std::filesystem::path& path, std::size_t limit,
                                         SmallFileRead options = {});

// Renames `path` to "<path>.<label>-<UTC time>" ("-2", "-3", … when that name is taken), never
// replacing another file, makes a regular file's copy owner-only, then removes all but the
// newest `keep` of those copies (0 keeps every one). Returns the copy's path, or nothing when
// there was no file to move. Throws std::system_error. With `rename` (a FileOperations one),
// a free name is checked first and the move goes through it.
std::optional<std::filesystem::path> moveAside(
    const std::filesystem::path& path, std::string_view label, std::size_t keep = 0,
    const std::function<int(const char* from, const char* to)>& rename = nullptr);

// A file others are to read (a metrics file for node_exporter): its folder must exist, and it
// gets `mode` only once all of it is written.
struct SharedFile {
    mode_t mode = 0644;
};

// Replaces `path` by `content`: the bytes go to `temporaryName` in the same folder, created
// exclusively with mode 0600 (never wider, not even for a moment), are flushed to disk and
// renamed over `path`. After a failure the old file is as it was and the temporary is gone.
// Missing folders are created 0700, unless the file is `shared`.
void replaceFileAtomically(const std::filesystem::path& path, std::string_view content,
                           const std::string& temporaryName,
                           const FileOperations& operations = FileOperations::system(),
                           std::optional<SharedFile> shared = std::nullopt);

}  // namespace quotalume
