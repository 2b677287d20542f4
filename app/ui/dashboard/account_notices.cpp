#include "dashboard/account_notices.hpp"

#include "dashboard/bucket_section.hpp"
#include "dashboard/credits_row.hpp"
#include "dashboard/limit_notice.hpp"
#include "engine_reading.hpp"
#include "style/quotalume_style.hpp"
#include "widgets/capsule_bar.hpp"

#include <quotalume/l10n/l10n.hpp>

#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace quotalume {
namespace {

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

AccountNotices::AccountNotices(bool compact, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("accountNotices"));
    bucketsLayout_ = new QVBoxLayout;
    bucketsLayout_->setSpacing(6);
    spend_ = new LimitNotice("spendLimit", this);
    bankedResets_ = new LimitNotice("bankedResets", this);
    credits_ = new CreditsRow(compact, this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    layout->addLayout(bucketsLayout_);
    layout->addWidget(spend_);
    layout->addWidget(bankedResets_);
    layout->addWidget(credits_);
}

void AccountNotices::render(const EngineReading& reading, Date now) {
    renderBuckets(reading, now);
    renderSpendLimit(reading, now);
    renderBankedResets(reading);
    const std::optional<CreditsSnapshot> credits = reading.credits();
    const bool showCredits = credits && credits->shouldDisplay();
    credits_->setVisible(showCredits);
    if (showCredits) {
        credits_->render(*credits, reading.stale);
    }
    setVisible(!buckets_.empty() || !spend_->isHidden() || !bankedResets_->isHidden() ||
               showCredits);
}

void AccountNotices::renderBuckets(const EngineReading& reading, Date now) {
    const std::vector<BucketSummary> others = reading.otherBuckets();
    // Kept while the same buckets come: a section the user opened stays open.
    bool same = others.size() == buckets_.size();
    for (std::size_t i = 0; same && i < others.size(); ++i) {
        same = buckets_[i]->id() == others[i].bucket.id();
    }
    if (!same) {
        for (BucketSection* section : buckets_) {
            delete section;
        }
        buckets_.clear();
        for (std::size_t i = 0; i < others.size(); ++i) {
            buckets_.push_back(new BucketSection(this));
            bucketsLayout_->addWidget(buckets_.back());
        }
    }
    for (std::size_t i = 0; i < others.size(); ++i) {
        buckets_[i]->render(others[i], now, reading.stale);
    }
}

void AccountNotices::renderSpendLimit(const EngineReading& reading, Date now) {
    const std::optional<RateBucket> bucket =
        reading.snapshot ? reading.snapshot->codexBucket() : std::nullopt;
    const std::optional<SpendControlLimit> limit = bucket ? bucket->individualLimit : std::nullopt;
    spend_->setVisible(limit && (limit->remainingPercent || limit->used));
    if (spend_->isHidden()) {
        return;
    }
    std::string caption;
    if (limit->used && limit->limit) {
        caption = L10n::text("spend.used", *limit->used, *limit->limit);
    }
    if (const std::optional<Date> reset = limit->resetDate()) {
        caption += (caption.empty() ? "" : " \u00b7 ") + L10n::countdown(reset, now);
    }
    const std::string value =
        limit->remainingPercent
            ? L10n::text("spend.remaining", std::to_string(static_cast<long long>(std::floor(
                                                std::clamp(*limit->remainingPercent, 0.0, 100.0)))))
            : std::string();
    const bool dark = QuotalumeStyle::isDark(palette());
    spend_->render(DashboardSymbol::grid,
                   bucket->spendControlReached.value_or(false)
                       ? CapsuleBar::fillColor(0, dark)
                       : palette().color(QPalette::WindowText),
                   qt(L10n::text("spend.title")), qt(caption), qt(value));
}

void AccountNotices::renderBankedResets(const EngineReading& reading) {
    const std::optional<ResetCreditsSummary> banked =
        reading.snapshot ? reading.snapshot->resetCredits : std::nullopt;
    bankedResets_->setVisible(banked && banked->availableCount > 0);
    if (bankedResets_->isHidden()) {
        return;
    }
    const std::string count = std::to_string(banked->availableCount);
    const std::optional<ResetCredit> next = banked->nextExpiring();
    const std::string line =
        next ? L10n::text("credits.banked_resets_expiring", count,
                          L10n::date(*next->expiryDate(), DateStyle::mediumStyle, DateStyle::none))
             : L10n::text("credits.banked_resets", count);
    bankedResets_->render(DashboardSymbol::refresh, palette().color(QPalette::PlaceholderText),
                          qt(line));
}

}  // namespace quotalume
