#include "watch_session.hpp"

#include "core_ports.hpp"
#include "dashboard_opener.hpp"
#include "engine.hpp"
#include "linux/freedesktop_notification_center.hpp"
#include "linux/linux_system_signals.hpp"
#include "linux/local_server.hpp"
#include "linux/stop_signals.hpp"
#include "linux/xdg_autostart_login_items.hpp"
#include "qt_main_loop.hpp"
#include "system_clock.hpp"

#include <quotalume/coordination/engine_channel.hpp>
#include <quotalume/coordination/engine_lock.hpp>
#include <quotalume/coordination/local_protocol.hpp>
#include <quotalume/support/bounded_json.hpp>

#include <nlohmann/json.hpp>

#include <QCoreApplication>
#include <QProcess>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

namespace quotalume::cli {
namespace {

using namespace std::chrono_literals;

bool startDashboardProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::string& activationToken) {
    QProcess process;
    process.setProgram(QString::fromStdString(program));
    QStringList list;
    for (const std::string& argument : arguments) {
        list.append(QString::fromStdString(argument));
    }
    process.setArguments(list);
    // A status bar reads our output: the child must neither write into it nor keep it open.
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    // Our own start-up token was spent when we started; only the notification's is fresh.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DESKTOP_STARTUP_ID"));
    environment.remove(QStringLiteral("XDG_ACTIVATION_TOKEN"));
    if (!activationToken.empty()) {
        environment.insert(QStringLiteral("XDG_ACTIVATION_TOKEN"),
                           QString::fromStdString(activationToken));
    }
    process.setProcessEnvironment(environment);
    return process.startDetached();
}

// One watch: the engine itself, or a view of another one until that one goes.
class WatchSession {
public:
    explicit WatchSession(const WatchOptions& options)
        : options_(options),
          // The entry that starts the tray application at login, which lives beside us.
          loginItems_((QCoreApplication::applicationDirPath() + QStringLiteral("/quotalume"))
                          .toStdString()) {
        retry_.setSingleShot(true);
        QObject::connect(&retry_, &QTimer::timeout, [this] { engineGone(); });
        // Our notifications open the tray application's dashboard, started if need be.
        notifications_.setActivated(
            [this](const std::string& token) { dashboardOpener_.open(token); });
    }

    void start() { options_.follow ? follow() : becomeEngine(); }

    void refreshNow() {
        if (monitor_) {
            monitor_->refresh();
        } else if (channel_) {
            channel_->send(local_protocol::request(local_protocol::refresh));
        }
    }

