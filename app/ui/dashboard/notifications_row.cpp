#include "dashboard/notifications_row.hpp"

#include "engine.hpp"
#include "style/dashboard_symbol.hpp"
#include "style/dashboard_typography.hpp"
#include "style/quotalume_style.hpp"
#include "widgets/subtle_button.hpp"
#include "widgets/toggle_switch.hpp"

#include <quotalume/l10n/l10n.hpp>

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace quotalume {
namespace {

constexpr int bellSize = 14;
constexpr int markerSize = 12;

bool permitted(NotificationAuthorization authorization) {
    return authorization == NotificationAuthorization::authorized ||
           authorization == NotificationAuthorization::provisional ||
           authorization == NotificationAuthorization::ephemeral;
}

}  // namespace

NotificationsRow::NotificationsRow(Engine& monitor, QWidget* parent)
    : QWidget(parent), monitor_(monitor) {
    bell_ = new QLabel(this);
    bell_->setFixedWidth(20);
    bell_->setAlignment(Qt::AlignCenter);
    title_ = new QLabel(this);
    title_->setObjectName(QStringLiteral("notificationsTitle"));
    title_->setFont(DashboardTypography::body());
    title_->setWordWrap(true);
    toggle_ = new ToggleSwitch(this);
    toggle_->setObjectName(QStringLiteral("notificationsToggle"));
    connect(toggle_, &ToggleSwitch::clicked, this, [this](bool on) {
        Settings settings = monitor_.settings();
        settings.notificationsEnabled = on;
        monitor_.preferences().setSettings(settings);
    });

    marker_ = new QLabel(this);
    marker_->setObjectName(QStringLiteral("notificationMarker"));
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("notificationStatus"));
    status_->setFont(DashboardTypography::caption());
    status_->setForegroundRole(QPalette::PlaceholderText);
    status_->setWordWrap(true);
    action_ = new QPushButton(this);
    action_->setObjectName(QStringLiteral("notificationAction"));
    action_->setFont(DashboardTypography::action());
    action_->setCursor(Qt::PointingHandCursor);
    SubtleButtonStyle::apply(action_);
    connect(action_, &QPushButton::clicked, this, &NotificationsRow::act);

    auto* top = new QHBoxLayout;
    top->setSpacing(6);
    top->addWidget(bell_);
    top->addWidget(title_, 1);
    top->addWidget(toggle_);

    auto* permission = new QHBoxLayout;
    permission->setContentsMargins(26, 0, 0, 0);
    permission->setSpacing(5);
    permission->addWidget(marker_, 0, Qt::AlignTop);
    permission->addWidget(status_, 1);
    // Its own line: the label is long in some languages and must not widen the panel.
    auto* actionRow = new QHBoxLayout;
    actionRow->setContentsMargins(20, 0, 0, 0);
    actionRow->addWidget(action_);
    actionRow->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addLayout(top);
    layout->addLayout(permission);
    layout->addLayout(actionRow);
}

void NotificationsRow::render() {
    const bool dark = QuotalumeStyle::isDark(palette());
    const bool enabled = monitor_.settings().notificationsEnabled;
    setDashboardSymbol(bell_, enabled ? DashboardSymbol::bell : DashboardSymbol::bellSlash,
                       palette().color(QPalette::WindowText), bellSize);
    title_->setText(QString::fromStdString(L10n::text("notification.reset_section")));
    toggle_->setChecked(enabled);
    toggle_->setAccessibleName(QString::fromStdString(L10n::text("notification.toggle")));
    toggle_->setToolTip(toggle_->accessibleName());

    LocalNotifier& notifier = monitor_.notifier();
    status_->setText(QString::fromStdString(notifier.statusText()));
    const bool allowed = permitted(notifier.authorization());
    const bool denied = notifier.authorization() == NotificationAuthorization::denied;
    marker_->setVisible(!allowed);
    status_->setVisible(!allowed || !compact_);
    // Settings are offered only where the desktop has a tool to show them.
    action_->setVisible(!allowed && (!denied || notifier.canOpenSystemSettings()));
    if (!allowed) {
        setDashboardSymbol(marker_, DashboardSymbol::alertCircle, QuotalumeStyle::warning(dark),
                           markerSize);
        QPalette actionPalette = action_->palette();
        actionPalette.setColor(QPalette::WindowText, QuotalumeStyle::accent(dark));
        action_->setPalette(actionPalette);
        const char* key = denied ? "notification.open_settings"
                          : notifier.authorization() == NotificationAuthorization::unavailable
                              ? "notification.check_again"
                              : "notification.allow";
        action_->setText(QString::fromStdString(L10n::text(key)));
    }
}

void NotificationsRow::act() {
    LocalNotifier& notifier = monitor_.notifier();
    if (notifier.authorization() == NotificationAuthorization::denied) {
        notifier.openSystemSettings();
        return;
    }
    // A notification server either answers on the bus or does not; there is nothing to ask
    // for, so "allow" looks again (a server may have started since).
    QTimer::singleShot(0, this, [this] { monitor_.notifier().refreshPermission(); });
}

}  // namespace quotalume
