#include "dashboard_panel_controller.hpp"

#include <QWidget>

namespace quotalume {

DashboardPanelController::DashboardPanelController(MonitorBridge&, std::function<void()>,
                                                   QObject* parent)
    : QObject(parent), panel_(std::make_unique<QWidget>(nullptr, Qt::Popup)) {
    panel_->setObjectName("dashboardPanel");
    panel_->resize(372, 300);
}

DashboardPanelController::~DashboardPanelController() = default;

void DashboardPanelController::show(std::optional<QRect> anchor) {
    if (anchor) {
        panel_->move(anchor->left(), anchor->bottom() + 6);
    }
    panel_->show();
}

void DashboardPanelController::toggle(std::optional<QRect> anchor) {
    if (isVisible()) {
        hide();
    } else {
        show(anchor);
    }
}

void DashboardPanelController::hide() {
    panel_->hide();
}

bool DashboardPanelController::isVisible() const {
    return panel_->isVisible();
}

void DashboardPanelController::showAsWindow() {
    panel_->setWindowFlags(Qt::Window);
    panel_->show();
}

void DashboardPanelController::stop() {}

QWidget* DashboardPanelController::panel() const {
    return panel_.get();
}

}  // namespace quotalume
