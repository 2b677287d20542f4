#include "cli_runner.hpp"
#include "monitor_state.hpp"

#include <quotalume/preferences/account_sources.hpp>

#include <quotalume/coordination/engine_lock.hpp>

#include <fcntl.h>

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
    const std::string before = home.read(preferences);
    const std::string hint = "Try 'quotalume-cli config --help'.\n";
    const struct {
        const char* name;
        test::Strings arguments;
        std::string expected;
    } refusals[] = {
        {"a missing executable",
         {"set", "codex.path", home.str() + "/missing", "--lang", "en"},
         "quotalume-cli: codex.path: " + L10n::text("error.executable", AppLanguage::english) +
             "\nNothing was saved.\n"},
        {"no value",
         {"set", "language"},
         "quotalume-cli: config set takes a key and a value\n" + hint},
        {"an unknown action",
         {"unset", "language"},
         "quotalume-cli: config needs list, get KEY, set KEY VALUE or sources\n" + hint},
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

// Holds the engine lock and listens on its socket, but never answers: anything handed to it
// waits there as a connection.
class SilentEngine {
public:
    explicit SilentEngine(const test::TempDir& home) {
        const std::string socket = home.str() + "/run/engine.sock";
        std::filesystem::create_directories(home.path() / "run");
        fd_ = test::unixSocket(socket);
        EXPECT_GE(fd_, 0);
        ::fcntl(fd_, F_SETFL, O_NONBLOCK);  // wasAsked() looks without waiting
        lock_ = EngineLock::acquire(home.path() / "data/Quotalume",
                                    {.pid = ::getpid(),
                                     .program = "quotalume-cli watch",
                                     .runtimeDirectory = home.str() + "/run",
                                     .socket = socket});
        EXPECT_TRUE(lock_);
    }
    ~SilentEngine() { ::close(fd_); }
    SilentEngine(const SilentEngine&) = delete;
    SilentEngine& operator=(const SilentEngine&) = delete;

    bool wasAsked() const {
        const int peer = ::accept(fd_, nullptr, nullptr);
        if (peer >= 0) {
            ::close(peer);
        }
        return peer >= 0;
    }

private:
    int fd_ = -1;
    std::optional<EngineLock> lock_;
};

// Refused before anything is written or sent, whether an engine runs or not.
TEST(ConfigCommandTest, SetRefusesAtOnceWithOrWithoutAnEngine) {
    const struct {
        const char* name;
        std::string value;  // of codex.path
        std::string message;
    } rows[] = {
        {"a long path", "/" + std::string(120 * 1024, 'a'),
         "the value for codex.path is too long (122881 bytes); no key takes more than 3072"},
        {"a line feed within", "/usr/bin/codex\nlanguage=de",
         "codex.path takes no control characters (such as a line feed or a tab) within its "
         "value"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const CLIRun refused{
            2, "quotalume-cli: " + row.message + "\nTry 'quotalume-cli config --help'.\n"};
        test::TempDir home;
        EXPECT_EQ(runCLI({"config", "set", "codex.path", row.value}, home), refused) << "alone";
        EXPECT_FALSE(std::filesystem::exists(home.path() / preferences));
        SilentEngine engine(home);
        EXPECT_EQ(runCLI({"config", "set", "codex.path", row.value}, home), refused)
            << "beside an engine";
        EXPECT_FALSE(engine.wasAsked());
    }
}

// A value stored by hand or by another program is shown on its own line, whatever it holds.
TEST(ConfigCommandTest, StoredValuesAreShownEscapedOnALineOfTheirOwn) {
    test::TempDir home;
    FilePreferencesStore store(home.path() / preferences);
    Settings{.codexPath = "/opt/co\\dex\nlanguage=de\t\x1b[2J\xc2\x9b=é"}.save(store);
    const std::string shown = "/opt/co\\\\dex\\nlanguage=de\\t\\x1B[2J\\xC2\\x9B=é";
    EXPECT_EQ(runCLI({"config", "get", "codex.path"}, home), (CLIRun{0, shown + "\n"}));
    const CLIRun listed = runCLI({"config", "list"}, home);
    EXPECT_EQ(listed.exitCode, 0);
    EXPECT_TRUE(listed.output.starts_with("codex.path=" + shown + "\ncodex.home=\n"))
        << listed.output;
}

// The fake's limits for an account of its own: five-hour `used` %.
std::string accountLimits(const char* account, double used) {
    nlohmann::json limits = nlohmann::json::parse(test::codexLimits(used, 1900000000, 5));
    limits["accountId"] = account;
    return limits.dump();
}

TEST(ConfigSourcesTest, SourcesAreAddedRenamedReadAndRemovedByLabel) {
    test::TempDir home;
    FakeCodexHome personal, work;
    personal.write("rate_limits.json", accountLimits("personal", 30));
    work.write("rate_limits.json", accountLimits("work", 92));
    const std::string exe = FakeCodexHome::executable();
    runCLI({"config", "set", "codex.home", personal.str()}, home);  // read with no codex yet
    ASSERT_EQ(runCLI({"config", "set", "codex.path", exe}, home).exitCode, 0);
    EXPECT_EQ(runCLI({"config", "sources", "list"}, home),
              (CLIRun{0, "Default\t" + personal.str() + "\t" + exe + "\n"}));
    const CLIRun one = runCLI({"status", "--json", "--all"}, home);
    ASSERT_EQ(one.exitCode, 0) << one.output;
    EXPECT_EQ(nlohmann::json::parse(one.output)["accounts"][0]["label"], "Default")
        << "one source is named too";
    EXPECT_EQ(
        runCLI({"config", "sources", "add", "Work", "--codex-home", work.str(), "--codex", exe},
               home)
            .exitCode,
        0);
    EXPECT_EQ(runCLI({"config", "sources", "rename", "Default", "Personal"}, home).exitCode, 0);
    EXPECT_EQ(runCLI({"config", "sources", "list"}, home),
              (CLIRun{0, "Personal\t" + personal.str() + "\t" + exe + "\nWork\t" + work.str() +
                             "\t" + exe + "\n"}));

    // Each source read in turn, each record with its label.
    const CLIRun all = runCLI({"status", "--json", "--all"}, home);
    ASSERT_EQ(all.exitCode, 0) << all.output;
    const nlohmann::json listed = nlohmann::json::parse(all.output);
    EXPECT_EQ(listed["kind"], "accounts");
    ASSERT_EQ(listed["accounts"].size(), 2u);
    EXPECT_EQ(listed["accounts"][0]["label"], "Personal");
    EXPECT_EQ(listed["accounts"][0]["windows"][0]["left_percent"], 70);
    EXPECT_EQ(listed["accounts"][1]["label"], "Work");
    EXPECT_EQ(listed["accounts"][1]["windows"][0]["left_percent"], 8);
    // The same, as Prometheus reads it: read here, with what the engine counted (nothing yet).
    const CLIRun metrics = runCLI({"metrics"}, home);
    ASSERT_EQ(metrics.exitCode, 0) << metrics.output;
    for (const char* series :
         {"quotalume_window_used_ratio{account=\"Personal\",bucket=\"codex\",window=\"5h\"} 0.3\n",
          "quotalume_window_used_ratio{account=\"Work\",bucket=\"codex\",window=\"5h\"} 0.92\n",
          "quotalume_readings_total{account=\"Work\",outcome=\"ok\"} 0\n"}) {
        EXPECT_NE(metrics.output.find(series), std::string::npos) << series << metrics.output;
    }
    // A source that cannot be read: the others' series all the same, its failure said by label.
    work.write("script", "exit 3\n");
    const CLIRun failing = runCLI({"metrics", "--lang", "en"}, home);
    EXPECT_EQ(failing.exitCode, 1);
    EXPECT_NE(failing.output.find("quotalume-cli: Work: "), std::string::npos) << failing.output;
    EXPECT_NE(failing.output.find("{account=\"Personal\",bucket=\"codex\",window=\"5h\"} 0.3\n"),
              std::string::npos);
    EXPECT_EQ(failing.output.find("{account=\"Work\",bucket"), std::string::npos);
    work.write("script", "serve\n");
    EXPECT_EQ(
        runCLI({"status", "--account", "Work", "--format", "{label} {five_hour.left_percent}"},
               home),
        (CLIRun{0, "Work 8\n"}));
    EXPECT_EQ(runCLI({"status", "--account", "closest", "--short"}, home),
              (CLIRun{0, "5H 8 · 7D 95\n"}));
    // Another account's lines say what is left, as the first one's do.
    const std::string lines = runCLI({"status", "--account", "Work", "--lang", "en"}, home).output;
    EXPECT_TRUE(lines.starts_with("5H 8% · 7D 95%\n  5-hour limit: 8% left (Almost used up) · "))
        << lines;

    const std::string withWork = home.read(preferences);
    std::filesystem::create_directories(home.path() / "line\nfeed");
    const struct {
        const char* name;
        test::Strings arguments;
    } refusals[] = {
        {"status of an unknown label", {"status", "--account", "Nope"}},
        {"history of an unknown label", {"history", "--account", "Nope"}},
        {"usage of an unknown label", {"usage", "--account", "Nope"}},
        {"a label taken", {"config", "sources", "add", "Work", "--codex-home", work.str()}},
        {"a label too long",
         {"config", "sources", "add", std::string(41, 'w'), "--codex-home", work.str()}},
        {"a home that is not there",
         {"config", "sources", "add", "Elsewhere", "--codex-home", home.str() + "/missing"}},
        {"the first source removed", {"config", "sources", "remove", "Personal"}},
        {"the tray's word for a label",
         {"config", "sources", "add", "Closest", "--codex-home", work.str()}},
        {"a home with a line feed",
         {"config", "sources", "add", "Odd", "--codex-home", home.str() + "/line\nfeed"}},
        {"a rename onto another's label", {"config", "sources", "rename", "Work", "Personal"}},
        {"--all without --json", {"status", "--all"}},
    };
    for (const auto& row : refusals) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(runCLI(row.arguments, home).exitCode, 2);
        EXPECT_EQ(home.read(preferences), withWork) << "nothing saved";
    }

    EXPECT_EQ(runCLI({"config", "sources", "remove", "Work"}, home).exitCode, 0);
    EXPECT_EQ(runCLI({"config", "sources", "list"}, home),
              (CLIRun{0, "Personal\t" + personal.str() + "\t" + exe + "\n"}));
    EXPECT_EQ(runCLI({"history", "--account", "Work"}, home).exitCode, 2);
}

TEST(ConfigSourcesTest, HistoryOfAnAccountShowsOnlyItsOwn) {
    test::TempDir home;
    FilePreferencesStore store(home.path() / preferences);
    AccountSources sources;
    sources.others.push_back({"Work", home.str(), ""});
    sources.save(store);
    MonitorState personal, work;
    const auto record = [](const char* id) {
        EventRecord kept;
        kept.event = ResetEvent::test(Date());
        kept.event.id = id;
        kept.localStatus = kept.webhookStatus = LocalizedMessage("history.recorded_only");
        return kept;
    };
    personal.records.push_back(record("PERSONAL-RESET"));
    work.records.push_back(record("WORK-RESET"));
    StateStore(home.path() / "data/Quotalume").save(personal, {{"fp-work", "Work", work}});

    for (const auto& [label, id] :
         {std::pair("", "PERSONAL-RESET"), std::pair("Work", "WORK-RESET"),
          std::pair("Default", "PERSONAL-RESET")}) {
        SCOPED_TRACE(label);
        test::Strings arguments{"history", "--json"};
        if (*label) {
            arguments.insert(arguments.end(), {"--account", label});
        }
        const CLIRun run = runCLI(arguments, home);
        ASSERT_EQ(run.exitCode, 0) << run.output;
        const nlohmann::json listed = nlohmann::json::parse(run.output);
        ASSERT_EQ(listed.size(), 1u);
        EXPECT_EQ(listed[0]["id"], id);
    }
}

}  // namespace
}  // namespace quotalume
