#include "quotalume_application.hpp"

#include "dashboard/dashboard_panel_controller.hpp"
#include "dashboard/panel_geometry.hpp"
#include "engine.hpp"
#include "linux/local_server.hpp"
#include "linux/status_notifier_probe.hpp"
#include "monitor_bridge.hpp"
#include "settings/settings_window.hpp"
#include "single_instance.hpp"
#include "tray/tray_controller.hpp"

#include <quotalume/l10n/l10n.hpp>
#include <quotalume/webhook/webhook_configuration_store.hpp>

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <utility>

namespace quotalume {
namespace {

// Long enough for a panel that starts beside us at login, short enough not to be noticed.
constexpr auto trayHostPatience = std::chrono::milliseconds(1500);

QString text(const char* key) {
    return QString::fromStdString(L10n::text(key));
}

}  // namespace

QuotalumeApplication::QuotalumeApplication(LaunchOptions options, FolderEngineGuard* engine,
                                           QObject* parent)
    : QObject(parent),
      options_(options),
      codex_(loop_, engine,
             engine != nullptr ? WebhookConfigurationStore::defaultDirectory()
                               : std::filesystem::path()),
      loginItems_(QCoreApplication::applicationFilePath().toStdString()),
      engine_(engine != nullptr ? static_cast<EngineGuard&>(*engine) : unclaimed_) {
    connect(qApp, &QCoreApplication::aboutToQuit, this, &QuotalumeApplication::stop);
    // A click on one of our notifications does what `quotalume --show` does.
    notifications_.setActivated(
        [this](const std::string& token) { reopen(false, QByteArray::fromStdString(token)); });
    if (!options_.engineSocket.empty()) {
        // At once, not once the tray host is known: a second launch meanwhile is answered (its
        // reopen waits for us to be ready), and views hear "busy" until the engine is there.
        try {
            server_ = std::make_unique<LocalServer>(
                options_.engineSocket, [this](const local_protocol::LaunchRequest& launch) {
                    reopen(launch.settings, QByteArray::fromStdString(launch.token));
                });
        } catch (const std::system_error& error) {
            std::fprintf(stderr, "quotalume: quotalume-cli cannot follow this app: %s\n",
                         error.what());
        }
    }
    StatusNotifierProbe::await(QDBusConnection::sessionBus(), trayHostPatience, this,
                               [this](bool statusNotifierHost) { launch(statusNotifierHost); });
}

// The members go in reverse order: the views before the bridge they observe, the bridge before
// the monitor, the monitor before its ports.
QuotalumeApplication::~QuotalumeApplication() {
    stop();
}

void QuotalumeApplication::launch(bool statusNotifierHost) {
    monitor_ = std::make_unique<Engine>(
        EnginePorts{loop_, clock_, codex_, webhooks_, notifications_, loginItems_, signals_,
                    *preferences_, engine_, WebhookConfigurationStore::defaultDirectory()},
        options_.demo);
    if (options_.refreshInterval) {
        monitor_->overrideRefreshInterval(*options_.refreshInterval);
    }
    if (server_) {
        server_->attach(*monitor_);
    }
    bridge_ = std::make_unique<MonitorBridge>(*monitor_);
    // Asked only now: the first question fixes Qt's choice between the two kinds of tray.
    trayAvailable_ = statusNotifierHost || QSystemTrayIcon::isSystemTrayAvailable();
    tray_ = std::make_unique<TrayController>(*bridge_);
    // The dashboard's Settings button opens the page its trouble is about.
    dashboard_ = std::make_unique<DashboardPanelController>(
        *bridge_, [this] { showSettings(SettingsWindow::pageFor(*monitor_)); });
    connect(tray_.get(), &TrayController::toggleDashboard, this,
            &QuotalumeApplication::toggleDashboard);
    connect(tray_.get(), &TrayController::openDashboard, this,
            [this] { openDashboard(tray_->anchor(QCursor::pos())); });
    connect(tray_.get(), &TrayController::openSettings, this, [this] { showSettings(); });
    connect(tray_.get(), &TrayController::quit, qApp, &QCoreApplication::quit,
            Qt::QueuedConnection);
    tray_->show();
    monitor_->start();

    if (!trayAvailable_) {
        std::fputs(
            "quotalume: no system tray found; showing the dashboard as a window. On GNOME, "
            "install and enable the \"AppIndicator and KStatusNotifierItem Support\" extension "
            "to get the tray icon.\n",
            stderr);
        // The window is all there is of the app now; closing it keeps the engine running, and
        // the first time it is closed the user is told so.
        dashboard_->showAsWindow();
        dashboard_->panel()->installEventFilter(this);
    } else if (options_.show) {
        openDashboard(nearTheTray());
    }
    if (options_.settings) {
        showSettings();
    }
    if (reopenPending_) {
        reopen(*reopenPending_, std::exchange(pendingToken_, {}));
    }
}

void QuotalumeApplication::reopen(bool settings, const QByteArray& token) {
    if (!monitor_) {
        reopenPending_ = settings || reopenPending_.value_or(false);
        pendingToken_ = token;
        return;
    }
    reopenPending_.reset();
    SingleInstance::applyToken(token, QGuiApplication::platformName());
    QWidget* shown = nullptr;
    if (settings || (settings_ && settings_->isVisible())) {
        showSettings();
        shown = settings_.get();
    } else {
        openDashboard(nearTheTray());
        shown = dashboard_->panel();
    }
    // A compositor or window manager may still keep the focus where it is (no token, or one
    // it does not honour): the window then asks for attention until it is activated.
    QApplication::alert(shown);
}

std::optional<QRect> QuotalumeApplication::nearTheTray() const {
    if (auto icon = tray_->iconGeometry()) {
        return icon;
    }
    const QScreen* screen = PanelGeometry::screenFor(std::nullopt);
    return screen != nullptr
               ? PanelGeometry::panelCorner(screen->geometry(), screen->availableGeometry())
               : std::nullopt;
}

bool QuotalumeApplication::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Hide && settings_ && watched == settings_.get()) {
        // A closed settings window goes with all it holds; the next one is built afresh. Later:
        // the window is still inside its own hide.
        QTimer::singleShot(0, this, [this] {
            if (settings_ && !settings_->isVisible()) {
                settings_.reset();
                ::malloc_trim(0);  // give back what the allocator kept of it
            }
        });
    }
    if (event->type() == QEvent::Close && !trayAvailable_ && !toldStillRunning_ && dashboard_ &&
        watched == dashboard_->panel()) {
        toldStillRunning_ = true;
        // After the close: the notice must not hold the window open.
        QTimer::singleShot(0, this, &QuotalumeApplication::tellStillRunning);
    }
    return QObject::eventFilter(watched, event);
}

