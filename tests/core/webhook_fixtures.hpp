#pragma once

#include <quotalume/l10n.hpp>
#include <quotalume/preferences_store.hpp>
#include <quotalume/quotalume_error.hpp>
#include <quotalume/reset_event.hpp>

#include <memory>
#include <optional>
#include <string>

namespace quotalume::testing {

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

// The key of the QuotalumeError the call throws, or nullopt when it throws nothing.
template <typename Call>
std::optional<std::string> webhookErrorKey(Call call) {
    try {
        call();
    } catch (const QuotalumeError& error) {
        return error.userMessage().key;
    }
    return std::nullopt;
}

}  // namespace quotalume::testing
