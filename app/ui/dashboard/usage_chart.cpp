#include "dashboard/usage_chart.hpp"

#include "style/dashboard_typography.hpp"
#include "style/quotalume_style.hpp"
#include "widgets/capsule_bar.hpp"

#include <quotalume/l10n/l10n.hpp>
#include <quotalume/usage/rate_limits.hpp>

#include <QAccessibleWidget>
#include <QFontMetricsF>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>

#include <algorithm>
#include <cmath>

namespace quotalume {
namespace {

using Seconds = std::chrono::duration<double>;

// Room between neighbouring labels, and between the tick labels and the plot.
constexpr double labelGap = 6;
constexpr double tickGap = 4;
// Compact cards give the chart less than this: smaller labels leave the plot some height.
constexpr int compactHeight = 40;

QString chartText(const std::string& text) {
    return QString::fromStdString(text);
}

// A window longer than a day is told by dates under the plot, and by date and time elsewhere.
bool spansDays(Date start, Date reset) {
    return reset - start > std::chrono::hours(24);
}

QString labelText(Date at, bool days) {
    return chartText(days ? L10n::date(at, DateStyle::shortStyle, DateStyle::none)
                          : L10n::date(at, DateStyle::none, DateStyle::shortStyle));
}

QString momentText(Date at, bool days) {
    return chartText(
        L10n::date(at, days ? DateStyle::shortStyle : DateStyle::none, DateStyle::shortStyle));
}

// The share left as the card writes it ("40%", "<1%"), at the reading's time.
QString valueText(const UsagePoint& point, bool days) {
    return chartText(L10n::text("chart.value", RateWindow{point.usedPercent}.percentageText(),
                                momentText(point.at, days).toStdString()));
}

QString axisUnit() {
    return chartText(L10n::text("chart.axis"));
}

// The chart's own words come first; what the card adds (the forecast, compact) after them.
class ChartAccessible : public QAccessibleWidget {
public:
    explicit ChartAccessible(UsageChart* chart) : QAccessibleWidget(chart, QAccessible::Chart) {}

    QString text(QAccessible::Text kind) const override {
        const auto* chart = static_cast<const UsageChart*>(widget());
        if (kind == QAccessible::Description) {
            QStringList parts{chart->summary(), chart->accessibleDescription()};
            parts.removeAll(QString());
            return parts.join(QStringLiteral(", "));
        }
        if (kind == QAccessible::Name && chart->accessibleName().isEmpty()) {
            return axisUnit();
        }
        return QAccessibleWidget::text(kind);
    }
};

QAccessibleInterface* chartAccessible(const QString&, QObject* object) {
    auto* chart = dynamic_cast<UsageChart*>(object);
    return chart ? new ChartAccessible(chart) : nullptr;
}

}  // namespace

// Where everything goes at the widget's present size: worked out for each paint and hover
// rather than kept, so that a resize or a new font needs no bookkeeping.
class UsageChart::Layout {
public:
    explicit Layout(const UsageChart& chart) : start_(chart.start_), reset_(chart.reset_) {
        font = DashboardTypography::caption();
        font.setPixelSize(chart.height() < compactHeight ? 9 : 10);
        const QFontMetricsF metrics(font);
        // Tick labels are digits: their cap height is all they take.
        const double digits = std::ceil(metrics.capHeight());
        const double axisWidth = std::ceil(metrics.horizontalAdvance(QStringLiteral("100")));
        const double timeRow = std::ceil(metrics.height());
        const double top = std::ceil(digits / 2);
        const double bottom = std::max(top + 2, chart.height() - timeRow - 2);
        plot = QRectF(axisWidth + tickGap, top,
                      std::max(2.0, chart.width() - axisWidth - tickGap - 1), bottom - top);

        std::vector<int> ticks{100, 0};
        if (plot.height() / 2 >= digits + tickGap) {  // half the plot between 50 and each end
            ticks.push_back(50);
        }
        for (int tick : ticks) {
            const QString text = QString::number(tick);
            const double width = metrics.horizontalAdvance(text);
            const double centre = y(tick);
            const double labelTop =
                std::clamp(centre - digits / 2, 0.0, std::max(0.0, chart.height() - digits));
            axis.push_back({text, QRectF(axisWidth - width, labelTop, width, digits)});
        }
        placeTimes(chart, metrics, timeRow);
    }

