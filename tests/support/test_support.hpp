#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include <quotalume/l10n/l10n.hpp>
#include <quotalume/l10n/localized_message.hpp>
#include <quotalume/preferences/preferences_store.hpp>
#include <quotalume/reset/reset_event.hpp>
#include <quotalume/support/json_decoding_error.hpp>
#include <quotalume/support/private_file.hpp>
#include <quotalume/usage/usage_snapshot.hpp>

#include <nlohmann/json.hpp>

namespace quotalume {

inline void PrintTo(const LocalizedMessage& message, std::ostream* out) {
    *out << message.key;
    for (const auto& argument : message.arguments) {
        *out << " " << argument;
    }
}

}  // namespace quotalume

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
    // Makes the folders on the way.
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
    std::vector<std::string> receivedLines() const;
    std::vector<nlohmann::json> receivedMessages() const;
    nlohmann::json launchInfo() const;
    // The fake's process id once it has started (waiting up to 10 s), else 0.
    pid_t launchedPid() const;
    // How often Codex was started here: each start sends "initialize" first.
    std::size_t starts() const;
};

// Sets (nullptr: unsets) a variable for its lifetime; each test runs in a process of its own.
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

// A getenv over `variables`, for code that takes its environment as a function.
std::function<const char*(const char*)> environmentOf(std::map<std::string, std::string> variables);

class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask);
    ~ScopedUmask();
    ScopedUmask(const ScopedUmask&) = delete;
    ScopedUmask& operator=(const ScopedUmask&) = delete;

private:
    mode_t previous_;
};

// Stores `language` as the interface language in the standard preferences, as the settings
// window would.
inline void chooseLanguage(AppLanguage language) {
    PreferencesStore::standard()->setString(std::string(L10n::preferenceKey),
                                            std::string(rawValue(language)));
}

// Pins the interface language for the lifetime of the object, whatever the machine's locale.
class InterfaceLanguage {
public:
    explicit InterfaceLanguage(AppLanguage language = AppLanguage::english)
        : scope_(std::make_shared<MemoryPreferencesStore>()) {
        chooseLanguage(language);
    }

private:
    ScopedStandardPreferences scope_;
};

// 2026-03-01T08:15:00Z, the moment of the sample event.
inline Date sampleTime() {
    return dateFromUnixSeconds(1772352900);
}

// 7.9 s after sampleTime(): whole seconds are cut, not rounded, so every timestamp is 1772352907.
inline Date sampleDeliveryTime() {
    return sampleTime() + std::chrono::milliseconds(7900);
}

// The test event at sampleTime() plus three quarters of a second, with a fixed id.
inline ResetEvent sampleEvent() {
    ResetEvent event = ResetEvent::test(sampleTime() + std::chrono::milliseconds(750));
    event.id = "0F8FAD5B-D9CB-469F-A165-70867728950E";
    return event;
}

// What the user would be shown for the failure `operation` throws, or "no failure".
inline LocalizedMessage failureOf(const std::function<void()>& operation) {
    try {
        operation();
    } catch (...) {
        return LocalizedMessage::from(std::current_exception());
    }
    return "no failure";
}

// The code of the JSONDecodingError `operation` throws, or nullopt; others fail the test.
inline std::optional<int> decodingErrorOf(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const JSONDecodingError& error) {
        return error.code();
    }
    return std::nullopt;
}

mode_t modeOf(const std::filesystem::path& path);
// The names in a folder, sorted.
std::vector<std::string> entriesOf(const std::filesystem::path& directory);
// The errno of the std::system_error an operation throws; 0 when it throws nothing.
int errnoOf(const std::function<void()>& operation);

struct WriteFault {
    const char* name;
    FileOperations operations;
    int error;
};
// Each step of a replacement failing as disks do.
std::vector<WriteFault> writeFaults();

// A window of a reading: percent used, and when it resets in Unix seconds.
struct WindowReading {
    std::optional<double> used;
    std::optional<double> resetsAt;
};
// A Codex reading at `observedAt` (Unix s): five-hour window primary, weekly secondary, if given.
UsageSnapshot reading(double observedAt, std::optional<WindowReading> fiveHour,
                      std::optional<WindowReading> weekly = std::nullopt,
                      std::string account = "acct");

// HMAC-SHA256 in lower-case hex, computed with OpenSSL directly rather than our own code.
std::string hmacSHA256Hex(const std::string& key, const std::string& message);

#if defined(__SANITIZE_ADDRESS__)
#define QUOTALUME_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUOTALUME_UNDER_ASAN 1
#endif
#endif
#ifdef QUOTALUME_UNDER_ASAN
constexpr bool underAddressSanitizer = true;
#else
constexpr bool underAddressSanitizer = false;
#endif
// Live heap bytes: malloc's count, or the sanitizer's, which malloc cannot see, under ASan.
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
