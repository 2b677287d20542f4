#include "dashboard/dashboard_panel_controller.hpp"

#include "dashboard/quota_panel.hpp"

namespace quotalume {

DashboardPanelController::DashboardPanelController(MonitorBridge& bridge,
                                                   std::function<void()> openSettings,
                                                   QObject* parent)
    : QObject(parent), bridge_(bridge), openSettings_(std::move(openSettings)) {}

DashboardPanelController::~DashboardPanelController() {
    delete panel_;
}

QuotaPanel& DashboardPanelController::built() {
    if (panel_ == nullptr) {
        panel_ = new QuotaPanel(bridge_, openSettings_);
    }
    return *panel_;
}

void DashboardPanelController::show(std::optional<QRect> anchor) {
    built().popUp(anchor);
}

void DashboardPanelController::toggle(std::optional<QRect> anchor) {
    QuotaPanel& panel = built();
    if (panel.isVisible()) {
        panel.hide();
    } else if (!panel.recentlyHidden()) {
        // A press on the tray icon while the panel is open first closes it as a click outside;
        // the icon's activation that follows must not open it again.
        panel.popUp(anchor);
    }
}

void DashboardPanelController::hide() {
    if (panel_ != nullptr) {
        panel_->hide();
    }
}

bool DashboardPanelController::isVisible() const {
    return panel_ != nullptr && panel_->isVisible();
}

void DashboardPanelController::showAsWindow() {
    built().showAsWindow();
}

void DashboardPanelController::stop() {
    if (panel_ != nullptr) {
        panel_->hide();
        panel_->stopObserving();
    }
}

QWidget* DashboardPanelController::panel() const {
    return panel_;
}

}  // namespace quotalume
