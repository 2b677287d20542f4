#include <quotalume/config_keys.hpp>

#include <quotalume/app_language.hpp>
#include <quotalume/codex_locator.hpp>
#include <quotalume/l10n.hpp>
#include <quotalume/limit_warning.hpp>
#include <quotalume/menu_bar_style.hpp>
#include <quotalume/quotalume_error.hpp>
#include <quotalume/refresh_schedule.hpp>
#include <quotalume/settings.hpp>
#include <quotalume/text.hpp>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <vector>

namespace quotalume {
namespace {

constexpr std::array<std::string_view, 12> keys = {
    "codex.path",          "codex.home",      "refresh.interval", "notifications.enabled",
    "notifications.sound", "webhook.enabled", "webhook.warnings", "warnings.levels",
    "warnings.forecast",   "language",        "tray.style",       "tray.scope",
};

[[noreturn]] void refuse(std::string_view key, std::string_view accepted) {
    throw ConfigError(std::string(key) + " takes " + std::string(accepted));
}

template <typename Values, typename Name>
std::string listed(const Values& values, Name name) {
    std::string list;
    for (const auto& value : values) {
        list += (list.empty() ? "" : ", ") + std::string(name(value));
    }
    return list;
}

template <typename Values>
std::string oneOf(const Values& values) {
    return "one of " + listed(values, [](auto value) { return rawValue(value); });
}

void requireKey(std::string_view key) {
    if (std::find(keys.begin(), keys.end(), key) == keys.end()) {
        throw ConfigError("unknown key '" + std::string(key) + "'; the keys are " +
                          listed(keys, [](std::string_view name) { return name; }));
    }
}

std::string flagText(bool value) {
    return value ? "true" : "false";
}

std::optional<bool> parseFlag(std::string_view text) {
    const std::string word = asciiLowercased(text);
    if (word == "true" || word == "on" || word == "yes" || word == "1") {
        return true;
    }
    if (word == "false" || word == "off" || word == "no" || word == "0") {
        return false;
    }
    return std::nullopt;
}

bool requiredFlag(std::string_view key, std::string_view value) {
    auto flag = parseFlag(value);
    if (!flag) {
        refuse(key, "true or false (also on/off, yes/no, 1/0)");
    }
    return *flag;
}

// Whole seconds for what the settings window stores; anything else stored (by hand, or by a
// later version) is shown as it is rather than rounded into a value it is not.
std::string intervalText(double seconds) {
    if (std::isfinite(seconds) && seconds == std::floor(seconds) && std::fabs(seconds) < 1e15) {
        return std::to_string(static_cast<long long>(seconds));
    }
    return nlohmann::json(seconds).dump();
}

double parseInterval(std::string_view key, std::string_view text) {
    const auto low = static_cast<int>(RefreshSchedule::shortestInterval);
    const auto high = static_cast<int>(RefreshSchedule::longestInterval);
    int seconds = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (error != std::errc() || end != text.data() + text.size() || seconds < low ||
        seconds > high) {
        refuse(key, "a whole number of seconds from " + std::to_string(low) + " to " +
                        std::to_string(high));
    }
    return seconds;
}

// The settings record with one field changed; the Codex source only when it can be used.
void setSettings(PreferencesStore& store, std::string_view key, std::string_view value) {
    Settings next = Settings::load(store);
    if (key == "refresh.interval") {
        next.refreshInterval = parseInterval(key, value);
    } else if (key == "codex.path" || key == "codex.home") {
        // The settings record is not stored at all when its text is not UTF-8.
        if (repairingUTF8(value)) {
            refuse(key, "a path in UTF-8");
        }
        // Only the half being set is checked (as Save and Connect checks each field): with both
        // halves gone stale, checking the pair would refuse every repair made one key at a time.
        // A pair that cannot be read together is reported on connecting.
        const std::string path(trimmed(value));
        try {
            if (key == "codex.path") {
                (void)CodexLocator::executable(path, std::vector<std::string>{});
                next.codexPath = path;
            } else {
                (void)CodexLocator::home(path);
                next.codexHome = path;
            }
        } catch (const QuotalumeError& error) {
            const LocalizedMessage reason = error.userMessage();
            throw ConfigError(std::string(key) + " cannot be used: " +
                                  L10n::render(reason.key, reason.arguments, AppLanguage::english),
                              reason);
        }
    } else {
        (key == "notifications.enabled" ? next.notificationsEnabled
         : key == "notifications.sound" ? next.notificationSound
                                        : next.webhookEnabled) = requiredFlag(key, value);
    }
    next.save(store);
}

}  // namespace

std::span<const std::string_view> configKeys() {
    return keys;
}

void checkConfigValue(std::string_view key, std::string_view value) {
    requireKey(key);
    if (value.size() > longestConfigValue) {
        throw ConfigError("the value for " + std::string(key) + " is too long (" +
                          std::to_string(value.size()) + " bytes); no key takes more than " +
                          std::to_string(longestConfigValue));
    }
    // A line feed stored in a path would print as a line of its own in `config list`.
    if (hasControlCharacter(trimmed(value))) {
        refuse(key, "no control characters (such as a line feed or a tab) within its value");
    }
}

bool isCodexSourceKey(std::string_view key) {
    return key == "codex.path" || key == "codex.home";
}

std::string configValue(const PreferencesStore& store, std::string_view key) {
    requireKey(key);
    const Settings settings = Settings::load(store);
    if (key == "codex.path") {
        return settings.codexPath;
    }
    if (key == "codex.home") {
        return settings.codexHome;
    }
    if (key == "refresh.interval") {
        return intervalText(settings.refreshInterval);
    }
    if (key == "notifications.enabled") {
        return flagText(settings.notificationsEnabled);
    }
    if (key == "notifications.sound") {
        return flagText(settings.notificationSound);
    }
    if (key == "webhook.enabled") {
        return flagText(settings.webhookEnabled);
    }
    const WarningPreferences warnings = WarningPreferences::load(store);
    if (key == "warnings.levels") {
        return warnings.levels.empty() ? "none" : warnings.levelsText();
    }
    if (key == "warnings.forecast") {
        return flagText(warnings.forecast);
    }
    if (key == "webhook.warnings") {
        return flagText(warnings.webhook);
    }
    if (key == "language") {
        auto stored = store.string(std::string(L10n::preferenceKey));
        return std::string(
            rawValue(appLanguageFromRawValue(stored.value_or("")).value_or(AppLanguage::system)));
    }
    if (key == "tray.style") {
        return rawValue(loadMenuBarStyle(store));
    }
    return rawValue(loadMenuBarScope(store));
}

void setConfig(PreferencesStore& store, std::string_view key, std::string_view value) {
    checkConfigValue(key, value);
    if (key == "language") {
        auto language = appLanguageFromTag(value);
        if (!language) {
            refuse(key, oneOf(allAppLanguages) + " (locale names such as de_DE.UTF-8 work too)");
        }
        store.setString(std::string(L10n::preferenceKey), std::string(rawValue(*language)));
    } else if (key == "warnings.levels" || key == "warnings.forecast" ||
               key == "webhook.warnings") {
        WarningPreferences warnings = WarningPreferences::load(store);
        if (key == "warnings.levels") {
            auto levels = WarningPreferences::parseLevels(value);
            if (!levels) {
                refuse(key,
                       "levels of what is left, separated by commas, from 50, 25, 10 and 5 "
                       "(none for no level)");
            }
            warnings.levels = std::move(*levels);
        } else {
            (key == "warnings.forecast" ? warnings.forecast : warnings.webhook) =
                requiredFlag(key, value);
        }
        warnings.save(store);
    } else if (key == "tray.style") {
        auto style = menuBarStyleFromRaw(asciiLowercased(value));
        if (!style) {
            refuse(key, oneOf(allMenuBarStyles));
        }
        save(*style, store);
    } else if (key == "tray.scope") {
        const std::string raw = asciiLowercased(value);
        const auto scope = std::find_if(allMenuBarScopes.begin(), allMenuBarScopes.end(),
                                        [&](MenuBarScope known) { return raw == rawValue(known); });
        if (scope == allMenuBarScopes.end()) {
            refuse(key, oneOf(allMenuBarScopes));
        }
        save(*scope, store);
    } else {
        setSettings(store, key, value);
    }
}

}  // namespace quotalume
