#include "test_support.hpp"

#include <quotalume/l10n/app_language.hpp>
#include <quotalume/l10n/l10n.hpp>
#include <quotalume/preferences/config_keys.hpp>
#include <quotalume/preferences/settings.hpp>
#include <quotalume/presentation/menu_bar_style.hpp>
#include <quotalume/reset/limit_warning.hpp>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <array>

#include <string>
#include <vector>

namespace quotalume {
namespace {

using test::FakeCodexHome;

std::string configValue(const PreferencesStore& store, std::string_view key) {
    return Preferences::load(store).value(key);
}

// As `quotalume-cli config set` stores one key: validated, then its group written.
void setConfig(PreferencesStore& store, std::string_view key, std::string_view value) {
    Preferences preferences = Preferences::load(store);
    preferences.set(key, value);
    preferences.save(store, std::array{key});
}

std::vector<std::string> listing(const PreferencesStore& store) {
    std::vector<std::string> lines;
    for (std::string_view key : configKeys()) {
        lines.push_back(std::string(key) + "=" + configValue(store, key));
    }
    return lines;
}

TEST(ConfigKeysTest, EveryKeyIsStoredInTheFormTheTrayAppReads) {
    FakeCodexHome codex;
    MemoryPreferencesStore store;
    EXPECT_EQ(listing(store),
              (std::vector<std::string>{
                  "codex.path=", "codex.home=", "refresh.interval=30", "notifications.enabled=true",
                  "notifications.sound=true", "webhook.enabled=false", "webhook.warnings=false",
                  "warnings.levels=25,10", "warnings.forecast=true", "warnings.reset_moved=true",
                  "warnings.credit_not_applied=true",
                  "warnings.buckets=", "metrics.textfile=", "metrics.listen=", "language=system",
                  "tray.style=percentage", "tray.scope=both"}));
    const std::pair<const char*, std::string> changes[] = {
        {"codex.path", " " + codex.executable() + "\n"},
        {"codex.home", codex.str() + "/"},
        {"refresh.interval", "300"},
        {"notifications.enabled", "OFF"},
        {"notifications.sound", "no"},
        {"webhook.enabled", "Yes"},
        {"webhook.warnings", "on"},
        {"warnings.levels", "5, 50"},
        {"warnings.forecast", "0"},
        {"warnings.reset_moved", "off"},
        {"warnings.credit_not_applied", "no"},
        {"warnings.buckets", " codex_bengalfox , codex,codex_bengalfox"},
        {"metrics.textfile", " /var/lib/node-exporter/./quotalume.prom "},
        {"metrics.listen", "9464"},
        {"language", "pt_BR.UTF-8"},
        {"tray.style", "Rings_Percentage"},
        {"tray.scope", "5H"},
    };
    for (const auto& [key, value] : changes) {
        setConfig(store, key, value);
    }
    EXPECT_EQ(Settings::load(store),
              (Settings{300, false, false, true, codex.executable(), codex.str() + "/"}));
    EXPECT_EQ(store.string(std::string(L10n::preferenceKey)), "pt-BR");
    EXPECT_EQ(loadMenuBarStyle(store), MenuBarStyle::ringsPercentage);
    EXPECT_EQ(loadMenuBarScope(store), MenuBarScope::fiveHour);
    EXPECT_EQ(listing(store)[2], "refresh.interval=300");
    EXPECT_EQ(listing(store)[5], "webhook.enabled=true");
    EXPECT_EQ(WarningPreferences::load(store),
              (WarningPreferences{.levels = {50, 5},
                                  .forecast = false,
                                  .webhook = true,
                                  .resetMoved = false,
                                  .creditNotApplied = false,
                                  .buckets = {"codex_bengalfox", "codex"}}));
    EXPECT_EQ(listing(store)[11], "warnings.buckets=codex_bengalfox,codex");
    EXPECT_EQ(listing(store)[12], "metrics.textfile=/var/lib/node-exporter/quotalume.prom");
    EXPECT_EQ(listing(store)[13], "metrics.listen=127.0.0.1:9464");
    setConfig(store, "metrics.listen", "[::1]:9100");
    EXPECT_EQ(store.string("metrics.listen"), "[::1]:9100");
    setConfig(store, "warnings.buckets", "ALL");
    EXPECT_EQ(listing(store)[11], "warnings.buckets=all");
    EXPECT_EQ(listing(store)[7], "warnings.levels=50,5");
    setConfig(store, "warnings.levels", "NONE");
    EXPECT_EQ(listing(store)[7], "warnings.levels=none");

    // Each value shown is one setConfig takes back unchanged; the bounds are inclusive.
    setConfig(store, "refresh.interval", "15");
    const auto shown = listing(store);
    for (std::string_view key : configKeys()) {
        setConfig(store, key, configValue(store, key));
    }
    EXPECT_EQ(listing(store), shown);
}

TEST(ConfigKeysTest, ARefusedKeyOrValueNamesWhatIsAcceptedAndWritesNothing) {
    test::TempDir home;
    const auto path = home.path() / "defaults.json";
    FilePreferencesStore store(path);
    setConfig(store, "refresh.interval", "60");
    const std::string before = home.read("defaults.json");
    const std::tuple<const char*, std::string, std::string, std::string> rows[] = {
        {"unknown key", "webhook.token", "secret",
         "unknown key 'webhook.token'; the keys are "
         "codex.path, codex.home, refresh.interval"},
        {"interval too short", "refresh.interval", "14", "from 15 to 300"},
        {"a level that cannot be chosen", "warnings.levels", "25,20", "from 50, 25, 10 and 5"},
        {"not a flag", "warnings.forecast", "sometimes", "true or false"},
        {"an empty bucket id", "warnings.buckets", "codex,,spark",
         "bucket ids separated by commas"},
        {"a bucket id too long", "warnings.buckets", std::string(65, 'b'),
         "bucket ids separated by commas"},
        {"interval too long", "refresh.interval", "301", "from 15 to 300"},
        {"interval not a number", "refresh.interval", "abc", "from 15 to 300"},
        {"interval not whole", "refresh.interval", "30.5", "from 15 to 300"},
        {"interval with a sign", "refresh.interval", "+30", "from 15 to 300"},
        {"bad flag", "notifications.sound", "maybe", "notifications.sound takes true or false"},
        {"bad language", "language", "klingon", "language takes one of system, en, zh-Hans"},
        {"older style", "tray.style", "stacked", "percentage, bars, bars_percentage, rings"},
        {"bad scope", "tray.scope", "weekly", "tray.scope takes one of 5h, 7d, both"},
        {"relative executable", "codex.path", "bin/codex", "codex.path cannot be used"},
        {"blank executable", "codex.path", " ", "codex.path cannot be used"},
        {"missing home", "codex.home", home.str() + "/nowhere", "codex.home cannot be used"},
        {"path not UTF-8", "codex.home", home.str() + "/\xff", "codex.home takes a path in UTF-8"},
        {"a byte too long for any key", "language", std::string(3073, 'a'),
         "the value for language is too long (3073 bytes); no key takes more than 3072"},
        {"as long as a key takes, for the key to judge", "language", std::string(3072, 'a'),
         "language takes one of"},
        {"an escape within a home", "codex.home", home.str() + "\x1b[2J",
         "codex.home takes no control characters"},
        {"a delete after a word", "tray.scope", "5h\x7f", "tray.scope takes no control characters"},
        {"a metrics file node_exporter ignores", "metrics.textfile", "/tmp/quotalume.txt",
         "metrics.textfile takes an absolute path in UTF-8 to a file whose name ends in .prom"},
        {"a relative metrics file", "metrics.textfile", "quotalume.prom", "ends in .prom"},
        {"a metrics file named .prom alone", "metrics.textfile", "/tmp/.prom", "ends in .prom"},
        {"a port beyond the range", "metrics.listen", "65536", "metrics.listen takes a port"},
        {"a host name, never looked up", "metrics.listen", "example.com:9464",
         "metrics.listen takes a port"},
    };
    for (const auto& [name, key, value, message] : rows) {
        SCOPED_TRACE(name);
        try {
            setConfig(store, key, value);
            ADD_FAILURE() << "accepted";
        } catch (const ConfigError& error) {
            const std::string what = error.what();
            EXPECT_NE(what.find(message), std::string::npos) << what;
            // The value is never repeated: it may be a credential typed in the wrong place.
            EXPECT_TRUE(value == " " || what.find(value) == std::string::npos) << what;
            // A source the window would refuse carries the window's own words for it.
            EXPECT_EQ(error.reason().has_value(), message.ends_with("cannot be used"));
        }
        EXPECT_EQ(home.read("defaults.json"), before);
    }
    EXPECT_THROW(configValue(store, "Language"), ConfigError);
}

// A list a later version wrote (or one damaged) watches the first source alone, and renaming the
// first keeps it for that version; a list saved here replaces it.
TEST(ConfigKeysTest, ASourcesListThatCannotBeReadIsKeptUntilOneIsSaved) {
    test::TempDir dir;
    MemoryPreferencesStore store;
    const std::string later = R"([{"label":"Work","codexHome":"/w","codexPath":"","kind":7}, 1])";
    store.setString("sources", later);
    Preferences preferences = Preferences::load(store);
    EXPECT_FALSE(preferences.sources.several());
    preferences.set("source.label", "Personal");
    preferences.save(store, std::array<std::string_view, 1>{"source.label"});
    EXPECT_EQ(store.string("sources"), later);
    EXPECT_EQ(store.string("source.label"), "Personal");
    preferences.set("sources",
                    R"([{"label":"Work","codexHome":")" + dir.str() + R"(","codexPath":""}])");
    preferences.save(store, std::array<std::string_view, 1>{"sources"});
    EXPECT_EQ(Preferences::load(store).sources.others.size(), 1u);
}

// A source is checked as Save and Connect checks it unless it is one already stored: renamed or
// moved, never a second copy of one whose folder has gone since.
TEST(ConfigKeysTest, ASourceLikeAStoredOneIsCheckedAfresh) {
    test::TempDir dir;
    const auto home = dir.path() / "work";
    std::filesystem::create_directories(home);
    Preferences preferences;
    const auto entry = [&](const char* label) {
        return nlohmann::json{{"label", label}, {"codexHome", home.string()}, {"codexPath", ""}};
    };
    preferences.set("sources", nlohmann::json::array({entry("Work")}).dump());
    std::filesystem::remove(home);
    EXPECT_NO_THROW(preferences.set("sources", nlohmann::json::array({entry("Office")}).dump()))
        << "renamed: not checked again";
    EXPECT_THROW(
        preferences.set("sources", nlohmann::json::array({entry("Office"), entry("Copy")}).dump()),
        ConfigError);
    EXPECT_EQ(preferences.sources.others.size(), 1u);
}

}  // namespace
}  // namespace quotalume
