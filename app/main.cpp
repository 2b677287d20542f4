#include "core_ports.hpp"
#include "linux/stop_signals.hpp"
#include "quotalume_application.hpp"
#include "single_instance.hpp"
#include "style/brand_assets.hpp"

#include <quotalume/coordination/engine_channel.hpp>
#include <quotalume/preferences/config_keys.hpp>
#include <quotalume/preferences/preferences_store.hpp>
#include <quotalume/version.hpp>
#include <quotalume/webhook/webhook_configuration_store.hpp>

#include <QApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QStringList>

#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>
#include <system_error>

namespace {

constexpr const char* help =
    "Usage: quotalume [--demo] [--show] [--settings]\n"
    "Shows what is left of your Codex usage limits in the system tray.\n"
    "\n"
    "  --demo       run on demonstration data (another instance may run beside it)\n"
    "  --show       open the dashboard once started\n"
    "  --settings   open the settings window once started\n"
    "  -h, --help   show this help\n"
    "  --version    print the version\n"
    "\n"
    "Launched while it runs, Quotalume opens the running instance's dashboard (with --settings,\n"
    "its settings window) instead.\n";

}  // namespace

int main(int argc, char** argv) {
    // Answered before the application object, which needs a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(help, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("quotalume %s\n", quotalume::quotalumeVersion);
            return 0;
        }
    }

    // SIGTERM, SIGINT and SIGHUP (a logout, a kill) end the app as Quit does, from the start: a
    // signal that comes before the event loop runs waits in the pipe until it does.
    std::optional<quotalume::StopSignals> stop;
    try {
        stop.emplace();
    } catch (const std::system_error& error) {
        std::fprintf(stderr, "quotalume: cannot watch for stop signals: %s\n", error.what());
    }

    const QByteArray activationToken = quotalume::SingleInstance::launchToken();
    QApplication application(argc, argv);
    // Matches the executable, which the lock's stale-owner check compares against.
    QApplication::setApplicationName(QStringLiteral("quotalume"));
    QApplication::setApplicationVersion(QString::fromLatin1(quotalume::quotalumeVersion));
    QGuiApplication::setDesktopFileName(QStringLiteral("quotalume"));
    QApplication::setWindowIcon(quotalume::BrandAssets::menuBarIcon());
    // Closing the settings window or the dashboard leaves the tray running.
    QApplication::setQuitOnLastWindowClosed(false);

    // Qt has taken its own options (-platform, -style, …) out by now.
    quotalume::LaunchOptions options;
    const QStringList arguments = QApplication::arguments().mid(1);
    for (const QString& argument : arguments) {
        if (argument == QLatin1String("--demo")) {
            options.demo = true;
        } else if (argument == QLatin1String("--show")) {
            options.show = true;
        } else if (argument == QLatin1String("--settings")) {
            options.settings = true;
        } else {
            std::fprintf(stderr, "quotalume: unknown option '%s'\n%s",
                         argument.toLocal8Bit().constData(), help);
            return 2;
        }
    }

    int status = 0;
    {
        quotalume::SingleInstance instance;
        if (!options.demo) {
            switch (instance.settle(options.settings, std::chrono::seconds(5), activationToken)) {
                case quotalume::SingleInstance::Outcome::first:
                    break;
                case quotalume::SingleInstance::Outcome::forwarded:
                    return 0;
                case quotalume::SingleInstance::Outcome::unanswered:
                    std::fprintf(stderr,
                                 "quotalume: another instance holds %s but does not answer; "
                                 "quit it or end its process, then start Quotalume again\n",
                                 instance.lockPath().toLocal8Bit().constData());
                    return 1;
            }
        }
        // Held until the process ends: `quotalume-cli watch` runs the same engine on the same
        // state file and must not run beside us, nor we beside it.
        std::optional<quotalume::FolderEngineGuard> engine;
        if (!options.demo) {
            try {
                const char* runtime = std::getenv("XDG_RUNTIME_DIR");
                try {
                    // One socket for everything: where later launches have always asked us to
                    // reopen, and where views follow the engine.
                    options.engineSocket =
                        instance.holdsLock()
                            ? std::filesystem::path(
                                  QFile::encodeName(instance.socketPath()).toStdString())
                            : quotalume::engine_socket::pathFor(::getpid());
                } catch (const std::exception& error) {
                    std::fprintf(stderr, "quotalume: quotalume-cli cannot follow this app: %s\n",
                                 error.what());
                }
                engine.emplace(quotalume::WebhookConfigurationStore::defaultDirectory(),
                               quotalume::EngineHolder{::getpid(), "quotalume",
                                                       runtime != nullptr ? runtime : "",
                                                       options.engineSocket.string()});
            } catch (const std::system_error& error) {
                std::fprintf(stderr, "quotalume: cannot find the data folder: %s\n", error.what());
                return 1;
            }
            if (auto refusal = engine->claim()) {
                // Another engine runs (a watch): the app shows what that one reads. A lock that
                // cannot be taken at all: the app reads the limits itself. Either way it says
                // why, records and announces nothing, and takes the lock once it can.
                std::fprintf(stderr, "quotalume: %s\n", refusal->localized().c_str());
            }
        }
        if (options.demo) {
            // Demonstration touches no file: it starts from the user's appearance and keeps every
            // change in memory, so it can never overwrite the preferences of a real instance.
            auto memory = std::make_shared<quotalume::MemoryPreferencesStore>();
            try {
                using namespace std::string_view_literals;
                quotalume::Preferences::load(*quotalume::PreferencesStore::standard())
                    .save(*memory, std::array{"language"sv, "tray.style"sv, "tray.scope"sv});
            } catch (const std::exception&) {
                // No preferences to start from: the defaults will do.
            }
            quotalume::PreferencesStore::setStandard(memory);
        }

        std::optional<QSocketNotifier> stopped;
        if (stop) {
            stopped.emplace(stop->descriptor(), QSocketNotifier::Read);
            QObject::connect(&*stopped, &QSocketNotifier::activated, &application,
                             &QCoreApplication::quit, Qt::QueuedConnection);
        }

        {
            quotalume::QuotalumeApplication quotalume(options, engine ? &*engine : nullptr);
            std::optional<QSocketNotifier> refresh;
            if (stop) {
                refresh.emplace(stop->refreshDescriptor(), QSocketNotifier::Read);
                QObject::connect(&*refresh, &QSocketNotifier::activated, &quotalume, [&] {
                    char bytes[64];
                    while (::read(stop->refreshDescriptor(), bytes, sizeof bytes) > 0) {
                    }
                    quotalume.refreshNow();
                });
            }
            status = QApplication::exec();
        }
    }
    // Every worker thread was joined as the application went: a Codex session still reading
    // was cut short and its child killed, a webhook transfer aborted (its delivery stays owed).
    return status;
}
