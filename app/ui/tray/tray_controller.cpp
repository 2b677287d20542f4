#include "tray/tray_controller.hpp"

#include "style/brand_assets.hpp"

#include <quotalume/l10n.hpp>
#include <quotalume/menu_bar_presentation.hpp>

#include <QAction>
#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QPalette>

namespace quotalume {
namespace {

QString desktops() {
    static const QString desktops = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
    return desktops;
}

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
    // The ink follows the panel's text colour when the theme changes.
    qApp->installEventFilter(this);
    refresh();
}

TrayController::~TrayController() = default;

void TrayController::show() {
    icon_->show();
}

std::optional<QRect> TrayController::iconGeometry() const {
    const QRect geometry = icon_->geometry();
    if (geometry.isValid() && !geometry.isEmpty()) {
        return geometry;
    }
    return std::nullopt;
}

std::optional<QRect> TrayController::anchor(QPoint cursor) const {
    return iconGeometry().value_or(QRect(cursor, QSize(1, 1)));
}

bool TrayController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange) {
        refresh();
    }
    return QObject::eventFilter(watched, event);
}

void TrayController::refresh() {
    const AppLanguage language = L10n::language();
    if (menuLanguage_ != language) {
        menuLanguage_ = language;
        retitle();
    }
    const UsageMonitor& monitor = bridge_.monitor();
    const auto& snapshot = monitor.snapshot();
    TrayIconImage look{
        monitor.menuBarStyle(),
        MenuBarPresentation::items(snapshot ? snapshot->codexBucket() : std::nullopt,
                                   monitor.menuBarScope()),
        monitor.lastError().has_value() || monitor.isStale(),
        panelInk(QGuiApplication::palette(), desktops()),
    };
    if (shown_ != look) {
        // Nothing to draw (no reading yet, or the chosen window is not reported): our icon.
        icon_->setIcon(look.icon().value_or(BrandAssets::menuBarIcon()));
        shown_ = std::move(look);
    }
    icon_->setToolTip(QString::fromStdString(monitor.menuBarTitle() + "\n" + monitor.statusText() +
                                             "\n" + monitor.menuBarHelp()));
}

QColor TrayController::panelInk(const QPalette& palette, QStringView desktops) {
    bool gnome = false;
    for (const auto desktop : desktops.split(QLatin1Char(':'))) {
        // Flashback calls itself GNOME too, but its panel follows the theme.
        if (desktop.compare(QLatin1String("GNOME-Flashback"), Qt::CaseInsensitive) == 0) {
            return palette.color(QPalette::WindowText);
        }
        gnome = gnome || desktop.compare(QLatin1String("GNOME"), Qt::CaseInsensitive) == 0;
    }
    return gnome ? QColor(Qt::white) : palette.color(QPalette::WindowText);
}

void TrayController::retitle() {
    dashboardAction_->setText(text("app.quota_title"));
    settingsAction_->setText(text("common.settings"));
    quitAction_->setText(text("common.quit"));
}

}  // namespace quotalume
