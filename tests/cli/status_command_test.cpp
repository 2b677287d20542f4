#include "cli_runner.hpp"

#include <sstream>

namespace quotalume {
namespace {

using nlohmann::json;
using test::FakeCodexHome;
using test::joined;
using test::runCLI;

const std::string demoLines =
    "5H 76% · 7D 61%\n"
    "  5-hour limit: 76% left · Resets in 2 h 8 min\n"
    "  Weekly limit: 61% left · Resets in 2 d 16 h\n"
    "  Credits: 128.5\n";

std::vector<std::string> outputLines(const std::string& output) {
    std::vector<std::string> found;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        found.push_back(line);
    }
    return found;
}

// Codex's answer as the app-server gives it with a model's bucket beside Codex's and Codex's
// word on ordinary usage missing: times from now, in seconds, but the model's weekly reset in
// milliseconds, which is no date.
std::string answerWithSpark(double monthUsed, double sparkUsed, std::time_t now) {
    const auto window = [&](double used, int minutes, std::time_t in) {
        return json{{"usedPercent", used}, {"windowDurationMins", minutes}, {"resetsAt", now + in}};
    };
    const json codex = {
        {"limitId", "codex"},
        {"primary", window(40, 300, 3600)},
        {"secondary", window(monthUsed, 43200, 20 * 86400)},
        {"credits", {{"hasCredits", true}, {"unlimited", false}, {"balance", "0.00"}}}};
    const json spark = {{"limitId", "codex_bengalfox"},
                        {"limitName", "GPT-5.3-Codex-Spark"},
                        {"primary", window(sparkUsed, 300, 7200)},
                        {"secondary",
                         {{"usedPercent", 55},
                          {"windowDurationMins", 10080},
                          {"resetsAt", (now + 3 * 86400) * 1000}}},
                        {"rateLimitReachedType", nullptr}};
    return json{{"rateLimits", codex},
                {"rateLimitsByLimitId", {{"codex", codex}, {"codex_bengalfox", spark}}},
                {"ordinaryUsageAllowed", nullptr}}
        .dump();
}

// Every bucket and every window Codex reports shows; a used-up 30-day window blocks the account
// until it resets, a used-up Spark window blocks only Spark.
TEST(StatusCommandTest, EveryBucketAndWindowShowsAndEachIsBlockedByItsOwnLimits) {
    FakeCodexHome codex;
    const std::time_t now = std::time(nullptr);
    const std::vector<std::string> source = {"--codex", codex.executable(),
                                             "--codex-home=" + codex.str(), "--lang", "en"};
    const auto status = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "status");
        arguments.insert(arguments.end(), source.begin(), source.end());
        return runCLI(arguments, codex);
    };

    codex.write("rate_limits.json", answerWithSpark(100, 77, now));
    const auto human = status({});
    ASSERT_EQ(human.exitCode, 0) << human.output;
    const std::vector<std::string> lines = outputLines(human.output);
    ASSERT_EQ(lines.size(), 5u) << human.output;
    EXPECT_EQ(lines[0], "\u2298 5H 60% \u00b7 30D 0%");
    EXPECT_EQ(lines[1], "  5-hour limit: 60% left \u00b7 Resets in 1 h 0 min");
    EXPECT_EQ(lines[2], "  30-day limit: 0% left (Used up) \u00b7 Resets in 20 d 0 h");
    EXPECT_TRUE(lines[3].starts_with("  30-day limit reached \u2014 resets ")) << lines[3];
    EXPECT_EQ(lines[4], "GPT-5.3-Codex-Spark: 5H 23% \u00b7 7D 45%");

    const auto asJSON = status({"--json"});
    EXPECT_EQ(asJSON.output.find('\n'), asJSON.output.size() - 1) << "one line";
    const json record = json::parse(asJSON.output);
    // The snapshot: every time in one form and none that is no date, the balance as Codex wrote it.
    const json& snapshot = record["snapshot"];
    EXPECT_TRUE(parseISO8601(snapshot["observedAt"].get<std::string>()));
    EXPECT_EQ(snapshot["buckets"][0]["primary"]["resetsAt"],
              iso8601(dateFromUnixSeconds(now + 3600)));
    EXPECT_FALSE(snapshot["buckets"][1]["secondary"].contains("resetsAt"));
    EXPECT_EQ(snapshot["buckets"][0]["credits"]["balance"], "0.00");
    EXPECT_EQ(record["blocked"], json({{"reason", "limit_reached"},
                                       {"detail", nullptr},
                                       {"until", iso8601(dateFromUnixSeconds(now + 20 * 86400))}}));
    ASSERT_EQ(record["windows"].size(), 2u);
    EXPECT_EQ(record["windows"][1]["id"], "30d");
    EXPECT_EQ(record["windows"][1]["minutes"], 43200);
    ASSERT_EQ(record["limits"].size(), 2u);
    EXPECT_EQ(record["limits"][0]["windows"], record["windows"]);
    EXPECT_EQ(record["limits"][0]["blocked"], record["blocked"]);
    EXPECT_EQ(record["limits"][1]["id"], "codex_bengalfox");
    EXPECT_EQ(record["limits"][1]["name"], "GPT-5.3-Codex-Spark");
    EXPECT_EQ(record["limits"][1]["windows"][0]["left_percent"], 23.0);
    EXPECT_EQ(record["limits"][1]["windows"][1]["id"], "weekly");
    EXPECT_EQ(record["limits"][1]["blocked"], nullptr);
    EXPECT_EQ(status({"--format", "{30d.left_percent} {five_hour.left_percent}"}).output, "0 60\n");
    EXPECT_EQ(
        status({"--format", "{stale_mark}{5h.left} {5h.resets_short} {30d.resets_short}"}).output,
        "60% 1h 0m 20d 0h\n");
    const json module = json::parse(status({"--waybar"}).output);
    EXPECT_EQ(module["class"], "critical") << "one class while the figures are fresh";
    const std::string shown = module["tooltip"];
    EXPECT_TRUE(
        shown.starts_with("5-hour limit: 60% left \u00b7 Resets in 1 h 0 min\n"
                          "30-day limit: 0% left"))
        << shown;

    // Spark used up, the 30-day window half: only Spark is blocked.
    codex.write("rate_limits.json", answerWithSpark(50, 100, now));
    const json spark = json::parse(status({"--json"}).output);
    EXPECT_EQ(spark["blocked"], nullptr);
    EXPECT_EQ(spark["limits"][1]["blocked"],
              json({{"reason", "limit_reached"},
                    {"detail", nullptr},
                    {"until", iso8601(dateFromUnixSeconds(now + 7200))}}));
    const std::string tooltip = json::parse(status({"--waybar"}).output)["tooltip"];
    EXPECT_NE(tooltip.find("\nGPT-5.3-Codex-Spark: \u2298 5H 0% \u00b7 7D 45%"), std::string::npos)
        << tooltip;
    const std::string sparkLine = outputLines(status({}).output).back();
    EXPECT_TRUE(
        sparkLine.starts_with("GPT-5.3-Codex-Spark: \u2298 5H 0% \u00b7 7D 45% \u00b7 "
                              "5-hour limit reached \u2014 resets "))
        << sparkLine;
}

