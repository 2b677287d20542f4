#include "dashboard/dashboard_panel_controller.hpp"

#include "dashboard/quota_panel.hpp"

#include <quotalume/l10n/l10n.hpp>

#include <QEvent>
#include <QPixmapCache>

#include <malloc.h>

#include <chrono>

namespace quotalume {

DashboardPanelController::DashboardPanelController(MonitorBridge& bridge,
                                                   std::function<void()> openSettings,
                                                   QObject* parent, QuotaPanel::Session session)
    : QObject(parent), bridge_(bridge), openSettings_(std::move(openSettings)), session_(session) {
    // A panel opened again soon after it closed opens at once; one left closed this long goes,
    // with what it held.
    unused_.setSingleShot(true);
    unused_.setInterval(std::chrono::minutes(1));
    connect(&unused_, &QTimer::timeout, this, &DashboardPanelController::release);
}

DashboardPanelController::~DashboardPanelController() {
    delete panel_;
}

QuotaPanel& DashboardPanelController::built() {
    unused_.stop();
    if (panel_ == nullptr) {
        panel_ = new QuotaPanel(bridge_, openSettings_, nullptr, QuotaPanel::platformSurface(),
                                session_);
        panel_->installEventFilter(this);
    }
    return *panel_;
}

bool DashboardPanelController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == panel_ && event->type() == QEvent::Hide) {
        unused_.start();
    }
    return QObject::eventFilter(watched, event);
}

void DashboardPanelController::release() {
    if (panel_ == nullptr || panel_->isVisible()) {
        return;
    }
    panel_->stopObserving();
    delete panel_;
    panel_ = nullptr;
    L10n::releaseDateFormatters();
    QPixmapCache::clear();
    // The allocator keeps what the widgets freed; at rest the process gives it back.
    ::malloc_trim(0);
}

void DashboardPanelController::show(std::optional<QRect> anchor) {
    built().popUp(anchor);
}

void DashboardPanelController::toggle(std::optional<QRect> anchor) {
    QuotaPanel& panel = built();
    if (panel.isVisible()) {
        panel.hide();
    } else if (!panel.recentlyHidden()) {
        // On X11 a press on the tray icon while the panel is open may first close it as a click
        // outside; the icon's activation that follows must not open it again.
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
    unused_.stop();
    if (panel_ != nullptr) {
        panel_->hide();
        panel_->stopObserving();
    }
}

QWidget* DashboardPanelController::panel() const {
    return panel_;
}

}  // namespace quotalume
