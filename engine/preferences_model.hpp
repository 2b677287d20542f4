#pragma once

#include "observers.hpp"

#include <quotalume/l10n/localized_message.hpp>
#include <quotalume/preferences/config_keys.hpp>
#include <quotalume/preferences/preferences_store.hpp>

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quotalume {

// The user's preferences as the engine, the settings pages and `quotalume-cli config` see them:
// read from the store once, changed only through here, each change stored at once and told by
// the names of the keys whose values really changed.
class PreferencesModel {
public:
    // Told once a change, with every key it changed, in table order.
    using Changed = std::function<void(std::span<const std::string_view> keys)>;

    // `stores` false keeps every change in memory (a demonstration) but the interface language,
    // which reaches every text through the store (a copy in memory in a demonstration).
    explicit PreferencesModel(PreferencesStore& store, bool stores = true);

    const Preferences& current() const { return current_; }
    const Settings& settings() const { return current_.settings; }
    const WarningPreferences& warnings() const { return current_.warnings; }
    MenuBarStyle style() const { return current_.style; }
    MenuBarScope scope() const { return current_.scope; }
    AppLanguage language() const { return current_.language; }
    std::string value(std::string_view key) const { return current_.value(key); }

    // One key by name, validated as the table says. A refused value throws ConfigError and a
    // store that cannot write throws its error; either way nothing changes.
    void set(std::string_view key, std::string_view value);
    // Takes `next` whole. A value that cannot be stored still applies for this run, and
    // warning() says it will not survive a restart until every value is stored.
    void change(const Preferences& next);
    void setSettings(const Settings& next) { changeOne(&Preferences::settings, next); }
    void setWarnings(const WarningPreferences& next) { changeOne(&Preferences::warnings, next); }
    void setStyle(MenuBarStyle next) { changeOne(&Preferences::style, next); }
    void setScope(MenuBarScope next) { changeOne(&Preferences::scope, next); }
    void setLanguage(AppLanguage next) { changeOne(&Preferences::language, next); }
    // Takes up what another process stored, as if chosen here.
    void reload();

    std::unique_ptr<Subscription> subscribe(Changed changed) {
        return observers_.add(std::move(changed));
    }
    // A file that could not be read, or values that could not be stored.
    const std::optional<LocalizedMessage>& warning() const { return warning_; }

private:
    template <typename Value>
    void changeOne(Value Preferences::*field, const Value& next) {
        Preferences changed = current_;
        changed.*field = next;
        change(changed);
    }
    // Stores the keys of `values` (every key while a warning stands); throws what the store
    // throws.
    void store(const Preferences& values, std::span<const std::string_view> keys);

    PreferencesStore& store_;
    const bool stores_;
    Preferences current_;
    std::optional<LocalizedMessage> warning_;
    Observers<std::span<const std::string_view>> observers_;
};

}  // namespace quotalume
