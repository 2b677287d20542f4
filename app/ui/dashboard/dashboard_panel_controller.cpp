#include "dashboard/dashboard_panel_controller.hpp"

#include "dashboard/quota_panel.hpp"

namespace quotalume {

DashboardPanelController::DashboardPanelController(MonitorBridge& bridge,
                                                   std::function<void()> openSettings,
                                                   QObject* parent)
    : QObject(parent), panel_(new QuotaPanel(bridge, std::move(openSettings))) {}

DashboardPanelController::~DashboardPanelController() {
    delete panel_;
}

void DashboardPanelController::show(std::optional<QRect> anchor) {
    panel_->popUp(anchor);
}

void DashboardPanelController::toggle(std::optional<QRect> anchor) {
    if (panel_->isVisible()) {
        panel_->hide();
    } else if (!panel_->recentlyHidden()) {
        // A press on the tray icon while the panel is open first closes it as a click outside;
        // the icon's activation that follows must not open it again.
        panel_->popUp(anchor);
    }
}

void DashboardPanelController::hide() {
    panel_->hide();
}

bool DashboardPanelController::isVisible() const {
    return panel_->isVisible();
}

void DashboardPanelController::showAsWindow() {
    panel_->showAsWindow();
}

void DashboardPanelController::stop() {
    panel_->hide();
    panel_->stopObserving();
}

QWidget* DashboardPanelController::panel() const {
    return panel_;
}

}  // namespace quotalume
