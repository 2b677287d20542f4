#pragma once

#include "dashboard/quota_panel.hpp"

#include <QObject>
#include <QRect>
#include <QTimer>

#include <functional>
#include <optional>

class QWidget;

namespace quotalume {

class MonitorBridge;

// Owns the dashboard panel and opens, closes and places it for the tray.
class DashboardPanelController final : public QObject {
    Q_OBJECT

public:
    DashboardPanelController(MonitorBridge& bridge, std::function<void()> openSettings,
                             QObject* parent = nullptr,
                             QuotaPanel::Session session = QuotaPanel::platformSession());
    ~DashboardPanelController() override;
    // Opens the frameless panel under `anchor` (screen rectangle of the tray icon, or a 1x1
    // rectangle at the cursor position captured on activation); nullopt: top right of the
    // screen that holds the cursor.
    void show(std::optional<QRect> anchor);
    void toggle(std::optional<QRect> anchor);  // hides when visible
    void hide();
    bool isVisible() const;
    // Without any tray: the dashboard as an ordinary window, so the app stays usable.
    void showAsWindow();
    // Removes observers and event filters; called once at quit.
    void stop();
    // Null until the dashboard is first opened: a window never opened is never built.
    QWidget* panel() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QuotaPanel& built();
    void release();

    MonitorBridge& bridge_;
    std::function<void()> openSettings_;
    QuotaPanel::Session session_;
    QuotaPanel* panel_ = nullptr;
    QTimer unused_;  // how long a closed panel is kept for the next click
};

}  // namespace quotalume
