#include "dashboard/connection_status.hpp"

#include "engine.hpp"
#include "style/dashboard_symbol.hpp"
#include "style/dashboard_typography.hpp"
#include "style/quotalume_style.hpp"
#include "widgets/subtle_button.hpp"
#include "widgets/warning_line.hpp"

#include <quotalume/codex/codex_locator.hpp>
#include <quotalume/l10n/l10n.hpp>
#include <quotalume/presentation/quota_text.hpp>

#include <QHBoxLayout>
#include <QLabel>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace quotalume {
namespace {

constexpr int markerSize = 12;

}  // namespace

ConnectionStatus::ConnectionStatus(Engine& monitor, QWidget* parent)
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
    refresh_->setFont(DashboardTypography::action());
    refresh_->setCursor(Qt::PointingHandCursor);
    SubtleButtonStyle::apply(refresh_);
    // Later, on the loop: the click's own handling finishes before the monitor publishes.
    connect(refresh_, &QToolButton::clicked, this,
            [this] { QTimer::singleShot(0, this, [this] { monitor_.refresh(); }); });

    error_ = new WarningLine(this);
    error_->setObjectName(QStringLiteral("errorLine"));
    warnings_ = new QWidget(this);
    warnings_->setObjectName(QStringLiteral("warnings"));
    auto* warningList = new QVBoxLayout(warnings_);
    warningList->setContentsMargins(0, 0, 0, 0);
    warningList->setSpacing(6);

    offer_ = new QWidget(this);
    offer_->setObjectName(QStringLiteral("codexOffer"));
    offerPath_ = new QLabel(offer_);
    offerPath_->setObjectName(QStringLiteral("codexOfferPath"));
    offerPath_->setFont(DashboardTypography::caption());
    offerPath_->setWordWrap(true);
    offerPath_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    offerUse_ = new QToolButton(offer_);
    offerUse_->setObjectName(QStringLiteral("codexOfferUse"));
    offerUse_->setFont(DashboardTypography::action());
    connect(offerUse_, &QToolButton::clicked, this, [this] {
        if (found_.size() == 1) {
            const std::string path = found_.front();
            QTimer::singleShot(0, this, [this, path] {
                monitor_.saveAndConnect(path, monitor_.settings().codexHome);
            });
        }
    });
    auto* offerRow = new QHBoxLayout(offer_);
    offerRow->setContentsMargins(0, 0, 0, 0);
    offerRow->addWidget(offerPath_, 1);
    offerRow->addWidget(offerUse_, 0, Qt::AlignVCenter);

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
    top->addStretch(0);  // alone on its line (several sources), the button keeps to the left

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addLayout(top);
    layout->addWidget(error_);
    layout->addWidget(offer_);
    layout->addWidget(warnings_);
}

void ConnectionStatus::render() {
    const bool dark = QuotalumeStyle::isDark(palette());
    const EngineReading& reading = monitor_.reading();
    // Among several sources each section says how its own stands; here only the button stays,
    // named, for it reads them all.
    const bool several = !reading.accounts.empty();
    status_->setVisible(!several);
    status_->setText(QString::fromStdString(L10n::text(reading.statusKey())));
    const bool troubled = reading.stale && !several;
    marker_->setVisible(troubled);
    if (troubled) {
        setDashboardSymbol(marker_, DashboardSymbol::alertCircle, QuotalumeStyle::warning(dark),
                           markerSize);
    }
    const auto& snapshot = reading.snapshot;
    updated_->setVisible(snapshot && !several);
    if (snapshot) {
        updated_->setText(QString::fromStdString(updatedText(snapshot->observedAt)));
        updated_->setToolTip(QString::fromStdString(lastUpdatedText(snapshot->observedAt)));
    }
    error_->setMessage(several ? std::nullopt : reading.error);
    // Offline, the program is not in question: nothing to offer instead.
    const bool unchosen =
        monitor_.settings().codexPath.empty() && !monitor_.demo() && !reading.offline();
    if (!unchosen || !monitor_.lastError()) {
        searchedFor_.reset();
        found_.clear();
    } else if (searchedFor_ != monitor_.lastError()) {
        searchedFor_ = monitor_.lastError();
        found_ = CodexLocator::suggestions();
    }
    offer_->setVisible(found_.size() == 1);
    if (found_.size() == 1) {
        offerPath_->setText(QString::fromStdString(L10n::text("source.found", found_.front())));
        offerUse_->setText(QString::fromStdString(L10n::text("source.use")));
    }
    const std::vector<LocalizedMessage>& warnings = reading.warnings;
    while (warningLines_.size() < warnings.size()) {
        auto* line = new WarningLine(warnings_);
        line->setObjectName(QStringLiteral("warningLine%1").arg(warningLines_.size()));
        warnings_->layout()->addWidget(line);
        warningLines_.push_back(line);
    }
    for (std::size_t i = 0; i < warningLines_.size(); ++i) {
        warningLines_[i]->setMessage(i < warnings.size() ? std::optional(warnings[i])
                                                         : std::nullopt);
    }
    warnings_->setVisible(!warnings.empty());

    refresh_->setEnabled(!monitor_.isRefreshing());
    const QString refresh = QString::fromStdString(L10n::text("common.refresh"));
    refresh_->setToolTip(refresh);
    refresh_->setAccessibleName(refresh);
    refresh_->setText(refresh);
    refresh_->setToolButtonStyle(several ? Qt::ToolButtonTextBesideIcon : Qt::ToolButtonIconOnly);
    refresh_->setIcon(
        dashboardSymbol(DashboardSymbol::refresh, palette().color(QPalette::ButtonText), 16));
}

}  // namespace quotalume