    double x(Date at) const {
        const double share = Seconds(at - start_).count() / Seconds(reset_ - start_).count();
        return plot.left() + 0.5 + (plot.width() - 1) * std::clamp(share, 0.0, 1.0);
    }
    // Pixel centres: 100 % left on the top row, the limit on the bottom one.
    double y(double left) const {
        return plot.bottom() - 0.5 - (plot.height() - 1) * std::clamp(left, 0.0, 100.0) / 100;
    }

    QFont font;
    QRectF plot;
    std::vector<Label> axis;
    std::vector<Label> times;

private:
    // The reset always, cut to the plot's width when it must; the start where it leaves room;
    // "Now" where it keeps clear of both.
    void placeTimes(const UsageChart& chart, const QFontMetricsF& metrics, double row) {
        const double rowTop = chart.height() - row;
        const auto width = [&](const QString& text) {
            return std::ceil(metrics.horizontalAdvance(text));
        };
        const QString resetText =
            metrics.elidedText(chart.resetText_, Qt::ElideRight, plot.width());
        const QRectF reset(plot.right() - width(resetText), rowTop, width(resetText), row);
        const QRectF start(plot.left(), rowTop, width(chart.startText_), row);
        const bool startFits = start.right() + labelGap <= reset.left();
        if (startFits) {
            times.push_back({chart.startText_, start});
        }
        const double nowWidth = width(chart.nowText_);
        // Centred on its time but kept over the plot (std::clamp wants an ordered range).
        const double nowLeft =
            std::max(plot.left(), std::min(x(chart.now_) - nowWidth / 2, plot.right() - nowWidth));
        const QRectF now(nowLeft, rowTop, nowWidth, row);
        const double leftLimit = startFits ? start.right() + labelGap : plot.left();
        if (chart.now_ > chart.start_ && chart.now_ < chart.reset_ && now.left() >= leftLimit &&
            now.right() + labelGap <= reset.left()) {
            times.push_back({chart.nowText_, now});
        }
        times.push_back({resetText, reset});
    }

