#include "cli_runner.hpp"
#include "test_support.hpp"

#include <quotalume/child_process.hpp>
#include <quotalume/l10n.hpp>
#include <quotalume/preferences_store.hpp>
#include <quotalume/settings.hpp>
#include <quotalume/usage_snapshot.hpp>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

namespace quotalume {
namespace {

using nlohmann::json;
using test::FakeCodexHome;

using test::runCLI;

TEST(StatusCommandTest, PrintsTheSnapshotAsJson) {
    FakeCodexHome codex;
    codex.write(
        "rate_limits.json",
        R"({"accountId":"x","rateLimits":{"planType":"pro","primary":{"usedPercent":24,"windowDurationMins":300,"resetsAt":1900000000},
                    "secondary":{"usedPercent":5,"windowDurationMins":10080,"resetsAt":1900000000000},
                    "credits":{"hasCredits":true,"unlimited":false,"balance":"128.50"}}})");
    auto run = runCLI(
        {"status", "--json", "--codex", codex.executable(), "--codex-home=" + codex.str()}, codex);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    json output = json::parse(run.output);
    const json& snapshot = output.at("snapshot");
    EXPECT_EQ(snapshot["accountFingerprint"], UsageSnapshot::fingerprint(codex.str() + ":x"));
    EXPECT_TRUE(parseISO8601(snapshot["observedAt"].get<std::string>()));
    EXPECT_EQ(snapshot["buckets"][0]["primary"]["usedPercent"], 24);
    // One form for every time, whatever Codex sent.
    EXPECT_EQ(snapshot["buckets"][0]["primary"]["resetsAt"], "2030-03-17T17:46:40Z");
    EXPECT_FALSE(snapshot["buckets"][0]["secondary"].contains("resetsAt"));
    EXPECT_EQ(snapshot["buckets"][0]["credits"]["balance"], "128.50");
    EXPECT_EQ(run.output.back(), '\n');
    EXPECT_EQ(run.output.find('\n'), run.output.size() - 1) << "one line";
}

