#pragma once

#include <quotalume/support/date.hpp>
#include <quotalume/usage/usage_forecast.hpp>

#include <QWidget>

#include <optional>
#include <vector>

namespace quotalume {

// The share of a window used so far, from its start to its reset: the readings kept, the
// forecast drawn on from the last one at the recent rate, and the 100 % line. Named
// "usageChart".
class UsageChart : public QWidget {
public:
    explicit UsageChart(QWidget* parent = nullptr);

    // `rate` in points a second, when there is one.
    void setReadings(std::vector<UsagePoint> points, Date start, Date reset,
                     std::optional<double> rate);
    // Enough to draw: two readings.
    static bool drawable(const std::vector<UsagePoint>& points) { return points.size() >= 2; }

    QSize sizeHint() const override { return {240, 48}; }
    QSize minimumSizeHint() const override { return {120, 48}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<UsagePoint> points_;
    Date start_;
    Date reset_;
    std::optional<double> rate_;
};

}  // namespace quotalume
