#include "cli_runner.hpp"
#include "http_receiver.hpp"

#include "engine_reading.hpp"
#include "monitor_state.hpp"

#include <quotalume/coordination/engine_channel.hpp>
#include <quotalume/coordination/engine_lock.hpp>
#include <quotalume/preferences/preferences_store.hpp>
#include <quotalume/reset/limit_warning.hpp>
#include <quotalume/schedule/demo_snapshot.hpp>
#include <quotalume/support/date.hpp>
#include <quotalume/usage/usage_timeline.hpp>

#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <set>
#include <sstream>
#include <thread>

namespace quotalume {
namespace {

using nlohmann::json;
using test::FakeCodexHome;
using test::joined;
using test::runCLI;

class Watch {
public:
    Watch(const test::TempDir& home, const std::vector<std::string>& options)
        : child_(test::watchProcess(home, options)) {}

    // The output once `line` arrives or 30 s pass: a loaded machine may read again only 10 s later.
    const std::string& waitForLine(const std::string& line,
                                   std::chrono::seconds patience = std::chrono::seconds(30)) {
        const auto deadline = std::chrono::steady_clock::now() + patience;
        while (output_.find(line + "\n") == std::string::npos &&
               std::chrono::steady_clock::now() < deadline) {
            pollfd ready{child_.output(), POLLIN, 0};
            if (::poll(&ready, 1, 100) > 0) {
                char chunk[4096];
                const ssize_t n = ::read(child_.output(), chunk, sizeof chunk);
                if (n <= 0) {
                    break;
                }
                output_.append(chunk, static_cast<std::size_t>(n));
            }
        }
        return output_;
    }

    pid_t pid() const { return child_.pid(); }

