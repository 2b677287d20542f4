#include "single_instance.hpp"
#include "linux/local_server.hpp"
#include "private_bus.hpp"
#include "test_support.hpp"

#include <quotalume/coordination/engine_lock.hpp>
#include <quotalume/preferences/preferences_store.hpp>
#include <quotalume/preferences/settings.hpp>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

namespace quotalume {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// Real launches of the app, offscreen, in folders of their own and without a session bus.
class Launches {
public:
    Launches() {
        const auto folder = [&](const char* name) {
            fs::create_directory(root_.path() / name, root_.path());  // owner-only, as the root
            return QString::fromStdString((root_.path() / name).string());
        };
        runtime_ = folder("run");
        const QString noBus = QString::fromStdString("unix:path=" + root_.str() + "/no-bus");
        environment_ = QProcessEnvironment::systemEnvironment();
        for (const auto& [name, value] : {std::pair{"XDG_RUNTIME_DIR", runtime_},
                                          {"XDG_CONFIG_HOME", folder("config")},
                                          {"XDG_DATA_HOME", folder("data")},
                                          {"HOME", folder("home")},
                                          {"DBUS_SESSION_BUS_ADDRESS", noBus},
                                          {"DBUS_SYSTEM_BUS_ADDRESS", noBus},
                                          {"QT_QPA_PLATFORM", QStringLiteral("offscreen")},
                                          {"LANGUAGE", QStringLiteral("en")}}) {
            environment_.insert(name, value);
        }
    }
    ~Launches() {
        for (auto& process : processes_) {
            process->kill();
            process->waitForFinished();
        }
    }

    QProcess& start(const QStringList& arguments, const char* program = QUOTALUME_APP) {
        auto& process = *processes_.emplace_back(std::make_unique<QProcess>());
        process.setProcessEnvironment(environment_);
        process.start(QString::fromUtf8(program), arguments);
        EXPECT_TRUE(process.waitForStarted());
        return process;
    }
    void useBus(const QString& address) {
        environment_.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
    }

    QString lockPath() const { return runtime_ + "/quotalume.lock"; }
    fs::path configFolder() const { return root_.path() / "config"; }
    fs::path dataFolder() const { return root_.path() / "data" / "Quotalume"; }
    QString socketPath() const { return runtime_ + "/quotalume.socket"; }