    void stop() {
        server_.reset();
        if (monitor_) {
            monitor_->stop();
        }
    }

private:
    void print(const EngineReading& reading) {
        // Each source's line when it changes, the others' not again.
        std::vector<std::string> lines =
            watchLines(reading, std::chrono::system_clock::now(), options_.view);
        std::string changed;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (i >= printed_.size() || lines[i] != printed_[i]) {
                changed += lines[i] + "\n";
            }
        }
        printed_ = std::move(lines);
        if (changed.empty()) {
            return;
        }
        if (std::fputs(changed.c_str(), stdout) == EOF || std::fflush(stdout) != 0) {
            // Queued: the first lines are printed before the loop runs, and exit() does
            // nothing then.
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [] { QCoreApplication::exit(1); },
                Qt::QueuedConnection);
        }
    }

    void becomeEngine() {
        monitor_.emplace(EnginePorts{loop_, clock_, codex_, webhooks_, notifications_, loginItems_,
                                     systemSignals_, *options_.preferences, *options_.engine,
                                     options_.dataDirectory},
                         options_.demo);
        subscription_ = monitor_->subscribe([this] { print(monitor_->reading()); });
        if (!options_.socket.empty()) {
            try {
                server_.emplace(options_.socket);  // a watch takes no launches
                server_->attach(*monitor_);
            } catch (const std::system_error& error) {
                std::fprintf(stderr, "quotalume-cli: other views cannot follow this watch: %s\n",
                             error.what());
            }
        }
        monitor_->start();
    }

    // Subscribes to the engine the lock names; tries again shortly when it does not answer.
    void follow() {
        const std::optional<EngineHolder> holder = EngineLock::holder(options_.dataDirectory);
        if (holder && !holder->socket.empty()) {
            channel_ = EngineChannel::connect(holder->socket);
        }
        if (channel_) {
            // A request it hung up on is answered all the same when it is too busy for us:
            // the answer says so, and we ask again shortly.
            channel_->send(local_protocol::request(local_protocol::subscribe));
            readable_.emplace(channel_->descriptor(), QSocketNotifier::Read);
            QObject::connect(&*readable_, &QSocketNotifier::activated, [this] { received(); });
            return;
        }
        channel_.reset();
        if (printed_.empty()) {
            // A bar is never left empty: who holds the engine, until it answers.
            const char* runtime = std::getenv("XDG_RUNTIME_DIR");
            print({.error = FolderEngineGuard::busyMessage(holder, runtime ? runtime : ""),
                   .source = "engine"});
        }
        retry_.start(patience_);
        patience_ = std::min<std::chrono::milliseconds>(2 * patience_, 2s);
    }

    void received() {
        const bool open = channel_->receive();
        bool understood = true;
        std::string line;
        while (understood && channel_->takeLine(line)) {
            try {
                const nlohmann::json message = parseBoundedJSON(line);
                if (message.is_object() && message.contains("answer")) {
                    // Busy with other views: it hangs up, and is asked again soon.
                    patience_ = 250ms;
                    continue;
                }
                print(EngineReading::fromMessage(message));
                patience_ = 250ms;  // an engine that serves: the next loss is retried soon
            } catch (const std::exception&) {
                understood = false;  // not an engine we understand: start over
            }
        }
        if (!open || !understood) {
            // Deleted later: this runs inside the notifier's own signal. An engine that hangs
            // up at once (full, or one we cannot understand) is tried again ever more slowly.
            readable_->setEnabled(false);
            retry_.start(patience_);
            patience_ = std::min<std::chrono::milliseconds>(2 * patience_, 2s);
        }
    }

    // The engine we followed went away: take its place, or follow whoever did.
    void engineGone() {
        readable_.reset();
        channel_.reset();
        if (!options_.engine->claim()) {
            becomeEngine();
            return;
        }
        follow();
    }

    const WatchOptions& options_;
    QtMainLoop loop_;
    SystemClock clock_;
    CodexClientSource codex_{loop_};
    WebhookSenderPort webhooks_{loop_};
    FreedesktopNotificationCenter notifications_;
    DashboardOpener dashboardOpener_{
        QCoreApplication::applicationDirPath().toStdString(),
        [](const std::string& name) {
            return QStandardPaths::findExecutable(QString::fromStdString(name)).toStdString();
        },
        startDashboardProcess};
    XdgAutostartLoginItems loginItems_;
    LinuxSystemSignals systemSignals_;
    std::optional<Engine> monitor_;
    std::unique_ptr<Subscription> subscription_;
    std::optional<LocalServer> server_;
    std::optional<EngineChannel> channel_;
    std::optional<QSocketNotifier> readable_;
    QTimer retry_;
    std::chrono::milliseconds patience_ = 250ms;
    std::vector<std::string> printed_;
};

}  // namespace

int runWatchSession(const WatchOptions& options, StopSignals& stop) {
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

    WatchSession session(options);
    QSocketNotifier refresh(stop.refreshDescriptor(), QSocketNotifier::Read);
    QObject::connect(&refresh, &QSocketNotifier::activated, [&] {
        char bytes[64];
        while (::read(stop.refreshDescriptor(), bytes, sizeof bytes) > 0) {
        }
        session.refreshNow();
    });
    session.start();
    const int status = QCoreApplication::exec();

    session.stop();
    return status;  // the session's workers are joined as it goes, their children killed
}

}  // namespace quotalume::cli
