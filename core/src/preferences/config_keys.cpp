#include <quotalume/preferences/config_keys.hpp>

#include <quotalume/codex/codex_locator.hpp>
#include <quotalume/l10n/app_language.hpp>
#include <quotalume/l10n/l10n.hpp>
#include <quotalume/preferences/settings.hpp>
#include <quotalume/presentation/menu_bar_style.hpp>
#include <quotalume/reset/limit_warning.hpp>
#include <quotalume/schedule/refresh_schedule.hpp>
#include <quotalume/support/quotalume_error.hpp>
#include <quotalume/support/text.hpp>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <utility>
#include <vector>

namespace quotalume {
namespace {

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

// A Codex executable or home the window would accept, trimmed; the settings record is not
// stored at all when its text is not UTF-8. Only the half being set is checked (as Save and
// Connect checks each field): with both halves gone stale, checking the pair would refuse every
// repair made one key at a time. A pair that cannot be read together is reported on connecting.
std::string usablePath(std::string_view key, std::string_view value) {
    if (repairingUTF8(value)) {
        refuse(key, "a path in UTF-8");
    }
    std::string path(trimmed(value));
    try {
        if (key == "codex.path") {
            (void)CodexLocator::executable(path, std::vector<std::string>{});
        } else {
            (void)CodexLocator::home(path);
        }
    } catch (const QuotalumeError& error) {
        const LocalizedMessage reason = error.userMessage();
        throw ConfigError(std::string(key) + " cannot be used: " +
                              L10n::render(reason.key, reason.arguments, AppLanguage::english),
                          reason);
    }
    return path;
}

template <typename Choices>
auto chosen(std::string_view key, const Choices& choices, std::string_view value) {
    const std::string word = asciiLowercased(value);
    const auto found = std::find_if(choices.begin(), choices.end(),
                                    [&](auto choice) { return word == rawValue(choice); });
    if (found == choices.end()) {
        refuse(key, oneOf(choices));
    }
    return *found;
}

// Where a key's value is stored: each group is written whole.
enum class Group { settings, warnings, style, scope, language, sources, trayAccount, metrics };

// One key: its name, where it is stored, how it reads and how it validates and takes a value.
struct Key {
    std::string_view name;
    Group group;
    std::string (*read)(const Preferences&);
    void (*take)(Preferences&, std::string_view key, std::string_view value);
    bool listed = true;  // by `config list`
};

// A source's executable and home are checked as Save and Connect checks them, but only when
// new: one whose folder has gone since must not keep every other source from being changed.
std::vector<AccountSource> usableSources(const Preferences& p, std::string_view key,
                                         std::string_view value) {
    auto parsed = p.sources.parseOthers(value);
    if (!parsed) {
        refuse(key, "a JSON list of at most " + std::to_string(AccountSources::maximum - 1) +
                        " sources, each with a label of 1 to " +
                        std::to_string(AccountSources::longestLabel) +
                        " characters no other source has, a codexHome and a codexPath");
    }
    // Each stored source vouches for one entry of the list (a renamed or moved one), never two.
    std::vector<bool> vouched(p.sources.others.size(), false);
    for (AccountSource& source : *parsed) {
        const auto& known = p.sources.others;
        bool unchanged = false;
        for (std::size_t i = 0; i < known.size() && !unchanged; ++i) {
            unchanged = !vouched[i] && known[i].codexHome == source.codexHome &&
                        known[i].codexPath == source.codexPath;
            vouched[i] = vouched[i] || unchanged;
        }
        if (!unchanged) {
            source.codexHome = usablePath("codex.home", source.codexHome);
            if (!source.codexPath.empty()) {
                source.codexPath = usablePath("codex.path", source.codexPath);
            }
        }
    }
    return std::move(*parsed);
}

// A check that refuses with std::invalid_argument, as a refusal of `key`.
template <typename Check>
std::string checked(std::string_view key, Check check, std::string_view value) {
    try {
        return check(value);
    } catch (const std::invalid_argument& refused) {
        refuse(key, refused.what());
    }
}

const std::array<Key, 20> table = {{
    {"codex.path", Group::settings, [](const Preferences& p) { return p.settings.codexPath; },
     [](Preferences& p, std::string_view key, std::string_view value) {
         p.settings.codexPath = usablePath(key, value);
     }},
    {"codex.home", Group::settings, [](const Preferences& p) { return p.settings.codexHome; },
     [](Preferences& p, std::string_view key, std::string_view value) {
         p.settings.codexHome = usablePath(key, value);
     }},
    {"refresh.interval", Group::settings,
     [](const Preferences& p) { return intervalText(p.settings.refreshInterval); },
     [](Preferences& p, std::string_view key, std::string_view value) {
         p.settings.refreshInterval = parseInterval(key, value);
     }},
    {"notifications.enabled", Group::settings,
     [](const Preferences& p) { return flagText(p.settings.notificationsEnabled); },
     [](Preferences& p, std::string_view key, std::string_view value) {
         p.settings.notificationsEnabled = requiredFlag(key, value);
     }},
    {"notifications.sound", Group::settings,
     [](const Preferences& p) { return flagText(p.settings.notificationSound); },
     [](Preferences& p, std::string_view key, std::string_view value) {
         p.settings.notificationSound = requiredFlag(key, value);
     }},
    {"webhook.enabled", Group::settings,
     [](const Preferences& p) { return flagText(p.settings.webhookEnabled); },
     [](Preferences& p, std::string_view key, std::string_view value) {
         p.settings.webhookEnabled = requiredFlag(key, value);
     }},
    {"webhook.warnings", Group::warnings,
     [](const Preferences& p) { return flagText(p.warnings.webhook); },
     [](Preferences& p, std::string_view key, std::string_view value) {
         p.warnings.webhook = requiredFlag(key, value);
     }},
    {"warnings.levels", Group::warnings,
     [](const Preferences& p) {
         return p.warnings.levels.empty() ? std::string("none") : p.warnings.levelsText();
     },
     [](Preferences& p, std::string_view key, std::string_view value) {
         auto levels = WarningPreferences::parseLevels(value);
         if (!levels) {
             refuse(key,
                    "levels of what is left, separated by commas, from 50, 25, 10 and 5 "
                    "(none for no level)");
         }
         p.warnings.levels = std::move(*levels);
     }},
    {"warnings.forecast", Group::warnings,
     [](const Preferences& p) { return flagText(p.warnings.forecast); },
     [](Preferences& p, std::string_view key, std::string_view value) {
         p.warnings.forecast = requiredFlag(key, value);
     }},
    {"warnings.reset_moved", Group::warnings,
     [](const Preferences& p) { return flagText(p.warnings.resetMoved); },
     [](Preferences& p, std::string_view key, std::string_view value) {
         p.warnings.resetMoved = requiredFlag(key, value);
     }},
    {"warnings.credit_not_applied", Group::warnings,
     [](const Preferences& p) { return flagText(p.warnings.creditNotApplied); },
     [](Preferences& p, std::string_view key, std::string_view value) {
         p.warnings.creditNotApplied = requiredFlag(key, value);
     }},
    {"warnings.buckets", Group::warnings,
     [](const Preferences& p) { return p.warnings.bucketsText(); },
     [](Preferences& p, std::string_view key, std::string_view value) {
         if (!p.warnings.parseBuckets(value)) {
             refuse(key,
                    "bucket ids separated by commas, all for every bucket, or nothing for the "
                    "Codex bucket only");
         }
     }},
    {MetricsPreferences::textfileKey, Group::metrics,
     [](const Preferences& p) { return p.metrics.textfile; },
     [](Preferences& p, std::string_view key, std::string_view value) {
         p.metrics.textfile = checked(key, MetricsPreferences::checkedTextfile, value);
     }},
    {MetricsPreferences::listenKey, Group::metrics,
     [](const Preferences& p) { return p.metrics.listen; },
     [](Preferences& p, std::string_view key, std::string_view value) {
         p.metrics.listen = checked(key, MetricsPreferences::checkedListen, value);
     }},
    {"language", Group::language,
     [](const Preferences& p) { return std::string(rawValue(p.language)); },
     [](Preferences& p, std::string_view key, std::string_view value) {
         auto language = appLanguageFromTag(value);
         if (!language) {
             refuse(key, oneOf(allAppLanguages) + " (locale names such as de_DE.UTF-8 work too)");
         }
         p.language = *language;
     }},
    {"tray.style", Group::style,
     [](const Preferences& p) { return std::string(rawValue(p.style)); },
     [](Preferences& p, std::string_view key, std::string_view value) {
         p.style = chosen(key, allMenuBarStyles, value);
     }},
    {"tray.scope", Group::scope,
     [](const Preferences& p) { return std::string(rawValue(p.scope)); },
     [](Preferences& p, std::string_view key, std::string_view value) {
         p.scope = chosen(key, allMenuBarScopes, value);
     }},
    {Preferences::trayAccountKey, Group::trayAccount,
     [](const Preferences& p) { return p.trayAccount; },
     [](Preferences& p, std::string_view key, std::string_view value) {
         const std::string_view wanted = trimmed(value);
         if (asciiLowercased(wanted) == Preferences::closestAccount) {
             p.trayAccount = std::string(Preferences::closestAccount);
         } else if (wanted.empty() || p.sources.find(wanted)) {
             p.trayAccount = std::string(wanted);
         } else {
             refuse(key, "the label of a source, closest, or nothing for the first source");
         }
     },
     false},
    {AccountSources::labelKey, Group::sources,
     [](const Preferences& p) { return p.sources.firstLabel; },
     [](Preferences& p, std::string_view key, std::string_view value) {
         if (auto problem = AccountSources::labelProblem(value)) {
             refuse(key, *problem);
         }
         const auto found = p.sources.find(value);
         if (found && *found != 0) {
             refuse(key, "a label no other source has");
         }
         p.sources.firstLabel = std::string(trimmed(value));
     },
     false},
    {AccountSources::listKey, Group::sources,
     [](const Preferences& p) { return p.sources.othersText(); },
     [](Preferences& p, std::string_view key, std::string_view value) {
         p.sources.others = usableSources(p, key, value);
         p.sources.unreadList.reset();
     },
     false},
}};

constexpr std::size_t listedKeys = static_cast<std::size_t>(
    std::count_if(table.begin(), table.end(), [](const Key& key) { return key.listed; }));

constexpr std::array<std::string_view, listedKeys> names = [] {
    std::array<std::string_view, listedKeys> list{};
    std::size_t next = 0;
    for (const Key& key : table) {
        if (key.listed) {
            list[next++] = key.name;
        }
    }
    return list;
}();

const Key& entry(std::string_view key) {
    const auto found = std::find_if(table.begin(), table.end(),
                                    [&](const Key& known) { return known.name == key; });
    if (found == table.end()) {
        throw ConfigError("unknown key '" + std::string(key) + "'; the keys are " +
                          listed(names, [](std::string_view name) { return name; }));
    }
    return *found;
}

}  // namespace

std::span<const std::string_view> configKeys() {
    return names;
}

std::span<const std::string_view> storedKeys() {
    static constexpr std::array<std::string_view, table.size()> every = [] {
        std::array<std::string_view, table.size()> list{};
        for (std::size_t i = 0; i < table.size(); ++i) {
            list[i] = table[i].name;
        }
        return list;
    }();
    return every;
}

void checkConfigValue(std::string_view key, std::string_view value) {
    (void)entry(key);
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

Preferences Preferences::load(const PreferencesStore& store) {
    const auto language = store.string(std::string(L10n::preferenceKey));
    return {
        .settings = Settings::load(store),
        .warnings = WarningPreferences::load(store),
        .style = loadMenuBarStyle(store),
        .scope = loadMenuBarScope(store),
        .language = appLanguageFromRawValue(language.value_or("")).value_or(AppLanguage::system),
        .sources = AccountSources::load(store),
        .trayAccount = store.string(std::string(trayAccountKey)).value_or(""),
        .metrics = MetricsPreferences::load(store)};
}

void Preferences::save(PreferencesStore& store, std::span<const std::string_view> keys) const {
    std::array<bool, 8> written{};
    for (std::string_view key : keys) {
        const Group group = entry(key).group;
        if (std::exchange(written[static_cast<std::size_t>(group)], true)) {
            continue;
        }
        switch (group) {
            case Group::settings:
                settings.save(store);
                break;
            case Group::warnings:
                warnings.save(store);
                break;
            case Group::style:
                quotalume::save(style, store);
                break;
            case Group::scope:
                quotalume::save(scope, store);
                break;
            case Group::language:
                store.setString(std::string(L10n::preferenceKey), std::string(rawValue(language)));
                break;
            case Group::sources:
                sources.save(store);
                break;
            case Group::metrics:
                metrics.save(store);
                break;
            case Group::trayAccount:
                if (trayAccount.empty()) {
                    store.remove(std::string(trayAccountKey));
                } else {
                    store.setString(std::string(trayAccountKey), trayAccount);
                }
                break;
        }
    }
}

std::string Preferences::value(std::string_view key) const {
    return entry(key).read(*this);
}

void Preferences::set(std::string_view key, std::string_view value) {
    checkConfigValue(key, value);
    Preferences next = *this;
    entry(key).take(next, key, value);
    *this = std::move(next);
}

std::vector<std::string_view> Preferences::changedKeys(const Preferences& other) const {
    std::vector<std::string_view> changed;
    for (const Key& key : table) {
        if (key.read(*this) != key.read(other)) {
            changed.push_back(key.name);
        }
    }
    return changed;
}

}  // namespace quotalume
