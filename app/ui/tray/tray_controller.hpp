#pragma once

#include "monitor_bridge.hpp"
#include "tray/tray_icon_image.hpp"

#include <quotalume/app_language.hpp>

#include <QMenu>
#include <QObject>
#include <QPalette>
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
    explicit TrayController(MonitorBridge& bridge, QObject* parent = nullptr);
    ~TrayController() override;

    // Puts the icon in the tray.
    void show();

    // The icon's screen rectangle; XEmbed trays tell it, StatusNotifierItem hosts never do.
    std::optional<QRect> iconGeometry() const;
    // Where the dashboard drops from: the icon when its place is known, otherwise a 1 × 1
    // rectangle at `cursor`.
    std::optional<QRect> anchor(QPoint cursor) const;

    // The colour the icon is drawn in: the panel's text colour as far as it can be told. GNOME
    // Shell's top bar is dark whatever the applications' palette, so white there; elsewhere the
    // panel usually follows the colour scheme, so the palette's text colour. `desktops` is
    // XDG_CURRENT_DESKTOP, a colon list.
    static QColor panelInk(const QPalette& palette, QStringView desktops);

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
};

}  // namespace quotalume