TEST(StatusCommandTest, FailuresBecomeErrorObjectsAndExitOne) {
    FakeCodexHome notSignedIn;
    notSignedIn.write("account.json", R"({"account":null})");
    FakeCodexHome crashing("read\nexit 9\n");
    // Each kind of failure (the session's, the locator's) has its own suite; here only the
    // error object they become.
    const struct {
        std::vector<std::string> arguments;
        json error;
    } cases[] = {
        {{"--codex", notSignedIn.executable(), "--codex-home", notSignedIn.str()},
         {{"key", "error.login"}, {"arguments", json::array()}}},
        {{"--codex", "codex", "--codex-home", crashing.str()},
         {{"key", "error.executable"}, {"arguments", json::array()}}},
        // Automatic mode finds no executable on Linux.
        {{"--codex", "", "--codex-home", crashing.str()},
         {{"key", "error.executable"}, {"arguments", json::array()}}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments = {"status", "--json"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        auto run = runCLI(arguments, crashing);
        EXPECT_EQ(run.exitCode, 1) << run.output;
        json output = json::parse(run.output);
        // What codex this machine has installed is no concern here.
        output["error"].erase("suggestions");
        EXPECT_EQ(output["error"]["message"],
                  L10n::text(c.error["key"].get<std::string>(), AppLanguage::english));
        output["error"].erase("message");
        EXPECT_EQ(output, json({{"error", c.error}})) << run.output;
    }
    auto german = runCLI({"status", "--json", "--lang", "de", "--codex", "codex"}, crashing);
    EXPECT_EQ(json::parse(german.output)["error"]["message"],
              L10n::text("error.executable", AppLanguage::german));
}

TEST(StatusCommandTest, TheSavedSourceIsUsedUnlessAnOptionReplacesIt) {
    FakeCodexHome saved, other;
    auto preferences = [&](const FakeCodexHome& home) {
        return FilePreferencesStore(home.path() / "config/Quotalume/defaults.json");
    };
    auto source = preferences(saved);
    Settings{.codexPath = saved.executable(), .codexHome = saved.str()}.save(source);
    auto corrupt = preferences(other);
    corrupt.setData("settings", {'{', '}'});
    const struct {
        const FakeCodexHome& home;
        std::vector<std::string> options;
        const char* errorKey;  // nullptr: read through the `used` home
        const FakeCodexHome* used;
    } cases[] = {
        {saved, {}, nullptr, &saved},
        {saved, {"--codex-home", other.str()}, nullptr, &other},
        // An empty option means automatic detection, which finds nothing on Linux.
        {saved, {"--codex="}, "error.executable", nullptr},
        // A record that does not decode is the defaults: automatic.
        {other, {}, "error.executable", nullptr},
        {other, {"--codex", saved.executable(), "--codex-home", saved.str()}, nullptr, &saved},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(saved.path() / "received");
        std::filesystem::remove(other.path() / "received");
        std::vector<std::string> arguments = {"status", "--json"};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        auto output = json::parse(runCLI(arguments, c.home).output);
        if (c.errorKey) {
            EXPECT_EQ(output["error"]["key"], c.errorKey) << output;
        } else {
            EXPECT_TRUE(output.contains("snapshot")) << output;
            EXPECT_FALSE(c.used->receivedLines().empty());
        }
    }
}

TEST(StatusCommandTest, WithoutAChosenExecutableItNamesTheCodexItFinds) {
    test::TempDir home;
    home.write("codex-home/.keep", "");
    std::filesystem::create_directories(home.path() / "tools");
    const std::string found = home.write("tools/codex", "#!/bin/sh\n").string();
    std::filesystem::permissions(found, std::filesystem::perms::owner_all);
    const std::vector<std::string> automatic = {"status", "--lang", "en", "--codex-home",
                                                home.str() + "/codex-home"};
    const std::vector<std::string> onPath = {"PATH=" + home.str() + "/tools:/usr/bin:/bin"};
    const std::string foundHint = "Found codex at " + found + " — pass --codex " + found +
                                  " or choose it in Settings › Source.\n";
    const struct {
        std::vector<std::string> options, environment;
        std::string expected;  // after the error line
    } cases[] = {
        {{}, onPath, foundHint},
        {{"--codex", " "}, onPath, foundHint},
        {{},
         {},
         "Pass --codex PATH to name the codex executable, or choose it in Settings › Source.\n"},
        // A chosen executable that fails is the user's to mend: no guesses.
        {{"--codex", home.str() + "/missing"}, onPath, ""},
    };
    for (const auto& c : cases) {
        auto arguments = automatic;
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        auto run = runCLI(arguments, home, "", c.environment);
        EXPECT_EQ(run.exitCode, 1);
        // A codex installed on this machine may add lines; ours comes first, from the PATH.
        const std::string error =
            "quotalume-cli: " + L10n::text("error.executable", AppLanguage::english) + "\n";
        EXPECT_EQ(run.output.substr(0, error.size() + c.expected.size()), error + c.expected);
    }
    auto json = json::parse(runCLI({"status", "--json", "--codex="}, home, "", onPath).output);
    EXPECT_EQ(json["error"]["suggestions"][0], found);
}

TEST(StatusCommandTest, UsageErrorsExitTwoAndHelpExitsZero) {
    test::TempDir home;
    const struct {
        std::vector<std::string> arguments;
        const char* pointsTo;  // the help the message sends the user to
    } mistakes[] = {
        {{}, nullptr},
        {{"frobnicate"}, "quotalume-cli --help"},
        {{"help", "frobnicate"}, nullptr},
        {{"status", "--bogus"}, "quotalume-cli status --help"},
        {{"status", "--timeout"}, "quotalume-cli status --help"},
        {{"status", "--timeout", "soon"}, "quotalume-cli status --help"},
        {{"status", "--timeout", "nan"}, "quotalume-cli status --help"},
    };
    for (const auto& c : mistakes) {
        auto run = runCLI(c.arguments, home);
        EXPECT_EQ(run.exitCode, 2) << run.output;
        if (c.pointsTo) {
            EXPECT_NE(run.output.find(std::string("Try '") + c.pointsTo + "'."), std::string::npos)
                << run.output;
        }
    }
    auto help = runCLI({"status", "--help"}, home);
    EXPECT_EQ(help.exitCode, 0);
    for (const char* option : {"--json", "--codex", "--codex-home", "--timeout", "ISO 8601"}) {
        EXPECT_NE(help.output.find(option), std::string::npos) << option;
    }
    EXPECT_EQ(runCLI({"help", "status"}, home).output, help.output);
    EXPECT_EQ(runCLI({"help", "webhook"}, home).output, runCLI({"webhook", "--help"}, home).output);
    EXPECT_EQ(runCLI({"--help"}, home).exitCode, 0);
    auto version = runCLI({"--version"}, home);
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(std::regex_match(version.output, std::regex(R"(quotalume-cli \d+\.\d+\.\d+\n)")))
        << version.output;
}

TEST(StatusCommandTest, DemoShowsTheTrayLineWindowsAndCredits) {
    test::TempDir home;
    auto run = runCLI({"status", "--demo", "--lang", "en"}, home);
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output,
              "5H 76% · 7D 61%\n"
              "  5-hour limit: 76% · Resets in 2 h 8 min\n"
              "  Weekly limit: 61% · Resets in 2 d 16 h\n"
              "  Credits: 128.5\n");
    auto german = runCLI({"status", "--demo", "--lang=de"}, home);
    EXPECT_NE(german.output.find("128,5"), std::string::npos) << german.output;
    EXPECT_NE(german.output.find("5-Stunden-Limit"), std::string::npos) << german.output;
    // Language codes as people type them, and locale names.
    for (const char* code : {"DE", "de_DE.UTF-8"}) {
        EXPECT_EQ(runCLI({"status", "--demo", "--lang", code}, home).output, german.output) << code;
    }
    EXPECT_EQ(runCLI({"status", "--demo", "--lang", "zh_TW"}, home).output,
              runCLI({"status", "--demo", "--lang", "zh-Hant"}, home).output);
    auto refused = runCLI({"status", "--demo", "--lang", "klingon"}, home);
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_NE(refused.output.find("system, en, zh-Hans, zh-Hant, ja"), std::string::npos)
        << refused.output;
}

TEST(StatusCommandTest, WithoutItsTablesItSaysWhereItLookedAndSpeaksEnglish) {
    test::TempDir home;
    auto run = runCLI({"status", "--demo", "--lang", "de"}, home, "",
                      {"QUOTALUME_RESOURCES=" + home.str() + "/nowhere"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(run.output, "quotalume-cli: no translation tables in " + home.str() +
                              "/nowhere/l10n; messages are in English\n"
                              "5H 76% · 7D 61%\n"
                              "  5-hour limit: 76% · Resets in 2 h 8 min\n"
                              "  Weekly limit: 61% · Resets in 2 d 16 h\n"
                              "  Credits: 128.5\n");
}

TEST(StatusCommandTest, StoppedBySignalItLeavesNoCodexBehind) {
    for (int number : {SIGINT, SIGTERM, SIGHUP}) {
        FakeCodexHome codex("holder\nhang\n");
        test::TempDir home;
        ChildProcess cli({.executable = QUOTALUME_CLI,
                          .arguments = {"status", "--codex", codex.executable(), "--codex-home",
                                        codex.str(), "--timeout", "60"},
                          .environment = {"HOME=" + home.str(), "PATH=/usr/bin:/bin"},
                          .workingDirectory = home.str()});
        ASSERT_TRUE(test::eventually([&] {
            return std::filesystem::exists(codex.path() / "holder.pid") &&
                   !codex.read("holder.pid").empty();
        }));
        const pid_t child = codex.launchInfo()["pid"].get<pid_t>();
        const pid_t holder = std::stoi(codex.read("holder.pid"));
        ::kill(cli.pid(), number);
        ASSERT_TRUE(cli.waitForExit(std::chrono::seconds(30)));
        EXPECT_EQ(cli.exitCode(), 128 + number) << "it should die of the signal";
        for (pid_t pid : {child, holder}) {
            EXPECT_TRUE(test::eventually([&] { return !test::processAlive(pid); }))
                << pid << " outlived quotalume-cli, signal " << number;
        }
    }
}

TEST(StatusCommandTest, WaybarModuleJson) {
    test::TempDir home;
    auto demo = runCLI({"status", "--demo", "--waybar", "--lang", "en"}, home);
    ASSERT_EQ(demo.exitCode, 0);
    json module = json::parse(demo.output);
    EXPECT_EQ(module["text"], "5H 76% · 7D 61%");
    EXPECT_EQ(module["class"], "normal");
    EXPECT_EQ(module["percentage"], 61);
    EXPECT_EQ(module["tooltip"],
              "5-hour limit: 76% · Resets in 2 h 8 min\nWeekly limit: 61% · Resets in 2 d 16 h\n"
              "Credits: 128.5");

    FakeCodexHome codex;
    codex.write("rate_limits.json",
                R"({"rateLimits":{"primary":{"usedPercent":80.5,"windowDurationMins":300},
                    "secondary":{"usedPercent":55,"windowDurationMins":10080}}})");
    auto low = runCLI(
        {"status", "--waybar", "--codex", codex.executable(), "--codex-home", codex.str()}, codex);
    ASSERT_EQ(low.exitCode, 0) << low.output;
    module = json::parse(low.output);
    EXPECT_EQ(module["class"], "critical");
    EXPECT_EQ(module["percentage"], 19);

    // waybar takes text and tooltip as Pango markup: a bare "<" would blank the module.
    codex.write("rate_limits.json",
                R"({"rateLimits":{"primary":{"usedPercent":99.5,"windowDurationMins":300},
                    "secondary":{"usedPercent":10,"windowDurationMins":10080}}})");
    module = json::parse(
        runCLI({"status", "--waybar", "--codex", codex.executable(), "--codex-home", codex.str()},
               codex)
            .output);
    EXPECT_EQ(module["text"], "5H &lt;1% · 7D 90%");
    EXPECT_EQ(module["tooltip"].get<std::string>().substr(0, 21), "5-hour limit: &lt;1% ");

    // A failing script would hide the module: the error shows, and the exit status is 0.
    auto failed = runCLI({"status", "--waybar", "--lang", "en", "--codex", "/nonexistent"}, home);
    EXPECT_EQ(failed.exitCode, 0);
    module = json::parse(failed.output);
    EXPECT_EQ(module["class"], "error");
    EXPECT_FALSE(module.contains("percentage"));
    EXPECT_NE(module["tooltip"].get<std::string>().find("Codex"), std::string::npos);
}

TEST(StatusCommandTest, MessagesFollowTheSavedLanguageUnlessOverridden) {
    test::TempDir home;
    std::filesystem::create_directories(home.path() / "config/Quotalume");
    const std::string saved = R"({"appearance.language":"fr"})";
    home.write("config/Quotalume/defaults.json", saved);
    auto tooltip = [&](std::vector<std::string> extra) {
        std::vector<std::string> arguments = {"status", "--waybar", "--codex", "/nonexistent"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return json::parse(runCLI(arguments, home).output)["tooltip"].get<std::string>();
    };
    EXPECT_EQ(tooltip({}), L10n::text("error.executable", AppLanguage::french));
    EXPECT_EQ(tooltip({"--lang", "de"}), L10n::text("error.executable", AppLanguage::german));
    EXPECT_NE(L10n::text("error.executable", AppLanguage::french),
              L10n::text("error.executable", AppLanguage::german));
    // The override is for one run only.
    EXPECT_EQ(home.read("config/Quotalume/defaults.json"), saved);
}

}  // namespace
}  // namespace quotalume