    // The exit status after `number`, or -1 when it did not end.
    int stop(int number) {
        child_.signal(number);
        return child_.waitForExit(std::chrono::seconds(20)) ? child_.exitCode().value_or(-1) : -1;
    }

private:
    ChildProcess child_;
    std::string output_;
};

// A watch's options that read the fake.
std::vector<std::string> onTheFake(const FakeCodexHome& codex) {
    return {"--lang", "en", "--codex", codex.executable()};
}

// Whether `pid` comes to hold the engine lock of `home`'s data folder.
bool becomesTheEngine(const test::TempDir& home, pid_t pid) {
    return test::eventually([&] {
        const auto holder = EngineLock::holder(home.path() / "data/Quotalume");
        return holder && holder->pid == pid;
    });
}

// The lock's record of the engine serving `codex`, which names its socket.
EngineHolder servingEngine(const FakeCodexHome& codex) {
    const auto holder = EngineLock::holder(codex.path() / "data/Quotalume");
    EXPECT_TRUE(holder && !holder->socket.empty());
    return holder.value_or(EngineHolder{});
}

// Codex starts, then never answers and ignores SIGTERM: quitting does not wait out the read. The
// watch ends at once, normally, and its Codex with it.
TEST(WatchCommandTest, QuittingDuringAHangingCodexReadEndsAtOnceAndTakesCodexAlong) {
    FakeCodexHome codex("ignore-term\nhang");
    Watch watch(codex, onTheFake(codex));
    const pid_t fake = codex.launchedPid();
    ASSERT_NE(fake, 0);
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(watch.stop(SIGTERM), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(2));
    EXPECT_TRUE(test::eventually([&] { return !test::processAlive(fake); }));
}

TEST(WatchCommandTest, RecordsAScriptedResetDeliversItOnceAndStopsOnSIGTERM) {
    FakeCodexHome codex;
    test::HTTPReceiver receiver;
    const Settings saved = test::saveWebhookOn(codex, receiver.url());
    // The schedule reads again just after a reset 2 s away, when the fake has the window restored.
    const std::time_t now = std::time(nullptr);
    codex.write("rate_limits.json", test::codexLimits(50, now + 2));
    codex.write("rate_limits.next.json", test::codexLimits(0, now + 5 * 3600));

    Watch watch(codex, onTheFake(codex));
    const std::string output = watch.waitForLine("5H 100% · 7D 90%");
    EXPECT_NE(output.find("5H 50% · 7D 90%\n5H 100% · 7D 90%\n"), std::string::npos) << output;
    // Each line differs from the one before; the clock ticking every second prints nothing.
    EXPECT_EQ(output.find("5H 100% · 7D 90%\n5H 100% · 7D 90%\n"), std::string::npos) << output;

    json state;
    ASSERT_TRUE(test::eventually([&] {
        state = json::parse(codex.read("data/Quotalume/state.json"), nullptr, false);
        return state.is_object() && state["records"].size() == 1 &&
               state["records"][0]["webhookStatus"]["key"] == "webhook.delivered";
    })) << state;
    const pid_t fake = codex.launchInfo()["pid"].get<pid_t>();
    EXPECT_EQ(watch.stop(SIGTERM), 0);
    ASSERT_EQ(receiver.requests().size(), 1u);
    EXPECT_TRUE(test::eventually([&] { return !test::processAlive(fake); }));
    // The options applied to this run only.
    EXPECT_EQ(Settings::load(FilePreferencesStore(codex.path() / "config/Quotalume/defaults.json")),
              saved);

    // The same history, as `history` prints it.
    auto listed = runCLI({"history", "--json", "--lang", "en"}, codex);
    ASSERT_EQ(listed.exitCode, 0) << listed.output;
    const json records = json::parse(listed.output);
    ASSERT_EQ(records.size(), 1u) << listed.output;
    EXPECT_EQ(records[0]["id"], state["records"][0]["event"]["id"]);
    EXPECT_EQ(records[0]["title"], "Codex: 5-hour limit reset");
    EXPECT_TRUE(parseISO8601(records[0]["observedAt"].get<std::string>()));
    EXPECT_EQ(records[0]["webhookStatus"], json({{"key", "webhook.delivered"},
                                                 {"arguments", json::array()},
                                                 {"message", "Webhook delivered"}}));
    auto text = runCLI({"history", "--lang", "en"}, codex);
    EXPECT_TRUE(text.output.starts_with("Codex: 5-hour limit reset · ")) << text.output;
    EXPECT_TRUE(text.output.ends_with(
        " · " + records[0]["localStatus"]["message"].get<std::string>() + " · Webhook delivered\n"))
        << text.output;
}

TEST(WatchCommandTest, StoppedBySignalItExitsZeroAndLeavesNoCodexBehind) {
    test::expectStopSignalsEndCodexToo(
        [](const FakeCodexHome& codex) {
            return test::watchProcess(codex, {"--codex", codex.executable()});
        },
        [](int) { return 0; });
}

TEST(WatchCommandTest, ViewsFollowTheOneEngineAndAWatchTakesOverWhenItGoes) {
    FakeCodexHome codex;
    const auto figures = [&](double used) {
        codex.write("rate_limits.json", test::codexLimits(used, 1900000000));
    };
    figures(30);
    Watch engine(codex, onTheFake(codex));
    engine.waitForLine("5H 70% · 7D 90%");
    Watch follower(codex, onTheFake(codex));
    EXPECT_NE(follower.waitForLine("5H 70% · 7D 90%").find("5H 70% · 7D 90%\n"), std::string::npos);
    const std::size_t started = codex.starts();

    // status asks the engine: no Codex of its own, and the reading is the engine's.
    EXPECT_EQ(runCLI({"status", "--short"}, codex), (test::CLIRun{0, "5H 70 · 7D 90\n"}));
    const json record = json::parse(runCLI({"status", "--json"}, codex).output);
    EXPECT_EQ(record["source"], "engine");
    // So does metrics, with what the engine counted.
    const auto readings = [&] {
        const test::CLIRun printed = runCLI({"metrics"}, codex);
        EXPECT_EQ(printed.exitCode, 0) << printed.output;
        const std::string series = "quotalume_readings_total{account=\"Default\",outcome=\"ok\"} ";
        const auto at = printed.output.find(series);
        return at == std::string::npos ? -1 : std::stoi(printed.output.substr(at + series.size()));
    };
    const int counted = readings();
    EXPECT_GE(counted, 1);
    EXPECT_EQ(codex.starts(), started);
    // --fresh has the engine read now; every view sees the change.
    figures(50);
    EXPECT_EQ(runCLI({"status", "--fresh", "--short"}, codex),
              (test::CLIRun{0, "5H 50 · 7D 90\n"}));
    EXPECT_EQ(codex.starts(), started + 1);
    follower.waitForLine("5H 50% · 7D 90%");
    // SIGUSR1 to a follower has the engine read now.
    figures(60);
    ::kill(follower.pid(), SIGUSR1);
    EXPECT_NE(engine.waitForLine("5H 40% · 7D 90%").find("5H 40%"), std::string::npos);
    const std::string followed = follower.waitForLine("5H 40% · 7D 90%");
    EXPECT_EQ(followed, "5H 70% · 7D 90%\n5H 50% · 7D 90%\n5H 40% · 7D 90%\n");

    // Given a source of its own, status reads Codex itself.
    EXPECT_EQ(runCLI({"status", "--short", "--codex", codex.executable()}, codex, "",
                     {"CODEX_HOME=" + codex.str()}),
              (test::CLIRun{0, "5H 40 · 7D 90\n"}));
    EXPECT_EQ(codex.starts(), started + 3);

    // The engine goes: the follower carries on as the engine, and SIGUSR1 reads at once.
    EXPECT_EQ(engine.stop(SIGTERM), 0);
    ASSERT_TRUE(becomesTheEngine(codex, follower.pid()));
    figures(80);
    ASSERT_TRUE(test::eventually([&] {
        ::kill(follower.pid(), SIGUSR1);
        return follower.waitForLine("5H 20% · 7D 90%", std::chrono::seconds(1))
            .ends_with("5H 20% · 7D 90%\n");
    }));
    // The follower that became the engine counts on from what the first one counted.
    EXPECT_GT(readings(), counted + 1);
    // A preference set meanwhile goes to the engine, which shows it at once and keeps it.
    EXPECT_EQ(runCLI({"config", "set", "tray.scope", "5h"}, codex),
              (test::CLIRun{0, "tray.scope=5h\n"}));
    EXPECT_TRUE(follower.waitForLine("5H 20%").ends_with("\n5H 20%\n"));
    EXPECT_EQ(follower.stop(SIGTERM), 0);
    EXPECT_EQ(runCLI({"config", "get", "tray.scope"}, codex), (test::CLIRun{0, "5h\n"}));
}

// Lines the engine answers on `socket` to `sent`, counted until it hangs up (or 5 s pass).
std::size_t answers(const std::string& socket, const std::string& sent) {
    auto channel = EngineChannel::connect(socket);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    if (!channel || !channel->send(sent) || !channel->flushBy(deadline)) {
        return 0;
    }
    std::size_t count = 0;
    while (channel->awaitLine(deadline)) {
        ++count;
    }
    EXPECT_LT(std::chrono::steady_clock::now(), deadline) << "not hung up on";
    return count;
}

// The engine answers no flood, nothing unknown and nobody else; clients that hang up first and a
// value it refuses leave it serving, with what it had.
TEST(WatchCommandTest, TheEngineServesOnlyItsUserAndHangsUpOnAFlood) {
    FakeCodexHome codex;
    codex.write("rate_limits.json", test::codexLimits(30, 1900000000));
    Watch engine(codex, onTheFake(codex));
    engine.waitForLine("5H 70% · 7D 90%");
    const EngineHolder holder = servingEngine(codex);
    std::string burst;
    for (int i = 0; i < 11; ++i) {
        burst += std::string(i > 0 ? "\n" : "") + R"({"request":"reading"})";
    }
    const struct {
        const char* name;
        std::string sent;
        std::size_t answered;
    } rows[] = {
        {"eleven requests at once", burst, 10},
        {"a request past 4 KiB", R"({"request":"reading","x":")" + std::string(4096, 'x') + "\"}",
         0},
        {"no request", "[1]", 0},
        {"a request we do not know", R"({"request":"quit"})", 0},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(answers(holder.socket, row.sent), row.answered) << row.name;
    }
    for (const char* request : {R"({"request":"refresh"})", R"({"request":"subscribe"})",
                                R"({"request":"reading"})", R"({"request":"config")"}) {
        for (int i = 0; i < 10; ++i) {
            auto channel = EngineChannel::connect(holder.socket);
            ASSERT_TRUE(channel);
            channel->send(request);  // and gone before any answer
        }
    }
    EXPECT_EQ(runCLI({"config", "set", "tray.scope", "sideways"}, codex).exitCode, 2);
    EXPECT_EQ(runCLI({"config", "get", "tray.scope"}, codex), (test::CLIRun{0, "both\n"}));
    EXPECT_EQ(runCLI({"status", "--short"}, codex), (test::CLIRun{0, "5H 70 · 7D 90\n"}));
    EXPECT_TRUE(test::processAlive(engine.pid())) << "still serving";

