// The whole application on a bus of its own, reading a fake Codex every 100 ms whose figures
// change but never fall to zero (resets would grow the history): how much the heap grows over
// the readings once Qt's caches have filled.
//
//   heap_bench [READINGS]   (default 450; the first 200 warm up)
//
// Prints "name value" lines: readings, heap_before_kib, heap_after_kib, heap_growth_kib.

#include "quotalume_application.hpp"

#include "private_bus.hpp"
#include "test_support.hpp"

#include <quotalume/preferences/settings.hpp>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using namespace quotalume;
using namespace std::chrono_literals;

int measure(std::size_t total) {
    test::PrivateBus bus;
    if (bus.address().isEmpty()) {
        std::fputs("heap_bench: no dbus-daemon\n", stderr);
        return 1;
    }
    test::FakeStatusNotifierWatcher watcher(bus.connect(), true);
    // Read by Qt's tray and our probe when they first use the session bus, which is now.
    test::ScopedEnvironment session("DBUS_SESSION_BUS_ADDRESS", bus.address().toStdString());
    test::TempDir data;
    test::ScopedEnvironment folder("XDG_DATA_HOME", data.str());

    test::FakeCodexHome codex;
    const auto figures = [&](int reading) {
        codex.write(
            "rate_limits.json",
            R"({"accountId":"a","rateLimits":{"limitId":"codex","primary":{"usedPercent":)" +
                std::to_string(1 + reading % 97) +
                R"(,"windowDurationMins":300,"resetsAt":1900000000},"secondary":{"usedPercent":)" +
                std::to_string(1 + reading % 37) +
                R"(,"windowDurationMins":10080,"resetsAt":1900600000}}})");
    };
    figures(0);
    codex.write("account.json", R"({"account":{"type":"chatgpt","email":"a@b.c"}})");
    auto preferences = std::make_shared<MemoryPreferencesStore>();
    Settings{.notificationsEnabled = false,
             .codexPath = test::FakeCodexHome::executable(),
             .codexHome = codex.str()}
        .save(*preferences);
    ScopedStandardPreferences standard(preferences);
    FolderEngineGuard engine(data.path() / "Quotalume", {::getpid(), "quotalume", ""});

    const auto readings = [&] { return codex.receivedLines().size() / 4; };
    int changed = 0;
    QTimer changing;
    QObject::connect(&changing, &QTimer::timeout, [&] { figures(++changed); });
    changing.start(50);

    QuotalumeApplication application({.refreshInterval = 100ms}, &engine);
    // Qt's caches of glyphs and images fill for the first few hundred readings, then hold.
    const std::size_t warmUp = std::min<std::size_t>(200, total / 2);
    if (!test::waitUntil([&] { return readings() >= warmUp; }, 120s)) {
        std::fputs("heap_bench: the application stopped reading\n", stderr);
        return 1;
    }
    const std::size_t before = test::liveHeapBytes();
    if (!test::waitUntil([&] { return readings() >= total; }, 600s)) {
        std::fputs("heap_bench: the application stopped reading\n", stderr);
        return 1;
    }
    const std::size_t after = test::liveHeapBytes();
    std::printf("readings %zu\nheap_before_kib %.1f\nheap_after_kib %.1f\nheap_growth_kib %.1f\n",
                readings(), before / 1024.0, after / 1024.0,
                (static_cast<double>(after) - static_cast<double>(before)) / 1024);
    return 0;
}

}  // namespace

// Before the application exists: offscreen, English, and XDG folders that keep user files out.
int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const QTemporaryDir root;
    for (const char* variable : {"XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"}) {
        const QString folder = root.filePath(QString::fromLatin1(variable));
        if (!root.isValid() ||
            !QDir().mkdir(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) {
            return 1;
        }
        setenv(variable, QFile::encodeName(folder).constData(), 1);
    }
    setenv("LANGUAGE", "en", 1);
    setenv("LC_ALL", "C.UTF-8", 1);
    QApplication application(argc, argv);
    const std::size_t total = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 450;
    return measure(total);
}
