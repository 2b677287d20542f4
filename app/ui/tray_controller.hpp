#pragma once

#include "menu_bar_renderer.hpp"
#include "monitor_bridge.hpp"

#include <quotalume/app_language.hpp>

#include <QMenu>
#include <QObject>
#include <QRect>
#include <QSystemTrayIcon>

#include <memory>
#include <optional>

class QAction;

namespace quotalume {

// The tray icon and its menu, kept in step with the monitor: the image of the chosen style,
// the title, status and help as tooltip, and the menu in the interface language.
class TrayController final : public QObject {
    Q_OBJECT

public:
    // How the panel shows icons. StatusNotifierItem hosts fit every icon into a square, so they
    // get the square image; XEmbed trays get the full-width one.
    enum class Host { statusNotifier, xembed };

    TrayController(MonitorBridge& bridge, Host host, QObject* parent = nullptr);
    ~TrayController() override;

    // Puts the icon in the tray.
    void show();

    // Where the dashboard drops from: the icon's screen rectangle when the host tells it,
    // otherwise a 1 × 1 rectangle at `cursor`.
    std::optional<QRect> anchor(QPoint cursor) const;

    QSystemTrayIcon& icon() { return *icon_; }
    QMenu& menu() { return *menu_; }

Q_SIGNALS:
    // A left click, with the anchor taken at that moment.
    void toggleDashboard(std::optional<QRect> anchor);
    void openDashboard();
    void openSettings();
    void quit();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refresh();
    void retitle();
    QIcon draw(const MenuBarRenderer& look) const;

    MonitorBridge& bridge_;
    const Host host_;
    // Declared before the icon, which refers to it until it is gone.
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> icon_;
    QAction* dashboardAction_ = nullptr;
    QAction* settingsAction_ = nullptr;
    QAction* quitAction_ = nullptr;
    // What the current image shows, so a change that alters none of it keeps the image.
    std::optional<MenuBarRenderer> shown_;
    std::optional<AppLanguage> menuLanguage_;
};

}  // namespace quotalume