void QuotalumeApplication::tellStillRunning() {
    auto* box = new QMessageBox(QMessageBox::Information, text("app.still_running_title"),
                                text("app.still_running"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->addButton(text("app.keep_watching"), QMessageBox::AcceptRole);
    QAbstractButton* quit = box->addButton(text("common.quit"), QMessageBox::DestructiveRole);
    connect(box, &QMessageBox::buttonClicked, this, [quit](QAbstractButton* clicked) {
        if (clicked == quit) {
            QCoreApplication::quit();
        }
    });
    box->open();
}

void QuotalumeApplication::toggleDashboard(std::optional<QRect> anchor) {
    if (!trayAvailable_) {
        dashboard_->showAsWindow();
    } else {
        // Through the controller: the press that closed the panel as an outside click must not
        // open it again when the tray reports it.
        dashboard_->toggle(anchor);
    }
    if (dashboard_->isVisible()) {
        // So the dashboard shows whether notifications are allowed now, not at start.
        monitor_->notifier().refreshPermission();
    }
}

void QuotalumeApplication::openDashboard(std::optional<QRect> anchor) {
    if (!trayAvailable_) {
        dashboard_->showAsWindow();
        return;
    }
    dashboard_->show(anchor);
}

void QuotalumeApplication::showSettings(std::optional<SettingsWindow::Page> page) {
    if (!monitor_) {
        return;
    }
    if (trayAvailable_) {
        dashboard_->hide();
    }
    if (!settings_) {
        settings_ = std::make_unique<SettingsWindow>(*bridge_);
        settings_->installEventFilter(this);
        const QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
        if (screen == nullptr) {
            screen = QGuiApplication::primaryScreen();
        }
        if (screen != nullptr) {
            QRect frame(QPoint(), settings_->size());
            frame.moveCenter(screen->availableGeometry().center());
            settings_->move(frame.topLeft());
        }
    }
    if (page) {
        settings_->showPage(*page);
    }
    settings_->show();
    settings_->raise();
    settings_->activateWindow();
}

void QuotalumeApplication::refreshNow() {
    if (monitor_ && !stopped_) {
        monitor_->refresh();
    }
}

void QuotalumeApplication::stop() {
    if (stopped_ || !monitor_) {
        return;
    }
    stopped_ = true;
    if (server_) {
        server_->forgetEngine();
    }
    dashboard_->stop();
    monitor_->stop();
}

}  // namespace quotalume
