#include "tray/tray_controller.hpp"

#include <quotalume/l10n/l10n.hpp>
#include <quotalume/presentation/menu_bar_presentation.hpp>
#include <quotalume/presentation/quota_text.hpp>

#include <QAction>
#include <QCursor>
#include <QGuiApplication>

namespace quotalume {
namespace {

QString text(const char* key) {
    return QString::fromStdString(L10n::text(key));
}

}  // namespace

TrayController::TrayController(MonitorBridge& bridge, QObject* parent)
    : QObject(parent),
      bridge_(bridge),
      menu_(std::make_unique<QMenu>()),
      icon_(std::make_unique<QSystemTrayIcon>()) {
    menu_->setObjectName(QStringLiteral("trayMenu"));
    const auto add = [this](const char* name, void (TrayController::*signal)()) {
        QAction* action = menu_->addAction(QString());
        action->setObjectName(QString::fromLatin1(name));
        connect(action, &QAction::triggered, this, signal);
        return action;
    };
    dashboardAction_ = add("openDashboard", &TrayController::openDashboard);
    settingsAction_ = add("openSettings", &TrayController::openSettings);
    menu_->addSeparator();
    quitAction_ = add("quit", &TrayController::quit);
    menu_->setDefaultAction(dashboardAction_);
    icon_->setObjectName(QStringLiteral("trayIcon"));
    icon_->setContextMenu(menu_.get());

    connect(icon_.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger) {
                    Q_EMIT toggleDashboard(anchor(QCursor::pos()));
                }
            });
    connect(&bridge_, &MonitorBridge::changed, this, &TrayController::refresh);
    refresh();
}

TrayController::~TrayController() = default;

void TrayController::show() {
    icon_->show();
}

std::optional<QRect> TrayController::iconGeometry() const {
    const QRect geometry = icon_->geometry();
    if (geometry.isValid() && !geometry.isEmpty()) {
        lastGeometry_ = geometry;
    }
    return lastGeometry_;
}

std::optional<QRect> TrayController::anchor(QPoint cursor) const {
    return iconGeometry().value_or(QRect(cursor, QSize(1, 1)));
}

void TrayController::refresh() {
    const AppLanguage language = L10n::language();
    if (menuLanguage_ != language) {
        menuLanguage_ = language;
        retitle();
    }
    const Engine& monitor = bridge_.monitor();
    const EngineReading& every = monitor.reading();
    // The icon shows the source chosen for the tray; the tooltip names every source.
    const EngineReading& reading = every.account(monitor.preferences().current().trayAccount);
    const auto& snapshot = reading.snapshot;
    const std::optional<BlockedState> blocked = reading.blocked();
    TrayIconImage look{
        monitor.preferences().style(),
        MenuBarPresentation::items(snapshot ? snapshot->codexBucket() : std::nullopt,
                                   reading.scope),
        reading.error && !reading.offline() ? TrayIconImage::Badge::failed
        : blocked                           ? TrayIconImage::Badge::blocked
        : reading.stale                     ? TrayIconImage::Badge::stale
                                            : TrayIconImage::Badge::none,
    };
    if (shown_ != look) {
        icon_->setIcon(look.icon());
        shown_ = std::move(look);
    }
    if (!every.accounts.empty()) {
        retip(every.sourceLines());
        iconGeometry();
        return;
    }
    std::string tip =
        reading.title(MenuBarPresentation::Figures::left) + "\n" + L10n::text(reading.statusKey());
    if (blocked) {
        tip += "\n" + blocked->text(monitor.now());
    }
    for (const BucketSummary& other : reading.otherBuckets()) {
        if (other.pressing) {
            tip += "\n" + other.line(monitor.now());
        }
    }
    // A window forecast to run out before its reset says when.
    for (const auto& [which, forecast] : reading.forecasts) {
        const auto window =
            snapshot ? snapshot->codexBucket().value_or(RateBucket{}).window(which) : std::nullopt;
        if (forecast.runsOutAt && *forecast.runsOutAt > monitor.now() && window &&
            window->resetDate()) {
            tip += "\n" + title(which) + ": " +
                   forecastText(forecast, *window->resetDate(), monitor.now());
        }
    }
    if (const auto& error = reading.error) {
        tip += "\n" + error->localized();
    }
    retip(tip);
    iconGeometry();  // remembered while the tray tells it
}

void TrayController::retip(const std::string& tip) {
    // Hosts render tooltips as markup; what Codex said must show as it is, never as markup.
    const QString toolTip = QString::fromStdString(tip).toHtmlEscaped();
    if (toolTip != toolTip_) {
        toolTip_ = toolTip;
        icon_->setToolTip(toolTip);
        toolTipsSent_ += 1;
    }
}

void TrayController::retitle() {
    dashboardAction_->setText(text("app.quota_title"));
    settingsAction_->setText(text("common.settings"));
    quitAction_->setText(text("common.quit"));
}

}  // namespace quotalume
