#pragma once

#include "monitor_bridge.hpp"
#include "tray/tray_icon_image.hpp"

#include <quotalume/l10n/app_language.hpp>

#include <QMenu>
#include <QObject>
#include <QRect>
#include <QSystemTrayIcon>

#include <memory>
#include <optional>

class QAction;

namespace quotalume {

// The tray icon and its menu, kept in step with the monitor: the image of the chosen style,
// badged when the figures are stale or the last reading failed; the title, status and error as
// tooltip, in plain text; and the menu in the interface language.
class TrayController final : public QObject {
    Q_OBJECT

public:
    explicit TrayController(MonitorBridge& bridge, QObject* parent = nullptr);
    ~TrayController() override;

    // Puts the icon in the tray.
    void show();

    // The icon's screen rectangle as last known; XEmbed trays tell it, StatusNotifierItem
    // hosts never do.
    std::optional<QRect> iconGeometry() const;
    // Where the dashboard drops from: the icon when its place is known, otherwise a 1 × 1
    // rectangle at `cursor`.
    std::optional<QRect> anchor(QPoint cursor) const;

    QSystemTrayIcon& icon() { return *icon_; }
    // How often the tray host was sent a tooltip; each one is a D-Bus signal that wakes the
    // panel too.
    int toolTipsSent() const { return toolTipsSent_; }
    QMenu& menu() { return *menu_; }

Q_SIGNALS:
    // A left click, with the anchor taken at that moment.
    void toggleDashboard(std::optional<QRect> anchor);
    void openDashboard();
    void openSettings();
    void quit();

private:
    void refresh();
    void retitle();
    void retip(const std::string& tip);

    MonitorBridge& bridge_;
    // Declared before the icon, which refers to it until it is gone.
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> icon_;
    QAction* dashboardAction_ = nullptr;
    QAction* settingsAction_ = nullptr;
    QAction* quitAction_ = nullptr;
    // What the current image shows, so a change that alters none of it keeps the image.
    std::optional<TrayIconImage> shown_;
    std::optional<AppLanguage> menuLanguage_;
    QString toolTip_;
    int toolTipsSent_ = 0;
    mutable std::optional<QRect> lastGeometry_;
};

}  // namespace quotalume
