// The tray application in a process of its own, linked as `quotalume` is, that opens its
// dashboard and settings window and closes them again: what it keeps afterwards. Run by
// rest_bench, in a home and a session of its making.
//
// Prints "name value" lines: resident KiB at rest, just after the windows closed, and a minute
// later, once the closed dashboard has gone too.

#include "bench_process.hpp"
#include "core_ports.hpp"
#include "quotalume_application.hpp"

#include <QApplication>
#include <QWidget>

#include <unistd.h>

#include <cstdio>
#include <filesystem>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const std::filesystem::path data = qEnvironmentVariable("XDG_DATA_HOME").toStdString();
    quotalume::FolderEngineGuard engine(data / "Quotalume", {::getpid(), "quotalume", ""});
    quotalume::QuotalumeApplication app({}, &engine);
    const auto resident = [](const char* name) {
        std::printf("%s %lld\n", name, quotalume::bench::statusField("/proc/self/status", "VmRSS"));
    };
    quotalume::bench::pump(15000);
    resident("resident_windows_rest_kib");
    app.reopen(false);
    quotalume::bench::pump(2000);
    app.reopen(true);
    quotalume::bench::pump(2000);
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible()) {
            window->close();
        }
    }
    quotalume::bench::pump(5000);
    resident("resident_windows_closed_kib");
    quotalume::bench::pump(60000);  // the dashboard is kept a minute for the next click
    resident("resident_windows_released_kib");
    return 0;
}
