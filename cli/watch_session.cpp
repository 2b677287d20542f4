#include "watch_session.hpp"

#include "core_ports.hpp"
#include "linux/freedesktop_notification_center.hpp"
#include "linux/linux_system_signals.hpp"
#include "linux/stop_signals.hpp"
#include "linux/xdg_autostart_login_items.hpp"
#include "qt_main_loop.hpp"
#include "system_clock.hpp"
#include "usage_monitor.hpp"
#include "watch_line.hpp"

#include <quotalume/child_process.hpp>

#include <QCoreApplication>
#include <QSocketNotifier>

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace quotalume::cli {

void runWatchSession(const WatchOptions& options, StopSignals& stop) {
    // A status bar that goes away closes our output: that must end us through the loop, with
    // the children, not by SIGPIPE.
    ::signal(SIGPIPE, SIG_IGN);
    static int argc = 1;
    static char name[] = "quotalume-cli";
    static char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    QSocketNotifier stopped(stop.descriptor(), QSocketNotifier::Read);
    QObject::connect(&stopped, &QSocketNotifier::activated, &application,
                     [] { QCoreApplication::exit(0); });

    QtMainLoop loop;
    SystemClock clock;
    CodexClientSource codex(loop);
    WebhookSenderPort webhooks(loop);
    FreedesktopNotificationCenter notifications;
    // The entry that starts the tray application at login, which lives beside us.
    XdgAutostartLoginItems loginItems(
        (QCoreApplication::applicationDirPath() + QStringLiteral("/quotalume")).toStdString());
    LinuxSystemSignals systemSignals;
    UsageMonitor monitor(
        MonitorPorts{loop, clock, codex, webhooks, notifications, loginItems, systemSignals,
                     *options.preferences, *options.engine, options.dataDirectory},
        options.demo);

    std::string printed;
    const auto subscription = monitor.subscribe([&] {
        std::string line = watchLine(monitor, options.waybar);
        if (line == printed) {
            return;
        }
        printed = std::move(line);
        if (std::fputs((printed + "\n").c_str(), stdout) == EOF || std::fflush(stdout) != 0) {
            // Queued: the first lines are printed before the loop runs, and exit() does
            // nothing then.
            QMetaObject::invokeMethod(
                &application, [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
        }
    });
    monitor.start();
    const int status = QCoreApplication::exec();

    monitor.stop();
    ChildProcess::terminateAll();
    std::_Exit(status);
}

}  // namespace quotalume::cli