    // True once `process` holds the lock and listens beside it.
    bool waitUntilListening(QProcess& process) const {
        const QDeadlineTimer deadline(20'000);
        while (!deadline.hasExpired() && process.state() == QProcess::Running) {
            QFile lock(lockPath());
            if (lock.open(QIODevice::ReadOnly) &&
                lock.readLine().trimmed().toLongLong() == process.processId() &&
                QFile::exists(socketPath())) {
                return true;
            }
            QThread::msleep(20);
        }
        return false;
    }

private:
    TempDir root_;
    QString runtime_;
    QProcessEnvironment environment_;
    std::vector<std::unique_ptr<QProcess>> processes_;
};

bool exitsCleanly(QProcess& process) {
    return process.waitForFinished(15'000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

TEST(SingleInstanceTest, LaunchesBesideARunningInstance) {
    const QStringList plain;
    const QStringList demo{"--demo"};
    struct Row {
        const char* name;
        QStringList first;
        bool killFirst;  // as a crash would, leaving its lock and socket behind
        QStringList second;
        bool secondForwards;  // exits at once after the first answered its reopen
    };
    for (const auto& row : {
             Row{"a second launch reopens the first", plain, false, plain, true},
             Row{"so does one for the settings", plain, false, {"--settings"}, true},
             Row{"a demo runs beside the instance", plain, false, demo, false},
             Row{"a crashed instance's lock is taken over", plain, true, plain, false},
         }) {
        SCOPED_TRACE(row.name);
        Launches launches;
        QProcess& first = launches.start(row.first);
        if (row.first.isEmpty()) {
            ASSERT_TRUE(launches.waitUntilListening(first));
        }
        if (row.killFirst) {
            first.kill();
            first.waitForFinished();
            ASSERT_TRUE(QFile::exists(launches.lockPath()));
            ASSERT_TRUE(QFile::exists(launches.socketPath()));
        }
        QProcess& second = launches.start(row.second);
        if (row.secondForwards) {
            EXPECT_TRUE(exitsCleanly(second)) << second.readAllStandardError().toStdString();
        } else if (row.second.isEmpty()) {
            EXPECT_TRUE(launches.waitUntilListening(second));
        } else {
            EXPECT_FALSE(second.waitForFinished(1500))
                << second.readAllStandardError().toStdString();
        }
        if (!row.killFirst) {
            EXPECT_EQ(first.state(), QProcess::Running);
        }
        // Whichever plain launch runs now answers the next one.
        if (!row.first.isEmpty() && !row.second.isEmpty()) {
            continue;
        }
        QProcess& third = launches.start(plain);
        EXPECT_TRUE(exitsCleanly(third)) << third.readAllStandardError().toStdString();
    }
}

TEST(SingleInstanceTest, TheTrayAppBesideAnotherEngineRunsAsItsViewAndSaysWhichOne) {
    struct Row {
        const char* name;
        EngineHolder holder;  // what the lock's record says
        const char* said;
    };
    const Row rows[] = {
        {"a watch", {4242, "quotalume-cli watch", ""}, "quotalume-cli watch (process 4242)"},
        {"a tray app in another session",
         {4243, "quotalume", "/run/user/999"},
         "another session (process 4243, /run/user/999)"},
        {"no record", {}, "Another Quotalume (the tray app or quotalume-cli watch)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Launches launches;
        auto engine = EngineLock::acquire(launches.dataFolder(), row.holder);
        ASSERT_TRUE(engine);
        QProcess& view = launches.start({});
        ASSERT_TRUE(launches.waitUntilListening(view));
        view.setReadChannel(QProcess::StandardError);
        QByteArray said = view.readAllStandardError();
        while (!said.contains(row.said) && view.waitForReadyRead(5000)) {
            said += view.readAllStandardError();
        }
        EXPECT_TRUE(said.contains(row.said)) << said.toStdString();
    }
}

// The app and watches on one bus and data folder, taking turns as the one engine: whoever is
// not the engine shows what it reads and starts no Codex of its own.
TEST(SingleInstanceTest, TheTrayAppAndWatchesTakeTurnsAsTheEngine) {
    test::PrivateBus bus;
    ASSERT_FALSE(bus.address().isEmpty()) << "no dbus-daemon";
    Launches launches;
    launches.useBus(bus.address());
    test::FakeCodexHome codex;
    codex.write("rate_limits.json", R"({"accountId":"a","rateLimits":{"limitId":"codex",
        "primary":{"usedPercent":30,"windowDurationMins":300,"resetsAt":1900000000},
        "secondary":{"usedPercent":10,"windowDurationMins":10080,"resetsAt":1900000000}}})");
    FilePreferencesStore preferences(launches.configFolder() / "Quotalume/defaults.json");
    Settings{.codexPath = codex.executable(), .codexHome = codex.str()}.save(preferences);
    const auto holds = [&](QProcess& process) {
        return test::eventually([&] {
            const auto holder = EngineLock::holder(launches.dataFolder());
            return holder && holder->pid == process.processId();
        });
    };
    // Whether `watch` prints `line` within 20 s, after whatever it showed before the reading.
    const auto prints = [](QProcess& watch, const QByteArray& line) {
        const QDeadlineTimer deadline(20'000);
        while (!deadline.hasExpired()) {
            if (!watch.canReadLine()) {
                watch.waitForReadyRead(100);
            } else if (watch.readLine().trimmed() == line) {
                return true;
            }
        }
        return false;
    };

    QProcess& watch = launches.start({"watch"}, QUOTALUME_CLI);
    EXPECT_TRUE(prints(watch, "5H 70% · 7D 90%"));
    ASSERT_TRUE(holds(watch));
    QProcess& app = launches.start({});
    ASSERT_TRUE(launches.waitUntilListening(app));
    QThread::msleep(1500);  // its first reading, from the watch
    EXPECT_EQ(codex.starts(), 1u);

    // The watch goes; a reading now makes the app the engine, which reads Codex itself.
    watch.terminate();
    EXPECT_TRUE(exitsCleanly(watch));
    // A reading asked for while one runs is dropped, not queued: asked again until one is
    // taken (the app's own reading from the watch may still be on its way).
    ASSERT_TRUE(test::eventually([&] {
        ::kill(static_cast<pid_t>(app.processId()), SIGUSR1);
        const auto holder = EngineLock::holder(launches.dataFolder());
        return holder && holder->pid == app.processId();
    }));
    EXPECT_TRUE(test::eventually([&] { return codex.starts() >= 2; }));
    QThread::msleep(500);
    const auto engineStarts = codex.starts();

    // A watch beside the app prints what the app read, then takes over when it quits.
    QProcess& follower = launches.start({"watch", "--short"}, QUOTALUME_CLI);
    EXPECT_TRUE(prints(follower, "5H 70 · 7D 90"));
    EXPECT_EQ(codex.starts(), engineStarts);
    app.terminate();
    EXPECT_TRUE(exitsCleanly(app));
    EXPECT_TRUE(holds(follower));
}

TEST(SingleInstanceTest, ALockThatCannotBeTakenLeavesTheAppRunningAsAViewer) {
    Launches launches;
    fs::create_directories(launches.dataFolder() / EngineLock::fileName);
    QProcess& app = launches.start({});
    ASSERT_TRUE(launches.waitUntilListening(app)) << app.readAllStandardError().toStdString();
    app.setReadChannel(QProcess::StandardError);
    QByteArray said = app.readAllStandardError();
    while (!said.contains("cannot be taken") && app.waitForReadyRead(5000)) {
        said += app.readAllStandardError();
    }
    EXPECT_TRUE(said.contains("engine.lock cannot be taken (code 21)")) << said.toStdString();
}

TEST(SingleInstanceTest, StopSignalsEndTheAppAsQuitDoes) {
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(::strsignal(signal));
        Launches launches;
        QProcess& app = launches.start({});
        ASSERT_TRUE(launches.waitUntilListening(app));
        ::kill(static_cast<pid_t>(app.processId()), signal);
        EXPECT_TRUE(exitsCleanly(app));
        EXPECT_TRUE(EngineLock::acquire(launches.dataFolder())) << "the engine lock went with it";
    }
}

// Codex started and never answers, ignoring SIGTERM: quitting does not wait out the read. The app
// returns from main at once, with status 0, and its Codex goes with it.
TEST(SingleInstanceTest, QuittingDuringAHangingCodexReadEndsTheAppAtOnce) {
    Launches launches;
    test::FakeCodexHome codex("ignore-term\nhang");
    FilePreferencesStore preferences(launches.configFolder() / "Quotalume" / "defaults.json");
    Settings{.codexPath = codex.executable(), .codexHome = codex.str()}.save(preferences);
    QProcess& app = launches.start({});
    ASSERT_TRUE(launches.waitUntilListening(app));
    const pid_t fake = codex.launchedPid();
    ASSERT_NE(fake, 0);
    const auto asked = std::chrono::steady_clock::now();
    ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
    EXPECT_TRUE(exitsCleanly(app)) << app.readAllStandardError().toStdString();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(2));
    EXPECT_TRUE(test::eventually([&] { return !test::processAlive(fake); }));
}

// The words every version of the tray app has sent, to the one local server the first launch
// runs: only a well-formed launch request is answered, and nothing a view says reopens anything.
TEST(SingleInstanceTest, OnlyAWellFormedRequestIsAnswered) {
    TempDir dir;
    SingleInstance first(QString::fromStdString(dir.str()));
    ASSERT_EQ(first.settle(), SingleInstance::Outcome::first);
    ASSERT_TRUE(first.holdsLock());
    std::vector<QByteArray> reopened;  // each request: what it asked for, and its token
    LocalServer server(first.socketPath().toStdString(),
                       [&](const local_protocol::LaunchRequest& launch) {
                           reopened.push_back((launch.settings ? "settings " : "reopen ") +
                                              QByteArray::fromStdString(launch.token));
                       });

    struct Row {
        QByteArray message;
        std::vector<QByteArray> reopened;
    };
    const QByteArray token = "gnome-shell/Quotalume/7-0-host_TIME42:a.b+c=d@e";
    for (const auto& row :
         {Row{"reopen\n", {"reopen "}}, Row{"settings\n", {"settings "}},
          Row{"settings " + token + "\n", {"settings " + token}},
          Row{QByteArray("reopen a\0b\n", 11), {}}, Row{"reopen \n", {}},
          Row{"reopen " + QByteArray(256, 'x') + "\n", {}}, Row{"quit\n", {}},
          Row{"{\"request\":\"reopen\"}\n", {}}, Row{QByteArray(256 * 1024, 'x'), {}}}) {
        SCOPED_TRACE(row.message.left(40).toStdString());
        reopened.clear();
        QLocalSocket client;
        client.connectToServer(first.socketPath());
        ASSERT_TRUE(client.waitForConnected(5000));
        client.write(row.message);
        client.flush();
        QByteArray reply;
        const QDeadlineTimer deadline(5000);
        while (client.state() == QLocalSocket::ConnectedState && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            client.waitForReadyRead(10);
            reply += client.readAll();
        }
        EXPECT_EQ(client.state(), QLocalSocket::UnconnectedState) << "the server hangs up";
        EXPECT_EQ(reply, row.reopened.empty() ? QByteArray() : QByteArray("ok\n"));
        EXPECT_EQ(reopened, row.reopened);
    }

    // A second instance, which blocks while it asks, is answered through the event loop.
    reopened.clear();
    std::atomic<bool> done = false;
    SingleInstance::Outcome outcome = SingleInstance::Outcome::first;
    std::thread second([&] {
        SingleInstance instance(QString::fromStdString(dir.str()));
        outcome = instance.settle(true, std::chrono::seconds(10), "t-1");
        done = true;
    });
    const QDeadlineTimer deadline(15'000);
    while (!done && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    second.join();
    EXPECT_EQ(outcome, SingleInstance::Outcome::forwarded);
    EXPECT_EQ(reopened, std::vector<QByteArray>{"settings t-1"});
}

TEST(SingleInstanceTest, TheLaunchTokenIsWaylandsElseX11sWhenItCanBePassedOn) {
    test::ScopedEnvironment x11("DESKTOP_STARTUP_ID", "xfce4-panel-12-host_TIME9");
    test::ScopedEnvironment wayland("XDG_ACTIVATION_TOKEN", "kwin-7");
    EXPECT_EQ(SingleInstance::launchToken(), "kwin-7");
    ::setenv("XDG_ACTIVATION_TOKEN", "a\nb", 1);
    EXPECT_EQ(SingleInstance::launchToken(), "") << "one that cannot be passed on";
    ::unsetenv("XDG_ACTIVATION_TOKEN");
    EXPECT_EQ(SingleInstance::launchToken(), "xfce4-panel-12-host_TIME9");

    // Forwarded to the running one, a token goes where Qt's Wayland shell takes it from.
    SingleInstance::applyToken("sway-3", QStringLiteral("offscreen"));
    EXPECT_FALSE(qEnvironmentVariableIsSet("XDG_ACTIVATION_TOKEN"));
    SingleInstance::applyToken("a\nb", QStringLiteral("wayland"));
    EXPECT_FALSE(qEnvironmentVariableIsSet("XDG_ACTIVATION_TOKEN"));
    SingleInstance::applyToken("sway-3", QStringLiteral("wayland-egl"));
    EXPECT_EQ(qgetenv("XDG_ACTIVATION_TOKEN"), "sway-3");
}

}  // namespace
}  // namespace quotalume
