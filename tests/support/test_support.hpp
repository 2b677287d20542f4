#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <quotalume/private_file.hpp>

#include <nlohmann/json.hpp>

namespace quotalume::test {

// A fresh directory under the system temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }
    std::filesystem::path write(const std::string& name, std::string_view content) const;
    std::string read(const std::string& name) const;

private:
    std::filesystem::path path_;
};

// A Codex home for the fake app-server: the script it follows, and what it saw.
class FakeCodexHome : public TempDir {
public:
    explicit FakeCodexHome(std::string_view script = "serve");

    static std::string executable();
    // The lines the fake received, in order.
    std::vector<std::string> receivedLines() const;
    std::vector<nlohmann::json> receivedMessages() const;
    nlohmann::json launchInfo() const;
};

// Sets (or with nullptr unsets) an environment variable for its lifetime. Each test runs in a
// process of its own, so this stays within the test that uses it.
class ScopedEnvironment {
public:
    ScopedEnvironment(std::string name, const char* value);
    ScopedEnvironment(std::string name, const std::string& value)
        : ScopedEnvironment(std::move(name), value.c_str()) {}
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::string name_;
    std::optional<std::string> previous_;
};

class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask);
    ~ScopedUmask();
    ScopedUmask(const ScopedUmask&) = delete;
    ScopedUmask& operator=(const ScopedUmask&) = delete;

private:
    mode_t previous_;
};

// Permission bits of a file or folder.
mode_t modeOf(const std::filesystem::path& path);
// The names in a folder, sorted.
std::vector<std::string> entriesOf(const std::filesystem::path& directory);
// The errno of the std::system_error an operation throws; 0 when it throws nothing.
int errnoOf(const std::function<void()>& operation);

// A way for an atomic replacement to fail, with the errno it reports.
struct WriteFault {
    const char* name;
    FileOperations operations;
    int error;
};
// Every step of a replacement failing as disks do: the temporary refused (EACCES, EROFS), a
// full disk, a write that makes no progress, the fsync, the rename. `broken`, when given,
// switches the faults on and off; otherwise they are always on.
std::vector<WriteFault> writeFaults(std::shared_ptr<const bool> broken = nullptr);

// HMAC-SHA256 in lower-case hex, computed with OpenSSL directly rather than our own code.
std::string hmacSHA256Hex(const std::string& key, const std::string& message);

#if defined(__SANITIZE_ADDRESS__)
constexpr bool underAddressSanitizer = true;
#elif defined(__has_feature)
constexpr bool underAddressSanitizer = __has_feature(address_sanitizer);
#else
constexpr bool underAddressSanitizer = false;
#endif
// Bytes the allocator has handed out and not had back: malloc's count, or the sanitizer's
// under AddressSanitizer (whose allocator malloc's statistics do not see).
std::size_t liveHeapBytes();

int openDescriptorCount();
// True while this process has any child, running or zombie.
bool hasChildren();
// True while `pid` is a process that has not ended (a zombie has ended).
bool processAlive(pid_t pid);
// Waits up to `limit` for `condition`, looking every few milliseconds; its last answer.
bool eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds limit = std::chrono::seconds(10));

}  // namespace quotalume::test