    if (::geteuid() != 0) {
        GTEST_SKIP() << "another user's processes need root to be made";
    }
    const uid_t nobody = 65534;
    // The engine's folder opened to all, as a mistake might: it still serves nobody else.
    const std::filesystem::path socket = holder.socket;
    for (const auto& open :
         {codex.path(), socket.parent_path().parent_path(), socket.parent_path()}) {
        ::chmod(open.c_str(), 0755);
    }
    ::chmod(socket.c_str(), 0777);
    const std::string request = std::string(R"({"request":"reading"})") + "\n";
    const pid_t client = ::fork();
    if (client == 0) {
        if (::setuid(nobody) != 0) {
            ::_exit(2);
        }
        auto channel = EngineChannel::connect(socket);  // it is not us: refused on our side too
        const int fd = test::unixSocket(socket, true);
        char byte;
        const bool served =
            fd >= 0 && ::write(fd, request.data(), request.size()) > 0 && ::read(fd, &byte, 1) > 0;
        ::_exit(channel || served ? 1 : 0);
    }
    int status = -1;
    ::waitpid(client, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "another user was served or believed";

    // A socket of another user named in the lock's record is never asked: status reads Codex.
    test::TempDir other;
    std::filesystem::permissions(other.path(), std::filesystem::perms::all);
    const std::filesystem::path planted = other.path() / "engine.sock";
    const std::string message =
        EngineReading{.snapshot = demoSnapshot(std::chrono::system_clock::now())}
            .message(std::chrono::system_clock::now())
            .dump() +
        "\n";
    const pid_t server = ::fork();
    if (server == 0) {
        const int fd = ::setuid(nobody) == 0 ? test::unixSocket(planted) : -1;
        if (fd < 0) {
            ::_exit(2);
        }
        for (int peer; (peer = ::accept(fd, nullptr, nullptr)) >= 0; ::close(peer)) {
            (void)!::write(peer, message.data(), message.size());
        }
        ::_exit(0);
    }
    ASSERT_TRUE(test::eventually([&] { return std::filesystem::exists(planted); }));
    auto lock = EngineLock::acquire(other.path() / "data/Quotalume",
                                    {4242, "quotalume", "", planted.string()});
    const test::CLIRun read = runCLI({"status", "--short", "--lang", "en"}, other);
    ::kill(server, SIGKILL);
    ::waitpid(server, nullptr, 0);
    EXPECT_EQ(read.exitCode, 1) << read.output;
    EXPECT_EQ(read.output.find("5H"), std::string::npos) << read.output;
}

// Codex answers `used` percent now; the timeline holds the hour before, rising half a point a
// minute to it, as an engine would have kept it.
void keepRisingHour(const FakeCodexHome& codex, double used, std::time_t reset, Date now) {
    codex.write("rate_limits.json", test::codexLimits(used, reset));
    const test::Strings environment = {"CODEX_HOME=" + codex.str()};
    const json first = json::parse(
        runCLI({"status", "--json", "--codex", codex.executable()}, codex, "", environment).output);
    const std::string account = first["snapshot"]["accountFingerprint"];
    UsageTimeline timeline(codex.path() / "data/Quotalume");
    for (int minute = 60; minute > 0; minute -= 2) {
        const RateBucket bucket{
            .limitId = "codex",
            .primary = RateWindow{used - 0.5 * minute, 300, static_cast<double>(reset)},
            .secondary = RateWindow{10, 10080, static_cast<double>(test::weeklyReset())}};
        ASSERT_TRUE(timeline.record({now - std::chrono::minutes(minute), account, {bucket}}, now));
    }
}

// An hour of readings rising half a point a minute, then the engine's own: the forecast
// reaches 100 % where that rate does.
TEST(WatchCommandTest, TheEngineForecastsFromTheReadingsItKeeps) {
    FakeCodexHome codex;
    const Date now = std::chrono::system_clock::now();
    const std::time_t reset = std::chrono::system_clock::to_time_t(now) + 4 * 3600;
    ASSERT_NO_FATAL_FAILURE(keepRisingHour(codex, 40, reset, now));
    Watch engine(codex, onTheFake(codex));
    engine.waitForLine("5H 60% · 7D 90%");
    const json record = json::parse(runCLI({"status", "--json"}, codex).output);
    const auto runsOut =
        parseISO8601(record["windows"][0]["forecast"]["runs_out_at"].get<std::string>());
    ASSERT_TRUE(runsOut) << record;
    EXPECT_LT(std::chrono::abs(*runsOut - (now + std::chrono::minutes(120))),
              std::chrono::minutes(3));
    EXPECT_EQ(record["windows"][1]["forecast"],
              json({{"lasts_until_reset", true}, {"runs_out_at", nullptr}}))
        << "the weekly window's figure never moved";
}

// Usage rising from 60 % to 95 % at a pace that runs out before the reset: one warning per
// level crossed and one forecast, each recorded and delivered once.
TEST(WatchCommandTest, WarnsOncePerLevelAndOnceOfTheForecast) {
    FakeCodexHome codex;
    test::HTTPReceiver receiver;
    test::saveWebhookOn(codex, receiver.url(), /*warnings=*/true);
    const Date now = std::chrono::system_clock::now();
    const std::time_t reset = std::chrono::system_clock::to_time_t(now) + 4 * 3600;
    ASSERT_NO_FATAL_FAILURE(keepRisingHour(codex, 60, reset, now));
    Watch engine(codex, onTheFake(codex));
    engine.waitForLine("5H 40% · 7D 90%");
    for (int used : {70, 76, 80, 85, 91, 95}) {
        codex.write("rate_limits.json", test::codexLimits(used, reset));
        const auto read = runCLI({"status", "--fresh", "--json"}, codex);
        ASSERT_EQ(json::parse(read.output)["windows"][0]["used_percent"], used) << read.output;
    }

    json state;
    ASSERT_TRUE(test::eventually([&] {
        state = json::parse(codex.read("data/Quotalume/state.json"), nullptr, false);
        if (!state.is_object() || state["warnings"].size() != 3) {
            return false;
        }
        for (const json& record : state["warnings"]) {
            if (record["webhookStatus"]["key"] != "webhook.delivered") {
                return false;
            }
        }
        return true;
    })) << state;
    EXPECT_EQ(engine.stop(SIGTERM), 0);
    std::multiset<std::string> sent;
    for (const auto& request : receiver.requests()) {
        const json body = json::parse(request.body);
        EXPECT_EQ(body["event"], "codex.limit.warning");
        sent.insert(body["reason"].get<std::string>() +
                    (body.contains("level_percent") ? " " + body["level_percent"].dump() : ""));
    }
    EXPECT_EQ(sent, (std::multiset<std::string>{"forecast_exhausted", "below_level 25",
                                                "below_level 10"}));
    EXPECT_TRUE(state["records"].empty()) << "no reset";

    const json history = json::parse(runCLI({"history", "--json", "--lang", "en"}, codex).output);
    ASSERT_EQ(history.size(), 3u);
    for (const json& entry : history) {
        EXPECT_EQ(entry["kind"], "warning");
    }
    EXPECT_EQ(history[0]["title"], "5-hour limit: Codex limit running low");
}

// Against the fake: a light read on the schedule and a full one on SIGUSR1; a weekly reset
// that moves, and a banked reset spent eleven minutes ago that reset nothing, each reach the
// receiver once; then the network goes and the last figures stay, stale, said as offline.
TEST(WatchCommandTest, LightScheduledReadsAMovedResetASpentCreditAndOffline) {
    FakeCodexHome codex;
    test::HTTPReceiver receiver;
    test::saveWebhookOn(codex, receiver.url(), /*warnings=*/true);
    const std::time_t now = std::time(nullptr);
    const auto limits = [&](double used, std::time_t fiveHourReset, std::time_t weekly,
                            json credits) {
        json answer = json::parse(test::codexLimits(used, fiveHourReset));
        answer["rateLimits"]["secondary"]["resetsAt"] = weekly;
        answer["rateLimitResetCredits"] = {{"availableCount", credits.size()},
                                           {"credits", std::move(credits)}};
        return answer;
    };
    const json credit = {{"id", "c2"}, {"status", "available"}, {"title", "Autumn reset"}};
    const std::time_t weekly = test::weeklyReset();
    // The first read, then the schedule's just after the five-hour reset, then SIGUSR1's.
    codex.write("rate_limits.sequence.json",
                json::array({limits(40, now + 3, weekly, {credit}),
                             limits(0, now + 5 * 3600, weekly, {credit}),
                             limits(5, now + 5 * 3600, weekly + 86400, {credit})})
                    .dump());
    MonitorState spent;
    spent.creditUses.push_back(
        {"c1", "Spring reset", std::chrono::system_clock::now() - std::chrono::minutes(11)});
    StateStore(codex.path() / "data/Quotalume").save(spent);

    Watch watch(codex, onTheFake(codex));
    watch.waitForLine("5H 100% · 7D 90%");
    ::kill(watch.pid(), SIGUSR1);
    watch.waitForLine("5H 95% · 7D 90%");
    std::multiset<std::string> sent;
    ASSERT_TRUE(test::eventually([&] {
        sent.clear();
        for (const auto& request : receiver.requests()) {
            const json body = json::parse(request.body);
            sent.insert(body.value("reason", "") + " " + body.value("window", "") + " " +
                        body.value("detail", ""));
        }
        return sent.size() >= 3;
    })) << receiver.requests().size();
    EXPECT_EQ(sent,
              (std::multiset<std::string>{"restored_to_full five_hour ", "reset_moved weekly ",
                                          "reset_credit_not_applied  c1"}));
    const std::vector<std::string> reads = [&] {
        std::vector<std::string> found;
        std::istringstream lines(codex.read("params"));
        for (std::string line; std::getline(lines, line);) {
            if (line.starts_with("account/rateLimits/read\t")) {
                found.push_back(line.substr(line.find('\t') + 1));
            }
        }
        return found;
    }();
    ASSERT_GE(reads.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(reads.begin(), reads.begin() + 3),
              (std::vector<std::string>{"-", R"({"excludeResetCreditDetails":true})", "-"}));

    // The network gone: the figures stay, marked stale, and the message says why.
    codex.write("offline", "");
    const auto offline = runCLI({"status", "--fresh", "--lang", "en"}, codex);
    EXPECT_NE(offline.output.find("! 5H 95% · 7D 90%"), std::string::npos) << offline.output;
    EXPECT_NE(offline.output.find("Codex could not reach its servers — check the network "
                                  "connection (workspace routing discovery failed)"),
              std::string::npos)
        << offline.output;
    EXPECT_EQ(watch.stop(SIGTERM), 0);
    EXPECT_EQ(receiver.requests().size(), 3u) << "each once";
}

TEST(WatchCommandTest, BarsShowAFailureAsAnErrorModuleAndExitZero) {
    test::TempDir home;
    // A folder in the lock's place: no engine can run here.
    std::filesystem::create_directories(home.path() / "data/Quotalume" / EngineLock::fileName);
    const struct {
        const char* name;
        test::Strings arguments;
        int exitCode;
        std::string output;  // after the message on standard error
    } rows[] = {
        {"watch", {"watch"}, 1, ""},
        {"watch --waybar", {"watch", "--waybar"}, 0, "{\"class\":\"error\",\"text\":\"No data\""},
        {"watch --i3blocks", {"watch", "--i3blocks"}, 0, "No data\n"},
        {"status --i3blocks",
         {"status", "--i3blocks", "--codex", "/nonexistent"},
         0,
         "No data\nNo data\n#FF5555\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const test::CLIRun run = runCLI(joined(row.arguments, {"--lang", "en"}), home);
        EXPECT_EQ(run.exitCode, row.exitCode);
        // Standard error is unbuffered: the message comes first.
        const std::size_t end = run.output.find('\n') + 1;
        EXPECT_TRUE(run.output.starts_with("quotalume-cli: ")) << run.output;
        EXPECT_TRUE(run.output.substr(end).starts_with(row.output)) << run.output;
    }
}

TEST(WatchCommandTest, DemonstrationRunsBesideAnEngine) {
    test::TempDir home;
    auto lock = EngineLock::acquire(home.path() / "data" / "Quotalume", {4242, "quotalume", ""});
    ASSERT_TRUE(lock);
    Watch demo(home, {"--demo", "--waybar", "--lang", "en"});
    const std::string first = demo.waitForLine("");
    const json module = json::parse(first.substr(0, first.find('\n')));
    EXPECT_EQ(module["text"], "5H 76% · 7D 61%");
    EXPECT_EQ(demo.stop(SIGTERM), 0);
    // A watch beside an engine that serves nothing says who runs it, and waits for it.
    Watch follower(home, {"--lang", "en"});
    const std::string busy = L10n::text("engine.busy_app", "4242", AppLanguage::english);
    EXPECT_EQ(follower.waitForLine("No data · " + busy), "No data · " + busy + "\n");
}

// The saved source is the fake, so that a view that must read Codex itself can.
void saveSource(const FakeCodexHome& codex) {
    FilePreferencesStore preferences(codex.path() / "config/Quotalume/defaults.json");
    Settings{.codexPath = codex.executable(), .codexHome = codex.str()}.save(preferences);
}

// The webhook on to `receiver`, the five-hour window half used until `reset`: a watch's options.
std::vector<std::string> halfUsedWithAReceiver(const FakeCodexHome& codex,
                                               const test::HTTPReceiver& receiver,
                                               std::time_t reset) {
    test::saveWebhookOn(codex, receiver.url());
    codex.write("rate_limits.json", test::codexLimits(50, reset));
    return onTheFake(codex);
}

// Deleting the lock file under a running engine makes no second engine: the second watch
// follows, the engine puts the file back, and a reset goes out once.
TEST(WatchCommandTest, ADeletedLockFileMakesNoSecondEngine) {
    FakeCodexHome codex;
    test::HTTPReceiver receiver;
    const std::time_t reset = std::time(nullptr) + 3600;
    const std::vector<std::string> options = halfUsedWithAReceiver(codex, receiver, reset);
    Watch first(codex, options);
    first.waitForLine("5H 50% · 7D 90%");
    ASSERT_TRUE(std::filesystem::remove(codex.path() / "data/Quotalume" / EngineLock::fileName));
    Watch second(codex, options);
    // Started while no lock file names the engine: it waits, and says who it waits for.
    second.waitForLine(
        "No data \u00b7 Another Quotalume (the tray app or quotalume-cli watch) is "
        "already monitoring your limits. Quit it first, or read the limits once "
        "with quotalume-cli status.",
        std::chrono::seconds(10));
    ::kill(first.pid(), SIGUSR1);  // its reading puts the lock file back
    ASSERT_TRUE(becomesTheEngine(codex, first.pid()));
    EXPECT_TRUE(second.waitForLine("5H 50% · 7D 90%").ends_with("5H 50% · 7D 90%\n"));

    codex.write("rate_limits.json", test::codexLimits(0, reset));
    // Asked again until read: the reading that put the lock file back may still run, and a
    // refresh asked meanwhile is dropped.
    ASSERT_TRUE(test::eventually(
        [&] {
            for (const Watch* watch : {&first, &second}) {
                ::kill(watch->pid(), SIGUSR1);
            }
            return second.waitForLine("5H 100% · 7D 90%", std::chrono::seconds(1))
                .ends_with("5H 100% · 7D 90%\n");
        },
        std::chrono::seconds(30)));
    ASSERT_TRUE(test::eventually([&] { return receiver.requests().size() >= 1; }));
    std::this_thread::sleep_for(std::chrono::seconds(1));
    ::kill(second.pid(), SIGUSR1);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_EQ(receiver.requests().size(), 1u) << "announced once";
    const json history = json::parse(runCLI({"history", "--json"}, codex).output);
    EXPECT_EQ(history.size(), 1u) << history;
}

// An engine serving as many views as it takes answers one more "busy": `status` then shows the
// reading the engine saved, starting no Codex, and a new watch waits and follows.
TEST(WatchCommandTest, ABusyEngineSaysSoAndViewsNeverStartACodexBesideIt) {
    FakeCodexHome codex;
    saveSource(codex);
    codex.write("rate_limits.json", test::codexLimits(30, std::time(nullptr) + 3600));
    Watch engine(codex, {"--lang", "en"});
    engine.waitForLine("5H 70% · 7D 90%");
    const EngineHolder holder = servingEngine(codex);
    const std::size_t started = codex.starts();

    // 200 views at once beside an engine that serves: every one answered, no Codex started.
    // (50 under the sanitizers, whose processes cost two cores ten times as much to start.)
    const int viewCount = test::underAddressSanitizer ? 50 : 200;
    std::vector<std::unique_ptr<ChildProcess>> views;
    for (int i = 0; i < viewCount; ++i) {
        views.push_back(std::make_unique<ChildProcess>(
            test::cliProcess(codex, {"status", "--short", "--lang", "en"})));
    }
    int answered = 0;
    for (const auto& view : views) {
        view->closeInput();
        std::string output;
        char chunk[4096];
        for (ssize_t n; (n = ::read(view->output(), chunk, sizeof chunk)) > 0;) {
            output.append(chunk, static_cast<std::size_t>(n));
        }
        answered += view->waitForExit(std::chrono::seconds(60)) && view->exitCode() == 0 &&
                    output.find("5H 70 · 7D 90\n") != std::string::npos;
    }
    EXPECT_EQ(answered, viewCount);
    EXPECT_EQ(codex.starts(), started);

    std::vector<EngineChannel> held;
    while (held.size() < 32) {
        auto channel = EngineChannel::connect(holder.socket);
        ASSERT_TRUE(channel && channel->send(R"({"request":"subscribe"})"));
        ASSERT_TRUE(channel->awaitLine(std::chrono::steady_clock::now() + std::chrono::seconds(5)));
        held.push_back(std::move(*channel));
    }
    const test::CLIRun busy = runCLI({"status", "--short", "--lang", "en"}, codex);
    EXPECT_EQ(busy.exitCode, 0) << busy.output;
    EXPECT_NE(busy.output.find("The engine (process " + std::to_string(engine.pid()) +
                               ") is busy serving other views; this is the reading it last saved."),
              std::string::npos)
        << busy.output;
    EXPECT_NE(busy.output.find("5H 70 · 7D 90\n"), std::string::npos) << busy.output;
    EXPECT_EQ(codex.starts(), started);

    Watch follower(codex, {"--lang", "en"});
    std::this_thread::sleep_for(std::chrono::seconds(1));
    held.pop_back();
    EXPECT_EQ(follower.waitForLine("5H 70% · 7D 90%"), "5H 70% · 7D 90%\n");
    EXPECT_EQ(codex.starts(), started);
}

// An engine that takes no request (stopped) is named, and the view reads Codex itself.
TEST(WatchCommandTest, AnEngineThatDoesNotAnswerIsNamedAndCodexReadInstead) {
    FakeCodexHome codex;
    saveSource(codex);
    codex.write("rate_limits.json", test::codexLimits(30, std::time(nullptr) + 3600));
    Watch engine(codex, {"--lang", "en"});
    engine.waitForLine("5H 70% · 7D 90%");
    codex.write("rate_limits.json", test::codexLimits(45, std::time(nullptr) + 3600));
    ::kill(engine.pid(), SIGSTOP);
    const auto begin = std::chrono::steady_clock::now();
    const test::CLIRun read = runCLI({"status", "--short", "--lang", "en"}, codex);
    const auto waited = std::chrono::steady_clock::now() - begin;
    ::kill(engine.pid(), SIGCONT);
    EXPECT_EQ(read, (test::CLIRun{0, "quotalume-cli: The engine (process " +
                                         std::to_string(engine.pid()) +
                                         ") is not answering, so Codex is read directly.\n"
                                         "5H 55 · 7D 90\n"}));
    EXPECT_LT(waited, std::chrono::seconds(15)) << "not the 30 s it once waited";

    // A refresh that takes longer than that is said to be on its way, and waited for.
    codex.write("script", "sleep 3000\nserve\n");
    codex.write("rate_limits.json", test::codexLimits(60, std::time(nullptr) + 3600));
    EXPECT_EQ(runCLI({"status", "--fresh", "--short", "--lang", "en"}, codex),
              (test::CLIRun{0, "5H 40 · 7D 90\n"}));
}

// A socket left by an engine that was killed is removed by the next engine; a live one stays.
TEST(WatchCommandTest, TheNextEngineRemovesTheSocketsOfDeadOnes) {
    FakeCodexHome codex;
    codex.write("rate_limits.json", test::codexLimits(30, std::time(nullptr) + 3600));
    const std::filesystem::path folder = codex.path() / "run/quotalume";
    std::filesystem::create_directories(folder);
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
    ::close(test::unixSocket(folder / "engine-999999.sock"));  // the name stays; nobody listens
    const int live = test::unixSocket(folder / "engine-999998.sock");
    ASSERT_GE(live, 0);
    codex.write("run/quotalume/engine-notes.txt", "kept");
    Watch engine(codex, onTheFake(codex));
    engine.waitForLine("5H 70% · 7D 90%");
    EXPECT_FALSE(std::filesystem::exists(folder / "engine-999999.sock"));
    EXPECT_TRUE(std::filesystem::exists(folder / "engine-999998.sock"));
    EXPECT_TRUE(std::filesystem::exists(folder / "engine-notes.txt"));
    ::close(live);
}

// A view that becomes the engine records and announces from then on, once.
TEST(WatchCommandTest, AFollowerThatBecomesTheEngineRecordsAndAnnouncesOnce) {
    FakeCodexHome codex;
    test::HTTPReceiver receiver;
    const std::time_t reset = std::time(nullptr) + 3600;
    const std::vector<std::string> options = halfUsedWithAReceiver(codex, receiver, reset);
    Watch engine(codex, options);
    engine.waitForLine("5H 50% · 7D 90%");
    Watch follower(codex, options);
    follower.waitForLine("5H 50% · 7D 90%");
    // Restored while the engine hands over: the new one compares with what the old one kept.
    codex.write("rate_limits.json", test::codexLimits(0, reset));
    EXPECT_EQ(engine.stop(SIGTERM), 0);
    ASSERT_TRUE(becomesTheEngine(codex, follower.pid()));
    ASSERT_TRUE(test::eventually([&] {
        ::kill(follower.pid(), SIGUSR1);
        return follower.waitForLine("5H 100% · 7D 90%", std::chrono::seconds(1))
            .ends_with("5H 100% · 7D 90%\n");
    }));
    ASSERT_TRUE(test::eventually([&] { return !receiver.requests().empty(); }));
    ::kill(follower.pid(), SIGUSR1);
    EXPECT_EQ(follower.stop(SIGTERM), 0);
    EXPECT_EQ(receiver.requests().size(), 1u);
    const json history = json::parse(runCLI({"history", "--json", "--lang", "en"}, codex).output);
    ASSERT_EQ(history.size(), 1u) << history;
    EXPECT_EQ(history[0]["title"], "Codex: 5-hour limit reset");
}

}  // namespace
}  // namespace quotalume