    Date start_;
    Date reset_;
};

UsageChart::UsageChart(QWidget* parent) : QWidget(parent) {
    static const bool accessible = (QAccessible::installFactory(chartAccessible), true);
    (void)accessible;
    setObjectName(QStringLiteral("usageChart"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setMouseTracking(true);
}

void UsageChart::setReadings(std::vector<UsagePoint> points, Date start, Date reset,
                             std::optional<double> rate, Date now) {
    points_ = std::move(points);
    start_ = start;
    reset_ = reset;
    now_ = now;
    rate_ = rate;
    if (hovered_ && *hovered_ >= points_.size()) {
        hovered_.reset();
    }
    const bool days = spansDays(start, reset);
    startText_ = labelText(start, days);
    resetText_ = labelText(reset, days);
    nowText_ = chartText(L10n::text("chart.now"));
    summary_.clear();
    if (!points_.empty()) {
        summary_ = momentText(start, days) + QStringLiteral(" \u2013 ") + momentText(reset, days) +
                   QStringLiteral(", ") + valueText(points_.back(), days);
    }
    update();
}

UsageChart::Layout UsageChart::layout() const {
    return Layout(*this);
}

QRectF UsageChart::plotArea() const {
    return layout().plot;
}

std::vector<UsageChart::Label> UsageChart::axisLabels() const {
    return layout().axis;
}

std::vector<UsageChart::Label> UsageChart::timeLabels() const {
    return layout().times;
}

QString UsageChart::hoverText(QPointF position) {
    const std::optional<std::size_t> before = hovered_;
    hovered_.reset();
    QString text;
    const Layout frame = layout();
    if (!drawable(points_) || reset_ <= start_) {
        // nothing drawn, nothing to name
    } else if (position.x() < frame.plot.left()) {
        text = axisUnit();
    } else {
        const auto distance = [&](const UsagePoint& point) {
            return std::abs(frame.x(point.at) - position.x());
        };
        const auto nearest = std::min_element(
            points_.begin(), points_.end(),
            [&](const auto& a, const auto& b) { return distance(a) < distance(b); });
        hovered_ = static_cast<std::size_t>(nearest - points_.begin());
        text = valueText(*nearest, spansDays(start_, reset_));
    }
    if (hovered_ != before) {
        update();
    }
    return text;
}

bool UsageChart::event(QEvent* event) {
    if (event->type() != QEvent::ToolTip) {
        return QWidget::event(event);
    }
    const auto* help = static_cast<QHelpEvent*>(event);
    QStringList lines{hoverText(help->pos()), toolTip()};
    lines.removeAll(QString());
    if (lines.isEmpty()) {
        QToolTip::hideText();
        event->ignore();
    } else {
        QToolTip::showText(help->globalPos(), lines.join(QLatin1Char('\n')), this);
    }
    return true;
}

void UsageChart::mouseMoveEvent(QMouseEvent* event) {
    // The value follows the pointer at once, not after the usual tooltip delay.
    QHelpEvent help(QEvent::ToolTip, event->position().toPoint(),
                    event->globalPosition().toPoint());
    UsageChart::event(&help);
    QWidget::mouseMoveEvent(event);
}

void UsageChart::leaveEvent(QEvent* event) {
    if (hovered_) {
        hovered_.reset();
        update();
    }
    QToolTip::hideText();
    QWidget::leaveEvent(event);
}

void UsageChart::paintEvent(QPaintEvent*) {
    if (!drawable(points_) || reset_ <= start_) {
        return;
    }
    const bool dark = QuotalumeStyle::isDark(palette());
    const QColor secondary = palette().color(QPalette::PlaceholderText);
    const QColor limit = CapsuleBar::fillColor(0, dark);
    const QColor accent = QuotalumeStyle::accent(dark);
    const Layout frame = layout();
    const QRectF& plot = frame.plot;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const auto at = [&](const UsagePoint& point) {
        return QPointF(frame.x(point.at), frame.y(100 - point.usedPercent));
    };

    // Faint guides at the ticks above the floor, and where now is.
    QColor guide = secondary;
    guide.setAlphaF(0.3);
    painter.setPen(QPen(guide, 1));
    for (const Label& tick : frame.axis) {
        const double left = tick.text.toDouble();
        if (left > 0) {
            painter.drawLine(QPointF(plot.left(), frame.y(left)),
                             QPointF(plot.right(), frame.y(left)));
        }
    }
    if (now_ > start_ && now_ < reset_) {
        painter.drawLine(QPointF(frame.x(now_), plot.top()), QPointF(frame.x(now_), plot.bottom()));
    }

    // The readings, filled down to the floor.
    QPainterPath line;
    line.moveTo(at(points_.front()));
    for (const UsagePoint& point : points_) {
        line.lineTo(at(point));
    }
    QPainterPath fill = line;
    fill.lineTo(frame.x(points_.back().at), frame.y(0));
    fill.lineTo(frame.x(points_.front().at), frame.y(0));
    fill.closeSubpath();
    QColor under = accent;
    under.setAlphaF(dark ? 0.28 : 0.18);
    painter.fillPath(fill, under);
    painter.setPen(QPen(accent, 1.6));
    painter.drawPath(line);

    // The limit: a solid thin line on the floor, unlike the dashed forecast.
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(limit, 1));
    painter.drawLine(QPointF(plot.left(), frame.y(0)), QPointF(plot.right() - 1, frame.y(0)));
    painter.setRenderHint(QPainter::Antialiasing);

    // The forecast, on from the last reading until it reaches the limit or the reset.
    const UsagePoint& last = points_.back();
    if (rate_ && last.at < reset_) {
        const double left = 100 - std::clamp(last.usedPercent, 0.0, 100.0);
        const double rate = std::max(*rate_, 0.0);
        double seconds = Seconds(reset_ - last.at).count();
        if (rate > 0) {
            seconds = std::min(seconds, left / rate);
        }
        const double reached = std::max(0.0, left - rate * seconds);
        QPen dashed(reached <= 0.001 ? limit : secondary, 1.6);
        dashed.setDashPattern({3, 2.5});  // gaps wide enough to tell from the solid limit
        painter.setPen(dashed);
        const Date end = last.at + std::chrono::duration_cast<Date::duration>(Seconds(seconds));
        painter.drawLine(at(last), QPointF(frame.x(end), frame.y(reached)));
    }

    // The reading the tooltip names, ringed in the background to stand off the line.
    if (hovered_) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(palette().color(QPalette::Window));
        painter.drawEllipse(at(points_[*hovered_]), 4.5, 4.5);
        painter.setBrush(accent);
        painter.drawEllipse(at(points_[*hovered_]), 3, 3);
    }

    painter.setFont(frame.font);
    painter.setPen(secondary);
    // Time runs from left to right in any layout, and so do the times under it: in a
    // right-to-left one the painter would show "4:00 AM" as "AM 4:00".
    painter.setLayoutDirection(Qt::LeftToRight);
    const double baseline = height() - QFontMetricsF(frame.font).descent();
    for (const Label& tick : frame.axis) {
        painter.drawText(tick.rect.bottomLeft(), tick.text);
    }
    for (const Label& time : frame.times) {
        painter.drawText(QPointF(time.rect.left(), baseline), time.text);
    }
}

}  // namespace quotalume
