#pragma once

#include "monitor_bridge.hpp"

#include <QObject>
#include <QRect>

#include <functional>
#include <memory>
#include <optional>

class QWidget;

namespace quotalume {

// Placeholder until the dashboard lands: the agreed interface over an empty frameless panel.
class DashboardPanelController final : public QObject {
    Q_OBJECT

public:
    DashboardPanelController(MonitorBridge& bridge, std::function<void()> openSettings,
                             QObject* parent = nullptr);
    ~DashboardPanelController() override;

    void show(std::optional<QRect> anchor);
    void toggle(std::optional<QRect> anchor);
    void hide();
    bool isVisible() const;
    void showAsWindow();
    void stop();
    QWidget* panel() const;

private:
    std::unique_ptr<QWidget> panel_;
};

}  // namespace quotalume
