#pragma once

#include "core_ports.hpp"
#include "linux/freedesktop_notification_center.hpp"
#include "linux/linux_system_signals.hpp"
#include "linux/xdg_autostart_login_items.hpp"
#include "qt_main_loop.hpp"
#include "settings/settings_window.hpp"
#include "system_clock.hpp"

#include <quotalume/preferences/preferences_store.hpp>

#include <QObject>
#include <QRect>

#include <filesystem>
#include <memory>
#include <optional>

namespace quotalume {

class DashboardPanelController;
class LocalServer;
class MonitorBridge;
class TrayController;
class Engine;

struct LaunchOptions {
    bool demo = false;      // demonstration data, no single-instance check
    bool show = false;      // open the dashboard once started
    bool settings = false;  // open the settings window once started
    // Reads at this interval, past the schedule's limits; only tests set it.
    std::optional<Duration> refreshInterval;
    // Where the app's local server listens: later launches ask it to reopen, other views
    // (quotalume-cli) follow the engine there; empty: nowhere.
    std::filesystem::path engineSocket;
};

// The running application: the desktop's services behind the engine's ports, the one monitor,
// the tray, the dashboard and the settings window. Starts once the tray host is known and
// stops the dashboard, then the monitor, when the application quits.
class QuotalumeApplication final : public QObject {
    Q_OBJECT

public:
    // `engine` decides whether this app may detect and announce; without one (demonstration)
    // it never may. While another process holds it, the app is a view of that one's engine.
    QuotalumeApplication(LaunchOptions options, FolderEngineGuard* engine,
                         QObject* parent = nullptr);
    ~QuotalumeApplication() override;

    // Another launch asked for us: the settings window when it asked for that; otherwise an
    // open settings window comes to the front, else the dashboard opens.
    void reopen(bool settings, const QByteArray& token = {});
    // SIGUSR1: a status bar asks for a reading now.
    void refreshNow();

private:
    void launch(bool statusNotifierHost);
    void toggleDashboard(std::optional<QRect> anchor);
    void openDashboard(std::optional<QRect> anchor);
    void showSettings(std::optional<SettingsWindow::Page> page = std::nullopt);
    // Where the dashboard opens when no click tells: the icon as last seen, else the corner of
    // the screen where the desktop's panel is, else (nothing) the top right.
    std::optional<QRect> nearTheTray() const;
    void tellStillRunning();
    bool eventFilter(QObject* watched, QEvent* event) override;
    void stop();

    const LaunchOptions options_;
    QtMainLoop loop_;
    SystemClock clock_;
    CodexClientSource codex_;
    WebhookSenderPort webhooks_{loop_};
    FreedesktopNotificationCenter notifications_;
    XdgAutostartLoginItems loginItems_;
    LinuxSystemSignals signals_;
    std::shared_ptr<PreferencesStore> preferences_ = PreferencesStore::standard();
    class Unclaimed final : public EngineGuard {
        std::optional<LocalizedMessage> claim() override { return LocalizedMessage("status.demo"); }
    } unclaimed_;
    EngineGuard& engine_;

    // In the order they are made; each may refer to those above it.
    std::unique_ptr<Engine> monitor_;
    std::unique_ptr<LocalServer> server_;  // from the start, the engine attached once made
    std::unique_ptr<MonitorBridge> bridge_;
    std::unique_ptr<TrayController> tray_;
    std::unique_ptr<DashboardPanelController> dashboard_;
    std::unique_ptr<SettingsWindow> settings_;
    bool trayAvailable_ = false;
    std::optional<bool> reopenPending_;  // asked for before we were ready; settings or not
    QByteArray pendingToken_;            // the activation token that came with it
    bool stopped_ = false;
    bool toldStillRunning_ = false;
};

}  // namespace quotalume
