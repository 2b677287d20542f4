#pragma once

#include <quotalume/localized_message.hpp>
#include <quotalume/preferences_store.hpp>

#include <cstddef>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quotalume {

// The preferences a user may read and change by name ("refresh.interval", "tray.style", …)
// outside the settings window. The command-line companion and the engine share this one
// table, so both accept exactly what the settings window can store. Credentials are not among
// them: they live in the webhook configuration, never in the preferences.

// An unknown key, or a value its key refuses. what() is English and names the key and what it
// accepts, never the value given. For a Codex source that cannot be used, `reason()` also
// holds the message the settings window shows for it.
class ConfigError : public std::invalid_argument {
public:
    explicit ConfigError(const std::string& what, std::optional<LocalizedMessage> reason = {})
        : std::invalid_argument(what), reason_(std::move(reason)) {}

    const std::optional<LocalizedMessage>& reason() const { return reason_; }

private:
    std::optional<LocalizedMessage> reason_;
};

// Every key, in the order `config list` shows them.
std::span<const std::string_view> configKeys();

// No key takes a longer value: a path fits with room to spare, and a change handed to a running
// engine fits its request line.
inline constexpr std::size_t longestConfigValue = 3072;

// What no key takes, whatever its value: an unknown key, a value longer than
// longestConfigValue, or one with a control character (C0 or DEL) within it; white space
// around a value is the key's to trim. Throws ConfigError. setConfig checks this first; a
// caller checks it before handing the change to another process.
void checkConfigValue(std::string_view key, std::string_view value);

// The key's value as setConfig takes it back: "true"/"false", whole seconds, a raw name
// ("bars_percentage", "zh-Hans", "system"), or a path ("" for automatic). Throws ConfigError
// for an unknown key.
std::string configValue(const PreferencesStore& store, std::string_view key);

// Validates `value` for `key` and stores it in the form the tray app reads. Flags take
// true/false, on/off, yes/no or 1/0 in any letter case; the language any form
// appLanguageFromTag knows. A Codex executable or home is trimmed and refused, as Save and
// Connect refuses it, unless it exists now (so a blank executable is refused: nothing would
// find one). Throws ConfigError and writes nothing when the key or value is refused; throws
// what the store throws when it cannot write.
void setConfig(PreferencesStore& store, std::string_view key, std::string_view value);

// codex.path and codex.home: a change to them is confirmed by reading the limits with the new
// source, as the settings window does after saving it.
bool isCodexSourceKey(std::string_view key);

}  // namespace quotalume
