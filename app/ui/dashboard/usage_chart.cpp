#include "dashboard/usage_chart.hpp"

#include "style/quotalume_style.hpp"
#include "widgets/capsule_bar.hpp"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace quotalume {
namespace {

using Seconds = std::chrono::duration<double>;

}  // namespace

UsageChart::UsageChart(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("usageChart"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void UsageChart::setReadings(std::vector<UsagePoint> points, Date start, Date reset,
                             std::optional<double> rate) {
    points_ = std::move(points);
    start_ = start;
    reset_ = reset;
    rate_ = rate;
    update();
}

void UsageChart::paintEvent(QPaintEvent*) {
    if (!drawable(points_) || reset_ <= start_) {
        return;
    }
    const bool dark = QuotalumeStyle::isDark(palette());
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(1, 3, -1, -1);
    const double span = Seconds(reset_ - start_).count();
    const auto x = [&](Date at) {
        return area.left() +
               area.width() * std::clamp(Seconds(at - start_).count() / span, 0.0, 1.0);
    };
    const auto y = [&](double used) {
        return area.bottom() - area.height() * std::clamp(used, 0.0, 100.0) / 100.0;
    };

    // The limit, and the floor.
    const QColor limit = CapsuleBar::fillColor(0, dark);
    painter.setPen(QPen(limit, 1, Qt::DashLine));
    painter.drawLine(QPointF(area.left(), y(100)), QPointF(area.right(), y(100)));
    painter.setPen(QPen(palette().color(QPalette::PlaceholderText), 1));
    painter.drawLine(QPointF(area.left(), y(0)), QPointF(area.right(), y(0)));

    // The readings, filled beneath.
    const QColor accent = QuotalumeStyle::accent(dark);
    QPainterPath line;
    line.moveTo(x(points_.front().at), y(points_.front().usedPercent));
    for (const UsagePoint& point : points_) {
        line.lineTo(x(point.at), y(point.usedPercent));
    }
    QPainterPath fill = line;
    fill.lineTo(x(points_.back().at), y(0));
    fill.lineTo(x(points_.front().at), y(0));
    fill.closeSubpath();
    QColor under = accent;
    under.setAlphaF(dark ? 0.28 : 0.18);
    painter.fillPath(fill, under);
    painter.setPen(QPen(accent, 1.6));
    painter.drawPath(line);

    // The forecast, on from the last reading to where it reaches 100 % or to the reset.
    if (rate_) {
        const UsagePoint& last = points_.back();
        double seconds = Seconds(reset_ - last.at).count();
        if (*rate_ > 0) {
            seconds = std::min(seconds, (100.0 - last.usedPercent) / *rate_);
        }
        const double reached = last.usedPercent + std::max(*rate_, 0.0) * seconds;
        const QColor colour =
            reached >= 99.999 ? limit : palette().color(QPalette::PlaceholderText);
        painter.setPen(QPen(colour, 1.6, Qt::DashLine));
        const Date end = last.at + std::chrono::duration_cast<Date::duration>(Seconds(seconds));
        painter.drawLine(QPointF(x(last.at), y(last.usedPercent)), QPointF(x(end), y(reached)));
    }
}

}  // namespace quotalume
