#pragma once

#include <quotalume/json_decoding_error.hpp>
#include <quotalume/l10n.hpp>
#include <quotalume/localized_message.hpp>
#include <quotalume/preferences_store.hpp>
#include <quotalume/reset_event.hpp>

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

namespace quotalume {

inline void PrintTo(const LocalizedMessage& message, std::ostream* out) {
    *out << message.key;
    for (const auto& argument : message.arguments) {
        *out << " " << argument;
    }
}

namespace test {

// Pins the interface language for the lifetime of the object, whatever the machine's locale.
class InterfaceLanguage {
public:
    explicit InterfaceLanguage(AppLanguage language = AppLanguage::english)
        : scope_(std::make_shared<MemoryPreferencesStore>()) {
        L10n::setPreference(language);
    }

private:
    ScopedStandardPreferences scope_;
};

// 2026-03-01T08:15:00Z, the moment of the sample event.
inline Date sampleTime() {
    return dateFromUnixSeconds(1772352900);
}

// The test event at sampleTime() plus three quarters of a second, with a fixed id.
inline ResetEvent sampleEvent() {
    ResetEvent event = ResetEvent::test(sampleTime() + std::chrono::milliseconds(750));
    event.id = "0F8FAD5B-D9CB-469F-A165-70867728950E";
    return event;
}

// What the user would be shown for the failure `operation` throws; "no failure" when it throws
// nothing.
inline LocalizedMessage failureOf(const std::function<void()>& operation) {
    try {
        operation();
    } catch (...) {
        return LocalizedMessage::from(std::current_exception());
    }
    return "no failure";
}

// The code of the JSONDecodingError `operation` throws; nullopt when it throws nothing. Any
// other exception passes through and fails the test.
inline std::optional<int> decodingErrorOf(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const JSONDecodingError& error) {
        return error.code();
    }
    return std::nullopt;
}

}  // namespace test
}  // namespace quotalume
