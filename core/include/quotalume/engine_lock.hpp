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
// `quotalume-cli watch`), so two engines never write one state file. An flock on
// <folder>/engine.lock: it goes with the process however that ends, and no child inherits it.
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

    EngineLock(EngineLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    EngineLock& operator=(EngineLock&& other) noexcept {
        std::swap(fd_, other.fd_);  // the other closes what was ours
        return *this;
    }
    EngineLock(const EngineLock&) = delete;
    EngineLock& operator=(const EngineLock&) = delete;
    ~EngineLock();

private:
    explicit EngineLock(int fd) : fd_(fd) {}
    int fd_;
};

}  // namespace quotalume