TEST(StatusCommandTest, TheSavedSourceIsUsedUnlessAnOptionReplacesIt) {
    FakeCodexHome saved, other;
    FilePreferencesStore preferences(saved.path() / "config/Quotalume/defaults.json");
    Settings{.codexPath = saved.executable(), .codexHome = saved.str()}.save(preferences);
    const struct {
        const char* name;
        const FakeCodexHome& home;
        test::Strings options;
        const FakeCodexHome* used;  // nullptr: automatic detection, which finds nothing on Linux
    } rows[] = {
        {"the saved source", saved, {}, &saved},
        {"another home", saved, {"--codex-home", other.str()}, &other},
        {"an empty executable is automatic", saved, {"--codex="}, nullptr},
        {"both replaced",
         other,
         {"--codex", saved.executable(), "--codex-home", saved.str()},
         &saved},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::filesystem::remove(saved.path() / "received");
        std::filesystem::remove(other.path() / "received");
        auto run = runCLI(joined({"status", "--json"}, row.options), row.home);
        auto output = json::parse(run.output);
        EXPECT_EQ(run.exitCode, row.used ? 0 : 1);
        if (!row.used) {
            EXPECT_EQ(output["error"]["key"], "error.executable") << output;
            EXPECT_FALSE(output["error"]["message"].get<std::string>().empty());
        } else {
            EXPECT_TRUE(output.contains("snapshot")) << output;
            EXPECT_FALSE(row.used->receivedLines().empty());
        }
    }
}

