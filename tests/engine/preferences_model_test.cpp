#include "preferences_model.hpp"
#include "monitor_fakes.hpp"
#include "test_support.hpp"

#include <quotalume/l10n/l10n.hpp>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <system_error>
#include <vector>

namespace quotalume {
namespace {

using Store = test::CountingPreferences;

// Every change told, as the lists of keys it named.
struct Told {
    explicit Told(PreferencesModel& model)
        : subscription(model.subscribe([this](std::span<const std::string_view> keys) {
              changes.emplace_back(keys.begin(), keys.end());
          })) {}
    std::vector<std::vector<std::string_view>> changes;
    std::unique_ptr<Subscription> subscription;
};

using Keys = std::vector<std::string_view>;

TEST(PreferencesModelTest, EachRealChangeIsStoredAndToldByTheKeysItChanged) {
    test::InterfaceLanguage english;
    Store store;
    PreferencesModel model(store);
    Told told(model);

    const struct {
        const char* name;
        std::function<void()> change;
        Keys keys;
    } rows[] = {
        {"one setting", [&] { model.set("refresh.interval", "60"); }, {"refresh.interval"}},
        {"the same value again", [&] { model.set("refresh.interval", "60"); }, {}},
        {"a record with two fields changed",
         [&] {
             Settings next = model.settings();
             next.notificationSound = false;
             next.webhookEnabled = true;
             model.setSettings(next);
         },
         {"notifications.sound", "webhook.enabled"}},
        {"the record unchanged", [&] { model.setSettings(model.settings()); }, {}},
        {"warnings",
         [&] { model.setWarnings({.levels = {50}, .forecast = true}); },
         {"warnings.levels"}},
        {"the look", [&] { model.setStyle(MenuBarStyle::rings); }, {"tray.style"}},
        {"the look unchanged", [&] { model.setScope(MenuBarScope::both); }, {}},
        {"the language", [&] { model.setLanguage(AppLanguage::german); }, {"language"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        told.changes.clear();
        const int writes = store.writes;
        row.change();
        if (row.keys.empty()) {
            EXPECT_TRUE(told.changes.empty());
            EXPECT_EQ(store.writes, writes) << "an unchanged choice writes nothing";
        } else {
            EXPECT_EQ(told.changes, std::vector<Keys>{row.keys});
            EXPECT_GT(store.writes, writes);
        }
    }
    // Stored where the tray app and the companion read them.
    const Preferences stored = Preferences::load(store);
    EXPECT_EQ(stored, model.current());
    EXPECT_EQ(stored.value("refresh.interval"), "60");
    EXPECT_EQ(stored.value("warnings.levels"), "50");
    EXPECT_EQ(store.string(std::string(L10n::preferenceKey)), "de");
}

TEST(PreferencesModelTest, ARefusedValueOrAFailedWriteChangesNothingWhenSetByName) {
    Store store;
    PreferencesModel model(store);
    Told told(model);
    EXPECT_THROW(model.set("refresh.interval", "14"), ConfigError);
    EXPECT_THROW(model.set("webhook.token", "secret"), ConfigError);
    EXPECT_EQ(store.writes, 0);

    store.failure = EACCES;
    EXPECT_THROW(model.set("tray.scope", "7d"), std::system_error);
    EXPECT_EQ(model.scope(), MenuBarScope::both) << "what could not be stored is not taken";
    EXPECT_TRUE(told.changes.empty());
    EXPECT_EQ(Preferences::defaultValue("tray.scope"), "both");
}

TEST(PreferencesModelTest, AnotherProcessesChangeIsTakenUpWithoutWritingItBack) {
    Store store;
    PreferencesModel model(store);
    Told told(model);
    Preferences elsewhere = Preferences::load(store);
    elsewhere.set("codex.home", test::TempDir().str());
    elsewhere.set("warnings.forecast", "false");
    elsewhere.saveAll(store);
    const int writes = store.writes;

    model.reload();
    EXPECT_EQ(told.changes, (std::vector<Keys>{{"codex.home", "warnings.forecast"}}));
    EXPECT_EQ(model.current(), elsewhere);
    model.reload();
    EXPECT_EQ(told.changes.size(), 1u) << "nothing changed since";
    EXPECT_EQ(store.writes, writes);
}

TEST(PreferencesModelTest, ADemonstrationKeepsItsChoicesInMemoryButTheLanguage) {
    test::InterfaceLanguage english;
    Store store;
    Preferences stored;
    stored.settings.refreshInterval = 120;
    stored.style = MenuBarStyle::bars;
    stored.saveAll(store);
    const int writes = store.writes;

    PreferencesModel model(store, /*stores=*/false);
    EXPECT_EQ(model.settings(), Settings{}) << "nothing of the user's but the look";
    EXPECT_EQ(model.style(), MenuBarStyle::bars);
    model.setStyle(MenuBarStyle::rings);
    model.setSettings({.refreshInterval = 45});
    EXPECT_EQ(model.style(), MenuBarStyle::rings);
    EXPECT_EQ(store.writes, writes);
    model.setLanguage(AppLanguage::japanese);
    EXPECT_EQ(store.writes, writes + 1) << "every text reads the language from the store";
    EXPECT_EQ(Preferences::load(store).settings.refreshInterval, 120);
}

}  // namespace
}  // namespace quotalume
