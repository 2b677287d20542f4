#include <quotalume/preferences/settings.hpp>
#include <quotalume/support/bounded_json.hpp>

#include <gtest/gtest.h>

#include <string>

namespace quotalume {
namespace {

using Bytes = PreferencesStore::Bytes;

Bytes bytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

std::string nested(std::size_t depth) {
    return std::string(depth, '[') + std::string(depth, ']');
}

TEST(SettingsTest, SavedRecordsRoundTripExactly) {
    MemoryPreferencesStore store;
    EXPECT_EQ(Settings::load(store), Settings{});
    for (const Settings& settings :
         {Settings{7, false, false, true, "/opt/my tools/codex", "~/work/.codex"},
          Settings{1000, true, false, false, "", ""}, Settings{}}) {
        settings.save(store);
        EXPECT_EQ(Settings::load(store), settings) << settings.codexPath;
    }
}

TEST(SettingsTest, AnyMismatchFallsBackToTheWholeDefaultRecord) {
    const std::string valid =
        R"("refreshInterval":60,"notificationsEnabled":false,"notificationSound":false,)"
        R"("webhookEnabled":true,"codexPath":"/usr/local/bin/codex","codexHome":"/srv/codex")";
    const Settings stored{60, false, false, true, "/usr/local/bin/codex", "/srv/codex"};
    const struct {
        std::string blob;
        bool loads;
    } cases[] = {
        {"{" + valid + "}", true},
        // Written by a newer version: unknown keys are ignored, however shaped.
        {"{" + valid + R"(,"theme":{"accent":[1,2]},"later":)" + nested(maximumJSONDepth - 1) + "}",
         true},
        {R"({"refreshInterval":60,"notificationsEnabled":false,"notificationSound":false,)"
         R"("webhookEnabled":true,"codexPath":"/usr/local/bin/codex"})",
         false},
        {"{" + valid + R"(,"codexHome":null})", false},
        {R"({"refreshInterval":"60",)" + valid.substr(valid.find(',') + 1) + "}", false},
        {R"({"refreshInterval":60,"notificationsEnabled":1,)" +
             valid.substr(valid.find("\"notificationSound")) + "}",
         false},
        {"[" + valid + "]", false},
        {"{" + valid, false},
        {"", false},
        {"{" + valid + ",\"codexPath\":\"\xC3\x28\"}", false},
        {"{" + valid + R"(,"later":)" + nested(maximumJSONDepth) + "}", false},
        {"{" + valid + ",\"padding\":\"" + std::string(1 << 17, ' ') + "\"}", false},
    };
    for (const auto& c : cases) {
        MemoryPreferencesStore store;
        store.setData("settings", bytes(c.blob));
        EXPECT_EQ(Settings::load(store), c.loads ? stored : Settings{}) << c.blob.substr(0, 120);
        // Loading never repairs what it could not read.
        EXPECT_EQ(store.data("settings"), bytes(c.blob));
    }
    MemoryPreferencesStore asText;
    asText.setString("settings", "{" + valid + "}");
    EXPECT_EQ(Settings::load(asText), Settings{});
}

}  // namespace
}  // namespace quotalume