TEST(StatusCommandTest, WithoutAChosenExecutableItNamesTheCodexItFinds) {
    test::TempDir home;
    home.write("codex-home/.keep", "");
    const std::string found = home.write("tools/codex", "#!/bin/sh\n").string();
    std::filesystem::permissions(found, std::filesystem::perms::owner_all);
    const test::Strings onPath = {"PATH=" + home.str() + "/tools:/usr/bin:/bin"};
    const std::string foundHint = "Found codex at " + found + " — pass --codex " + found +
                                  " or choose it in Settings › Source.\n";
    const struct {
        const char* name;
        test::Strings options, environment;
        std::string expected;  // after the error line
    } rows[] = {
        {"one on the PATH", {}, onPath, foundHint},
        {"none anywhere",
         {},
         {},
         "Pass --codex PATH to name the codex executable, or choose it in Settings › Source.\n"},
        // A chosen executable that fails is the user's to mend: no guesses.
        {"a chosen one that is missing", {"--codex", home.str() + "/missing"}, onPath, ""},
    };
    const std::string error =
        "quotalume-cli: " + L10n::text("error.executable", AppLanguage::english) + "\n";
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto run =
            runCLI(joined({"status", "--lang", "en", "--codex-home", home.str() + "/codex-home"},
                          row.options),
                   home, "", row.environment);
        EXPECT_EQ(run.exitCode, 1);
        // A codex installed on this machine may add lines; ours comes first, from the PATH.
        EXPECT_EQ(run.output.substr(0, error.size() + row.expected.size()), error + row.expected);
    }
    auto json = json::parse(runCLI({"status", "--json", "--codex="}, home, "", onPath).output);
    EXPECT_EQ(json["error"]["suggestions"][0], found);
}

// Without its translation tables it says where it looked, and speaks English.
TEST(StatusCommandTest, DemoShowsTheTrayLineWindowsAndCreditsWithOrWithoutItsTables) {
    test::TempDir home;
    EXPECT_EQ(runCLI({"status", "--demo", "--lang", "en"}, home), (test::CLIRun{0, demoLines}));
    EXPECT_EQ(runCLI({"status", "--demo", "--lang", "de"}, home, "",
                     {"QUOTALUME_RESOURCES=" + home.str() + "/nowhere"}),
              (test::CLIRun{0, "quotalume-cli: no translation tables in " + home.str() +
                                   "/nowhere/l10n; messages are in English\n" + demoLines}));
}

TEST(StatusCommandTest, StoppedBySignalItLeavesNoCodexBehind) {
    test::expectStopSignalsEndCodexToo(
        [](const FakeCodexHome& codex) {
            return test::cliProcess(codex, {"status", "--codex", codex.executable(), "--codex-home",
                                            codex.str(), "--timeout", "60"});
        },
        [](int number) { return 128 + number; });  // it dies of the signal
}

TEST(StatusCommandTest, WaybarModuleJson) {
    test::TempDir home;
    FakeCodexHome codex;
    const auto read = [&](double fiveHour, double weekly) {
        codex.write("rate_limits.json", test::codexLimits(fiveHour, 1900000000, weekly));
        auto run = runCLI(
            {"status", "--waybar", "--codex", codex.executable(), "--codex-home", codex.str()},
            codex);
        EXPECT_EQ(run.exitCode, 0) << run.output;
        return json::parse(run.output);
    };
    json module = read(80.5, 55);
    EXPECT_EQ(module["class"], "critical");
    EXPECT_EQ(module["percentage"], 19);
    // waybar takes text and tooltip as Pango markup: a bare "<" would blank the module.
    module = read(99.5, 10);
    EXPECT_EQ(module["text"], "5H &lt;1% · 7D 90%");
    EXPECT_EQ(module["tooltip"].get<std::string>().substr(0, 21), "5-hour limit: &lt;1% ");

    // A failing script would hide the module: the error shows, in the run's language; exit 0.
    const std::string saved = R"({"appearance.language":"fr"})";
    home.write("config/Quotalume/defaults.json", saved);
    const auto failed = [&](const test::Strings& language) {
        auto run =
            runCLI(joined({"status", "--waybar", "--codex", "/nonexistent"}, language), home);
        EXPECT_EQ(run.exitCode, 0);
        // The message on standard error first, then the module.
        module = json::parse(run.output.substr(run.output.find("\n{") + 1));
        EXPECT_EQ(module["class"], "error");
        EXPECT_FALSE(module.contains("percentage"));
        return module["tooltip"].get<std::string>();
    };
    EXPECT_EQ(failed({}), L10n::text("error.executable", AppLanguage::french));
    EXPECT_EQ(failed({"--lang", "de"}), L10n::text("error.executable", AppLanguage::german));
    EXPECT_NE(L10n::text("error.executable", AppLanguage::french),
              L10n::text("error.executable", AppLanguage::german));
    EXPECT_EQ(home.read("config/Quotalume/defaults.json"), saved);
}

}  // namespace
}  // namespace quotalume
