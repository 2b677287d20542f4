// What the tray application costs while nobody looks at it, beside a program that shows one
// tray icon and nothing else, both in one session: a bus of their own with a panel's
// StatusNotifierWatcher on it.
//
//   rest_bench APP MINIMAL WINDOW_BENCH SECONDS
//
// Prints "name value" lines: the time from launch to the tray item registered (median of nine
// launches each); over SECONDS at rest, the wakeups (context switches of all threads) and CPU
// time per minute and the resident memory of each; the readings the application took at a
// 300-second interval; and how often a second instance, reading every 15 s figures that never
// change, replaced its state file, per hour. Then what window_bench prints: the application's
// resident memory at rest and after its dashboard and settings window were opened and closed.

#include "bench_process.hpp"
#include "private_bus.hpp"
#include "test_support.hpp"

#include <quotalume/preferences/preferences_store.hpp>
#include <quotalume/preferences/settings.hpp>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace quotalume {
namespace {

namespace fs = std::filesystem;

struct Usage {
    long long wakeups = 0;
    double cpuSeconds = 0;
    long long residentKiB = 0;
};

Usage usageOf(qint64 pid) {
    const fs::path proc = "/proc/" + std::to_string(pid);
    Usage usage;
    for (const auto& task : fs::directory_iterator(proc / "task")) {
        usage.wakeups += bench::statusField(task.path() / "status", "voluntary_ctxt_switches") +
                         bench::statusField(task.path() / "status", "nonvoluntary_ctxt_switches");
    }
    std::ifstream stat(proc / "stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    // utime and stime: the 12th and 13th fields after the parenthesised name.
    std::istringstream after(text.substr(text.rfind(')') + 2));
    std::string skipped;
    for (int i = 0; i < 11; ++i) {
        after >> skipped;
    }
    double user = 0, system = 0;
    after >> user >> system;
    usage.cpuSeconds = (user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
    usage.residentKiB = bench::statusField(proc / "status", "VmRSS");
    return usage;
}

// A home of its own for each instance: preferences, data, runtime folder.
class Instance {
public:
    Instance(const QString& program, const QString& bus, std::optional<double> interval,
             test::FakeCodexHome* codex) {
        for (const char* folder : {"config", "data", "state", "runtime"}) {
            fs::create_directories(home_.path() / folder);
        }
        fs::permissions(home_.path() / "runtime", fs::perms::owner_all);
        if (interval) {
            FilePreferencesStore preferences(home_.path() / "config" / "Quotalume" /
                                             "defaults.json");
            Settings{.refreshInterval = *interval,
                     .notificationsEnabled = false,
                     .codexPath = test::FakeCodexHome::executable(),
                     .codexHome = codex->str()}
                .save(preferences);
        }
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", QString::fromStdString(home_.str()));
        environment.insert("XDG_CONFIG_HOME", QString::fromStdString(home_.str() + "/config"));
        environment.insert("XDG_DATA_HOME", QString::fromStdString(home_.str() + "/data"));
        environment.insert("XDG_STATE_HOME", QString::fromStdString(home_.str() + "/state"));
        environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(home_.str() + "/runtime"));
        environment.insert("DBUS_SESSION_BUS_ADDRESS", bus);
        process_.setProcessEnvironment(environment);
        process_.setProgram(program);
        process_.setStandardOutputFile(QProcess::nullDevice());
        process_.setStandardErrorFile(QProcess::nullDevice());
    }
    ~Instance() {
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished();
        }
    }

    void start() { process_.start(); }
    // Runs `program` with `arguments` in this home to its end; what it printed. The events keep
    // running meanwhile: the panel's watcher lives in this process, and a program whose tray
    // host never answers falls back to an embedded tray window.
    QByteArray run(const QString& program, const QStringList& arguments) {
        QProcess once;
        once.setProcessEnvironment(process_.processEnvironment());
        once.start(program, arguments);
        test::waitUntil([&] { return once.state() == QProcess::NotRunning; },
                        std::chrono::minutes(2));
        return once.readAllStandardOutput();
    }
    qint64 pid() const { return process_.processId(); }
    // The state file's inode: a replacement is a new one.
    ino_t stateFile() const {
        struct stat info {};
        const fs::path file = home_.path() / "data" / "Quotalume" / "state.json";
        return ::stat(file.c_str(), &info) == 0 ? info.st_ino : 0;
    }

private:
    test::TempDir home_;
    QProcess process_;
};

// Milliseconds from launch until the program's tray item is registered; the median of nine.
double timeToTrayItem(const QString& program, const QString& bus,
                      test::FakeStatusNotifierWatcher& watcher, test::FakeCodexHome& codex) {
    std::vector<double> times;
    for (int run = 0; run < 9; ++run) {
        const auto before = watcher.items.size();
        Instance instance(program, bus, 300.0, &codex);
        QElapsedTimer timer;
        timer.start();
        instance.start();
        while (watcher.items.size() == before && timer.elapsed() < 20000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        }
        times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

int run(const QString& app, const QString& minimal, const QString& windowBench, int seconds) {
    test::PrivateBus bus;
    if (bus.address().isEmpty()) {
        std::fputs("rest_bench: no dbus-daemon\n", stderr);
        return 1;
    }
    test::FakeStatusNotifierWatcher watcher(bus.connect(), true);
    // Figures that never change, so only the reading's time differs from one to the next.
    const auto fake = [](test::FakeCodexHome& codex) {
        codex.write("rate_limits.json",
                    R"({"accountId":"a","rateLimits":{"limitId":"codex","primary":)"
                    R"({"usedPercent":20,"windowDurationMins":300,"resetsAt":4000000000},)"
                    R"("secondary":{"usedPercent":40,"windowDurationMins":10080,)"
                    R"("resetsAt":4000600000}}})");
        codex.write("account.json", R"({"account":{"type":"chatgpt","email":"a@b.c"}})");
    };
    test::FakeCodexHome codex, restingCodex, readingCodex;
    fake(codex);
    fake(restingCodex);
    fake(readingCodex);

    std::printf("start_app_ms %.1f\n", timeToTrayItem(app, bus.address(), watcher, codex));
    std::printf("start_minimal_ms %.1f\n", timeToTrayItem(minimal, bus.address(), watcher, codex));

    Instance resting(app, bus.address(), 300.0, &restingCodex);
    Instance reading(app, bus.address(), 15.0, &readingCodex);
    Instance floor(minimal, bus.address(), std::nullopt, nullptr);
    resting.start();
    reading.start();
    floor.start();
    bench::pump(10000);  // started, registered, the first readings taken
    const std::size_t linesBefore = restingCodex.receivedLines().size();
    const Usage appBefore = usageOf(resting.pid()), floorBefore = usageOf(floor.pid());
    ino_t state = reading.stateFile();
    int writes = 0;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < seconds * 1000LL) {
        bench::pump(250);
        if (const ino_t now = reading.stateFile(); now != state) {
            state = now;
            writes += 1;
        }
    }
    const double minutes = static_cast<double>(timer.elapsed()) / 60000.0;
    const Usage appAfter = usageOf(resting.pid()), floorAfter = usageOf(floor.pid());
    const auto perMinute = [&](double value) { return value / minutes; };
    std::printf("wakeups_app_per_min %.2f\n",
                perMinute(static_cast<double>(appAfter.wakeups - appBefore.wakeups)));
    std::printf("wakeups_minimal_per_min %.2f\n",
                perMinute(static_cast<double>(floorAfter.wakeups - floorBefore.wakeups)));
    std::printf("cpu_app_ms_per_min %.2f\n",
                perMinute(1000 * (appAfter.cpuSeconds - appBefore.cpuSeconds)));
    std::printf("cpu_minimal_ms_per_min %.2f\n",
                perMinute(1000 * (floorAfter.cpuSeconds - floorBefore.cpuSeconds)));
    std::printf("resident_app_kib %lld\n", appAfter.residentKiB);
    std::printf("resident_minimal_kib %lld\n", floorAfter.residentKiB);
    // The application in window_bench, at rest and after its windows were opened and closed.
    Instance windows(QString(), bus.address(), 300.0, &restingCodex);
    std::fputs(windows.run(windowBench, {}).constData(), stdout);
    // Four lines a reading: initialize, initialized, account and limits.
    std::printf("readings_app %zu\n", (restingCodex.receivedLines().size() - linesBefore) / 4);
    std::printf("state_writes_per_hour %.2f\n", writes * 60.0 / minutes);
    return 0;
}

}  // namespace
}  // namespace quotalume

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    if (argc != 5) {
        std::fputs("usage: rest_bench APP MINIMAL WINDOW_BENCH SECONDS\n", stderr);
        return 2;
    }
    return quotalume::run(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]),
                          QString::fromLocal8Bit(argv[3]), std::atoi(argv[4]));
}
