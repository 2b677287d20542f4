#pragma once

#include "dashboard/dashboard_card_surface.hpp"

#include <quotalume/support/date.hpp>
#include <quotalume/usage/quota_window.hpp>
#include <quotalume/usage/rate_limits.hpp>
#include <quotalume/usage/usage_forecast.hpp>

#include <QStringList>

#include <optional>
#include <vector>

class QLabel;

namespace quotalume {

class CapsuleBar;
class UsageChart;

// One quota window: title, outdated tag, warning, remaining percentage, a bar of the remaining
// share and the countdown to the reset; beneath, once readings are kept, a chart of the window
// so far and the forecast in a sentence. Named "quotaCard.<window>" ("quotaCard.five_hour").
// Reached by Tab; a screen reader reads it as one element: the window, the share left and the
// reset in its name, the rest in its description.
class QuotaCard : public DashboardCardSurface {
    Q_OBJECT

public:
    // Compact cards stand two abreast, so that several accounts fit on a small screen: the
    // percentage under the title, smaller, and a lower chart. Tight ones, for a screen too low
    // even for those, leave the forecast's sentence to the chart's tooltip.
    enum class Density { full, compact, tight };

    explicit QuotaCard(QuotaWindow kind, Density density = Density::full,
                       QWidget* parent = nullptr);

    QuotaWindow kind() const { return kind_; }
    // Shows `window` as of `now`, in the current language and palette.
    void render(const RateWindow& window, Date now, bool stale);
    // The readings kept of the window's current occurrence, and its forecast.
    void renderForecast(const RateWindow& window, Date now, std::vector<UsagePoint> readings,
                        const std::optional<UsageForecast>& forecast);

private:
    QLayout* figureRow();
    void layOutFull();
    void layOutCompact();
    void describe();

    QuotaWindow kind_;
    Density density_;
    QLabel* title_;
    QLabel* stale_;
    QLabel* warningIcon_;
    QLabel* warning_;
    QLabel* percentage_;
    // The percentage's sense, "left", on whichever side the language puts it.
    QLabel* leftBefore_;
    QLabel* leftAfter_;
    CapsuleBar* bar_;
    QLabel* resetIcon_;
    QLabel* countdown_;
    UsageChart* chart_;
    QLabel* forecast_;
    QStringList state_;     // the warning, outdated tag and countdown last rendered
    QString forecastSaid_;  // the forecast's sentence, wherever it shows
};

}  // namespace quotalume
