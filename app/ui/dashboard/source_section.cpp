#include "dashboard/source_section.hpp"

#include "dashboard/account_notices.hpp"
#include "dashboard/card_stack.hpp"
#include "dashboard/limit_notice.hpp"
#include "dashboard/plan_badge.hpp"
#include "engine.hpp"
#include "style/dashboard_typography.hpp"
#include "style/quotalume_style.hpp"
#include "widgets/capsule_bar.hpp"
#include "widgets/warning_line.hpp"

#include <quotalume/l10n/l10n.hpp>
#include <quotalume/presentation/quota_text.hpp>

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace quotalume {
namespace {

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

QLabel* plainLabel(QWidget* parent, const char* name, const QFont& font) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);  // labels are the user's text, never markup
    label->setWordWrap(true);
    return label;
}

}  // namespace

SourceSection::SourceSection(Engine& monitor, bool several, bool compact, QWidget* parent)
    : QWidget(parent), monitor_(monitor), several_(several), compact_(compact) {
    header_ = new QWidget(this);
    header_->setObjectName(QStringLiteral("sourceHeader"));
    name_ = plainLabel(header_, "sourceLabel", DashboardTypography::title());
    // A label too long for its line is cut rather than widen the panel; the tooltip holds it.
    name_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    updated_ = plainLabel(header_, "sourceUpdated", DashboardTypography::caption());
    updated_->setForegroundRole(QPalette::PlaceholderText);
    updated_->setWordWrap(false);
    badge_ = new PlanBadge(header_);
    badge_->setObjectName(QStringLiteral("sourcePlan"));
    auto* headerRow = new QHBoxLayout(header_);
    headerRow->setContentsMargins(2, 0, 0, 0);
    headerRow->setSpacing(8);
    headerRow->addWidget(name_, 1);
    headerRow->addWidget(updated_, 0, Qt::AlignVCenter);
    headerRow->addWidget(badge_, 0, Qt::AlignVCenter);

    error_ = new WarningLine(this);
    error_->setObjectName(QStringLiteral("sourceError"));
    sameAs_ = plainLabel(this, "sameAccount", DashboardTypography::body());
    sameAs_->setForegroundRole(QPalette::PlaceholderText);
    sameAs_->setContentsMargins(2, 0, 0, 0);
    blocked_ = new LimitNotice("blocked", this);
    const auto density = compact   ? QuotaCard::Density::tight
                         : several ? QuotaCard::Density::compact
                                   : QuotaCard::Density::full;
    cards_ = new CardStack(density, this);
    notices_ = new AccountNotices(compact, this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(several || compact ? 6 : 12);
    layout->addWidget(header_);
    layout->addWidget(error_);
    layout->addWidget(sameAs_);
    layout->addWidget(blocked_);
    layout->addWidget(cards_);
    layout->addWidget(notices_);
    header_->setVisible(several);
    sameAs_->hide();
}

void SourceSection::render(const EngineReading& reading) {
    label_ = reading.label;
    if (several_) {
        renderHeader(reading);
        error_->setMessage(reading.error);
    } else {
        error_->setMessage(std::nullopt);
    }
    // Another source shows this account's figures: said once, not shown twice.
    const bool shared = reading.sameAs.has_value();
    sameAs_->setVisible(shared);
    if (shared) {
        sameAs_->setText(qt(L10n::render("account.same_as", {*reading.sameAs})));
    }
    cards_->setVisible(!shared);
    if (shared) {
        blocked_->hide();
        notices_->hide();
        return;
    }
    renderBlocked(reading);
    cards_->render(reading, monitor_);
    notices_->render(reading, monitor_.now());
}

void SourceSection::renderHeader(const EngineReading& reading) {
    const QString name = qt(reading.label);
    name_->setText(name);
    name_->setToolTip(name);
    name_->setFont(DashboardTypography::oneWeight(DashboardTypography::title(), name));
    const QString heading = qt(L10n::text("dashboard.account_heading", reading.label));
    name_->setAccessibleName(heading);
    setAccessibleName(heading);

    // When its figures were read, or that they are being read; what went wrong is said below.
    const auto& snapshot = reading.snapshot;
    const bool read = snapshot && !reading.refreshing && !reading.sameAs;
    QString when = read                 ? qt(updatedText(snapshot->observedAt))
                   : reading.refreshing ? qt(L10n::text(reading.refreshingKey()))
                                        : QString();
    // Compact cards leave the outdated tag to the heading, which has room for one of the two;
    // the time stays in the tooltip.
    if (read && reading.stale && compact_) {
        when = qt(L10n::text("quota.stale"));
    }
    updated_->setText(when);
    updated_->setVisible(!when.isEmpty());
    updated_->setToolTip(read ? qt(lastUpdatedText(snapshot->observedAt)) : QString());

    const std::optional<RateBucket> bucket = snapshot ? snapshot->codexBucket() : std::nullopt;
    const bool hasPlan = bucket && bucket->planType && !bucket->planType->empty();
    badge_->setVisible(hasPlan);
    if (hasPlan) {
        badge_->setPlan(*bucket->planType);
    }
}

void SourceSection::renderBlocked(const EngineReading& reading) {
    const std::optional<BlockedState> blocked = reading.blocked();
    blocked_->setVisible(blocked.has_value());
    if (blocked) {
        const bool dark = QuotalumeStyle::isDark(palette());
        blocked_->render(DashboardSymbol::alertCircle, CapsuleBar::fillColor(0, dark),
                         qt(blocked->text(monitor_.now())));
    }
}

}  // namespace quotalume
