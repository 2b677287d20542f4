#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>

namespace quotalume {

// Who runs the engine: written into the lock file by its holder, so others can say who it is.
struct EngineHolder {
    long long pid = 0;
    std::string program;           // "quotalume" or "quotalume-cli watch"
    std::string runtimeDirectory;  // its $XDG_RUNTIME_DIR; another one means another session
    std::string socket;            // where it serves its readings; empty when it does not

    friend bool operator==(const EngineHolder&, const EngineHolder&) = default;
};

// Held by whichever process runs the monitoring engine on a data folder (the tray app or
// `quotalume-cli watch`), so two engines never write one state file. An flock on the folder
// itself, which nobody can delete or replace while we hold it, and one on <folder>/engine.lock,
// which older builds check and views read the holder from. Both go with the process however it
// ends, and no child inherits them.
class EngineLock {
public:
    static constexpr const char* fileName = "engine.lock";

    // The lock, or nothing while another process holds it. The folder is created 0700 when
    // missing and the file 0600; std::system_error when either cannot be opened or locked.
    // Once held, `self` is written into the file (when it can be written).
    static std::optional<EngineLock> acquire(const std::filesystem::path& directory,
                                             const EngineHolder& self = {});
    // What the lock file says of its holder; nothing when it says nothing usable. Only
    // meaningful while the lock is held: a holder that ended leaves its record behind.
    static std::optional<EngineHolder> holder(const std::filesystem::path& directory);

    // Puts the lock file back when somebody deleted or replaced it, so views find us again;
    // the folder's lock kept us the engine meanwhile. False when it cannot be put back.
    bool keepLockFile(const std::filesystem::path& directory, const EngineHolder& self);

    EngineLock(EngineLock&& other) noexcept
        : folderFd_(std::exchange(other.folderFd_, -1)), fd_(std::exchange(other.fd_, -1)) {}
    EngineLock& operator=(EngineLock&& other) noexcept {
        std::swap(folderFd_, other.folderFd_);  // the other closes what was ours
        std::swap(fd_, other.fd_);
        return *this;
    }
    EngineLock(const EngineLock&) = delete;
    EngineLock& operator=(const EngineLock&) = delete;
    ~EngineLock();

private:
    EngineLock(int folderFd, int fd) : folderFd_(folderFd), fd_(fd) {}
    int folderFd_;
    int fd_;
};

}  // namespace quotalume
