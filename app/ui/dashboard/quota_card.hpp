#pragma once

#include "dashboard/dashboard_card_surface.hpp"

#include <quotalume/date.hpp>
#include <quotalume/quota_window.hpp>
#include <quotalume/rate_limits.hpp>

class QLabel;

namespace quotalume {

class CapsuleBar;

// One quota window: title, outdated tag, warning, remaining percentage, a bar of the remaining
// share and the countdown to the reset. Named "quotaCard.<window>" ("quotaCard.five_hour").
class QuotaCard : public DashboardCardSurface {
    Q_OBJECT

public:
    explicit QuotaCard(QuotaWindow kind, QWidget* parent = nullptr);

    QuotaWindow kind() const { return kind_; }
    // Shows `window` as of `now`, in the current language and palette.
    void render(const RateWindow& window, Date now, bool stale);

private:
    QuotaWindow kind_;
    QLabel* title_;
    QLabel* stale_;
    QLabel* warningIcon_;
    QLabel* warning_;
    QLabel* percentage_;
    CapsuleBar* bar_;
    QLabel* resetIcon_;
    QLabel* countdown_;
};

}  // namespace quotalume
