#pragma once

#include <quotalume/support/date.hpp>
#include <quotalume/usage/usage_forecast.hpp>

#include <QRectF>
#include <QString>
#include <QWidget>

#include <optional>
#include <vector>

namespace quotalume {

// The share of a window left, from its start to its reset, as the card shows it: the readings
// kept, falling towards the limit on the floor, and the forecast drawn on from the last one at
// the recent rate. A 0–100 axis on the left, the start, "Now" and the reset beneath, and the
// value of the nearest reading under the pointer. Named "usageChart".
class UsageChart : public QWidget {
public:
    // A text as drawn: the axis ticks and the times under the plot.
    struct Label {
        QString text;
        QRectF rect;
    };

    explicit UsageChart(QWidget* parent = nullptr);

    // `rate` in points used a second, when there is one; `now` places "Now".
    void setReadings(std::vector<UsagePoint> points, Date start, Date reset,
                     std::optional<double> rate, Date now);
    // Enough to draw: two readings.
    static bool drawable(const std::vector<UsagePoint>& points) { return points.size() >= 2; }

    // Right of the axis, above the times: 100 % left on its top edge, the limit on its bottom.
    QRectF plotArea() const;
    std::vector<Label> axisLabels() const;
    std::vector<Label> timeLabels() const;
    // The window's start and reset and the last value left, for assistive technology; what the
    // owner sets as the accessible description follows it.
    QString summary() const { return summary_; }

    QSize sizeHint() const override { return {240, 48}; }
    // Below 40 pixels the plot keeps only a sliver between its ticks and the times.
    QSize minimumSizeHint() const override { return {120, 40}; }

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    class Layout;
    Layout layout() const;
    // The tooltip for a pointer at `position`: the reading nearest it, or the axis's unit.
    QString hoverText(QPointF position);

    std::vector<UsagePoint> points_;
    Date start_;
    Date reset_;
    Date now_;
    std::optional<double> rate_;
    QString startText_;
    QString nowText_;
    QString resetText_;
    QString summary_;
    std::optional<std::size_t> hovered_;
};

}  // namespace quotalume
