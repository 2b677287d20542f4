#include "cli_runner.hpp"

namespace quotalume {
namespace {

using test::CLIRun;
using test::FakeCodexHome;
using test::runCLI;

const std::string preferences = "config/Quotalume/defaults.json";

TEST(ConfigCommandTest, ListGetAndSetWhileRefusalsLeaveTheFileAsItWas) {
    test::TempDir home;
    EXPECT_EQ(runCLI({"config", "set", "tray.scope", "7D"}, home), (CLIRun{0, "tray.scope=7d\n"}));
    EXPECT_EQ(runCLI({"config", "get", "tray.scope"}, home), (CLIRun{0, "7d\n"}));
    EXPECT_EQ(runCLI({"config", "list"}, home),
              (CLIRun{0,
                      "codex.path=\ncodex.home=\nrefresh.interval=30\nnotifications.enabled=true\n"
                      "notifications.sound=true\nwebhook.enabled=false\nwebhook.warnings=false\n"
                      "warnings.levels=25,10\nwarnings.forecast=true\nlanguage=system\n"
                      "tray.style=percentage\ntray.scope=7d\n"}));
    const std::string before = home.read(preferences);
    const std::string hint = "Try 'quotalume-cli config --help'.\n";
    const struct {
        const char* name;
        test::Strings arguments;
        std::string expected;
    } refusals[] = {
        {"a value out of range",
         {"set", "refresh.interval", "301"},
         "quotalume-cli: refresh.interval takes a whole number of seconds from 15 to 300\n" + hint},
        {"a missing executable",
         {"set", "codex.path", home.str() + "/missing", "--lang", "en"},
         "quotalume-cli: codex.path: " + L10n::text("error.executable", AppLanguage::english) +
             "\nNothing was saved.\n"},
        {"no value",
         {"set", "language"},
         "quotalume-cli: config set takes a key and a value\n" + hint},
        {"an unknown action",
         {"unset", "language"},
         "quotalume-cli: config needs list, get KEY or set KEY VALUE\n" + hint},
    };
    for (const auto& row : refusals) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(runCLI(test::joined({"config"}, row.arguments), home), (CLIRun{2, row.expected}));
        EXPECT_EQ(home.read(preferences), before);
    }

    // A file that cannot be read is only read around; the next change keeps it aside.
    home.write(preferences, "{not json");
    const auto run = runCLI({"config", "get", "tray.scope", "--lang", "en"}, home);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.output.ends_with("the next time a setting changes.\nboth\n")) << run.output;
    EXPECT_EQ(home.read(preferences), "{not json");
}

TEST(ConfigCommandTest, ANewCodexSourceIsSavedThenReadOnceAndTheOutcomeReported) {
    FakeCodexHome codex, broken("exit 3\n");
    codex.write("rate_limits.json", test::codexLimits(24, 1900000000, 5));
    const std::string saved = "Saved. Connecting…\n";
    auto run = runCLI({"config", "set", "codex.path", codex.executable(), "--lang", "en"}, codex,
                      "", {"CODEX_HOME=" + codex.str()});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(run.output.starts_with("codex.path=" + codex.executable() + "\n" + saved +
                                       "5H 76% · 7D 95%\n"))
        << run.output;

    run = runCLI({"config", "set", "codex.home", broken.str(), "--lang", "en"}, codex);
    EXPECT_EQ(
        run,
        (CLIRun{1, "codex.home=" + broken.str() + "\n" + saved + "quotalume-cli: " +
                       L10n::text("error.not_codex", codex.executable(), AppLanguage::english) +
                       "\n"}));
    // Saved all the same, where the tray app reads it.
    FilePreferencesStore stored(codex.path() / preferences);
    EXPECT_EQ(Settings::load(stored),
              (Settings{.codexPath = codex.executable(), .codexHome = broken.str()}));
}

}  // namespace
}  // namespace quotalume
