#include "connection_status.hpp"

#include "dashboard_symbol.hpp"
#include "dashboard_typography.hpp"
#include "quotalume_style.hpp"
#include "subtle_button.hpp"
#include "usage_monitor.hpp"
#include "warning_line.hpp"

#include <quotalume/l10n.hpp>
#include <quotalume/quota_text.hpp>

#include <QHBoxLayout>
#include <QLabel>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace quotalume {
namespace {

constexpr int markerSize = 12;

}  // namespace

ConnectionStatus::ConnectionStatus(UsageMonitor& monitor, QWidget* parent)
    : QWidget(parent), monitor_(monitor) {
    marker_ = new QLabel(this);
    marker_->setObjectName(QStringLiteral("statusMarker"));
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("status"));
    status_->setFont(DashboardTypography::body());
    status_->setWordWrap(true);
    updated_ = new QLabel(this);
    updated_->setObjectName(QStringLiteral("updated"));
    updated_->setFont(DashboardTypography::caption());
    updated_->setForegroundRole(QPalette::PlaceholderText);
    updated_->setWordWrap(true);

    refresh_ = new QToolButton(this);
    refresh_->setObjectName(QStringLiteral("refresh"));
    refresh_->setAutoRaise(true);
    refresh_->setIconSize(QSize(16, 16));
    refresh_->setCursor(Qt::PointingHandCursor);
    SubtleButtonStyle::apply(refresh_);
    // Later, on the loop: the click's own handling finishes before the monitor publishes.
    connect(refresh_, &QToolButton::clicked, this,
            [this] { QTimer::singleShot(0, this, [this] { monitor_.refresh(); }); });

    error_ = new WarningLine(this);
    error_->setObjectName(QStringLiteral("errorLine"));
    persistence_ = new WarningLine(this);
    persistence_->setObjectName(QStringLiteral("persistenceLine"));

    auto* text = new QVBoxLayout;
    text->setSpacing(1);
    auto* statusRow = new QHBoxLayout;
    statusRow->setSpacing(5);
    statusRow->addWidget(marker_, 0, Qt::AlignTop);
    statusRow->addWidget(status_, 1);
    text->addLayout(statusRow);
    text->addWidget(updated_);

    auto* top = new QHBoxLayout;
    top->addLayout(text, 1);
    top->addWidget(refresh_, 0, Qt::AlignVCenter);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addLayout(top);
    layout->addWidget(error_);
    layout->addWidget(persistence_);
}

void ConnectionStatus::render() {
    const bool dark = QuotalumeStyle::isDark(palette());
    status_->setText(QString::fromStdString(monitor_.statusText()));
    const bool troubled = monitor_.isStale() || monitor_.lastError().has_value();
    marker_->setVisible(troubled);
    if (troubled) {
        marker_->setPixmap(
            dashboardSymbol(DashboardSymbol::alertCircle, QuotalumeStyle::warning(dark), markerSize)
                .pixmap(QSize(markerSize, markerSize), devicePixelRatioF()));
    }
    const auto& snapshot = monitor_.snapshot();
    updated_->setVisible(snapshot.has_value());
    if (snapshot) {
        updated_->setText(QString::fromStdString(updatedText(snapshot->observedAt)));
        updated_->setToolTip(QString::fromStdString(lastUpdatedText(snapshot->observedAt)));
    }
    error_->setMessage(monitor_.lastError());
    persistence_->setMessage(monitor_.persistenceWarning());

    refresh_->setEnabled(!monitor_.isRefreshing());
    const QString refresh = QString::fromStdString(L10n::text("common.refresh"));
    refresh_->setToolTip(refresh);
    refresh_->setAccessibleName(refresh);
    refresh_->setIcon(
        dashboardSymbol(DashboardSymbol::refresh, palette().color(QPalette::ButtonText), 16));
}

}  // namespace quotalume
