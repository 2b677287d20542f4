#include "cli_runner.hpp"

#include <sys/stat.h>

namespace quotalume {
namespace {

using nlohmann::json;
using test::runCLI;

// What `history` makes of a state file; a stored history is read back in the watch suite.
TEST(HistoryCommandTest, MissingUnreadableAndCorruptStateFiles) {
    const std::string unreadable = "cli.history_unreadable";
    const struct {
        const char* name;
        const char* content;  // nullptr: no file
        bool asJSON;
        int exitCode;
        const char* expected;  // the key of the message, or the output
        std::string data = "data";
    } cases[] = {
        {"no file is no history", nullptr, true, 0, "[]\n"},
        {"broken JSON", "{\"records\": [", false, 1, nullptr},
        {"a record of the wrong shape", R"({"detector":{"observations":{}},"records":[1]})", true,
         1, nullptr},
        {"in a folder whose name is not UTF-8", "{", true, 1, nullptr, "data\xff"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir home;
        const std::string file = c.data + "/Quotalume/state.json";
        if (c.content) {
            home.write(file, c.content);
        }
        auto run = runCLI(test::joined({"history", "--lang", "en"},
                                       c.asJSON ? test::Strings{"--json"} : test::Strings{}),
                          home, "", {"XDG_DATA_HOME=" + home.str() + "/" + c.data});
        EXPECT_EQ(run.exitCode, c.exitCode);
        if (c.expected) {
            EXPECT_EQ(run.output, c.expected);
        } else if (c.asJSON) {
            EXPECT_EQ(json::parse(run.output)["error"]["key"], unreadable) << run.output;
        } else {
            EXPECT_EQ(run.output,
                      "quotalume-cli: " +
                          L10n::text(unreadable, home.str() + "/" + file, AppLanguage::english) +
                          "\n");
        }
        // A reader leaves the file for the engine and the user to deal with.
        EXPECT_EQ(home.read(file), c.content ? c.content : "");
    }
}

// With the webhook on, the engine's warning of an unusable configuration is the reader's too.
TEST(HistoryCommandTest, AWebhookConfigurationThatCannotBeUsedIsNamed) {
    test::TempDir home;
    FilePreferencesStore preferences(home.path() / "config/Quotalume/defaults.json");
    Settings{.webhookEnabled = true}.save(preferences);
    const auto file = home.write("data/Quotalume/webhook.json",
                                 R"({"bearerToken":"t","format":"json","signingSecret":"",)"
                                 R"("url":"https://example.com/hook"})");
    ::chmod(file.c_str(), 0644);
    EXPECT_EQ(runCLI({"history", "--lang", "en"}, home),
              (test::CLIRun{
                  0, "quotalume-cli: " +
                         L10n::text("error.config_shared", file.string(), AppLanguage::english) +
                         "\nNo resets detected yet.\n"}));
}

}  // namespace
}  // namespace quotalume
