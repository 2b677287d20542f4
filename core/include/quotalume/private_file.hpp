#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
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
    // A file that others may read (it holds credentials) is first narrowed to mode 0600; when
    // that fails, so does the read, with the errno of the chmod.
    bool ownerOnly = false;
    // A link in the file's place, even one leading nowhere, fails with ELOOP.
    bool followLinks = true;
};

// The whole of a regular file of at most `limit` bytes; nothing when there is no such file.
// Another kind of file fails with EISDIR or EINVAL, a larger one with EFBIG. Opened without
// blocking, so a FIFO in the file's place cannot stall the caller.
std::optional<std::string> readSmallFile(const std::filesystem::path& path, std::size_t limit,
                                         SmallFileRead options = {});

// Replaces `path` by `content`: the bytes go to `temporaryName` in the same folder, created
// exclusively with mode 0600 (never wider, not even for a moment), are flushed to disk and
// renamed over `path`. After a failure the old file is as it was and the temporary is gone.
void replaceFileAtomically(const std::filesystem::path& path, std::string_view content,
                           const std::string& temporaryName,
                           const FileOperations& operations = FileOperations::system());

}  // namespace quotalume
