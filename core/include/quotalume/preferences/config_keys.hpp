#pragma once

#include <quotalume/l10n/app_language.hpp>
#include <quotalume/l10n/localized_message.hpp>
#include <quotalume/preferences/account_sources.hpp>
#include <quotalume/preferences/metrics_preferences.hpp>
#include <quotalume/preferences/preferences_store.hpp>
#include <quotalume/preferences/settings.hpp>
#include <quotalume/presentation/menu_bar_style.hpp>
#include <quotalume/reset/limit_warning.hpp>

#include <cstddef>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quotalume {

// The preferences a user may read and change by name ("refresh.interval", "tray.style", …).
// The settings window, the command-line companion and the engine share this one table, so
// each accepts exactly what the others can store. Credentials are not among
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

// Every key, in the order `config list` shows them. The keys of several sources are left out,
// so one source lists what it always listed: "source.label" and "sources" (`config sources`
// shows and changes them) and "tray.account" (`config get` and `config set` take it).
std::span<const std::string_view> configKeys();
// Every key, those left out of `config list` too.
std::span<const std::string_view> storedKeys();

// No key takes a longer value: a path fits with room to spare, and a change handed to a running
// engine fits its request line.
inline constexpr std::size_t longestConfigValue = 3072;

// What no key takes, whatever its value: an unknown key, a value longer than
// longestConfigValue, or one with a control character (C0 or DEL) within it; white space
// around a value is the key's to trim. Throws ConfigError. Preferences::set checks this first;
// a caller checks it before handing the change to another process.
void checkConfigValue(std::string_view key, std::string_view value);

// codex.path and codex.home: a change to them is confirmed by reading the limits with the new
// source, as the settings window does after saving it.
bool isCodexSourceKey(std::string_view key);

// Every preference a user can change, as one value. Each key of the table reads and validates
// its own field; the stored layout is the groups' own (the "settings" record, the warning keys,
// "appearance.*").
struct Preferences {
    Settings settings;
    WarningPreferences warnings;
    MenuBarStyle style = MenuBarStyle::percentage;
    MenuBarScope scope = MenuBarScope::both;
    AppLanguage language = AppLanguage::system;
    AccountSources sources;
    // The source the tray shows: a label, "closest" (the one closest to running out) or empty
    // for the first.
    std::string trayAccount;
    MetricsPreferences metrics;

    static constexpr std::string_view trayAccountKey = "tray.account";
    static constexpr std::string_view closestAccount = "closest";

    static Preferences load(const PreferencesStore& store);
    // Stores the groups that hold `keys`, each once. The only place preferences are written;
    // throws what the store throws.
    void save(PreferencesStore& store, std::span<const std::string_view> keys) const;
    // Every key, stored whole.
    void saveAll(PreferencesStore& store) const { save(store, storedKeys()); }

    // The key's value as set takes it back: "true"/"false", whole seconds, a raw name
    // ("bars_percentage", "zh-Hans", "system"), or a path ("" for automatic). Throws ConfigError
    // for an unknown key.
    std::string value(std::string_view key) const;
    // The value a key has before anything is stored.
    static std::string defaultValue(std::string_view key) { return Preferences{}.value(key); }
    // Validates `value` for `key` and takes it. Flags take true/false, on/off, yes/no or 1/0 in
    // any letter case; the language any form appLanguageFromTag knows. A Codex executable or
    // home is trimmed and refused, as Save and Connect refuses it, unless it exists now (so a
    // blank executable is refused: nothing would find one). Throws ConfigError and changes
    // nothing when the key or value is refused.
    void set(std::string_view key, std::string_view value);
    // The keys whose values differ, in table order.
    std::vector<std::string_view> changedKeys(const Preferences& other) const;

    friend bool operator==(const Preferences&, const Preferences&) = default;
};

}  // namespace quotalume
