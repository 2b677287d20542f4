#include "dashboard/usage_chart.hpp"
#include "dashboard/quota_card.hpp"
#include "monitor_harness.hpp"
#include "style/quotalume_style.hpp"
#include "widgets/capsule_bar.hpp"

#include <QAccessible>
#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QToolTip>

#include <ctime>
#include <memory>

namespace quotalume {
namespace {

using Length = std::chrono::minutes;

const QPalette lightPalette(QColor(239, 239, 239));
const QPalette darkPalette(QColor(42, 42, 42));
// 2026-03-01 10:00 UTC: a five-hour window runs to 15:00, a weekly one to March 8.
const Date start = dateFromUnixSeconds(1772359200);
const Length fiveHour = std::chrono::hours(5);
const Length weekly = std::chrono::days(7);

Date at(Length window, double share) {
    return start + std::chrono::duration_cast<Date::duration>(window * share);
}

std::vector<UsagePoint> readings(Length window,
                                 std::initializer_list<std::pair<double, double>> shareAndUsed) {
    std::vector<UsagePoint> points;
    for (auto [share, used] : shareAndUsed) {
        points.push_back({at(window, share), used, start + window});
    }
    return points;
}

int distance(QColor a, QColor b) {
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
           std::abs(a.blue() - b.blue());
}

// The pixel centre of a time and a share left, as a reader of the plot takes them.
QPointF point(const QRectF& plot, double share, double left) {
    return {plot.left() + 0.5 + (plot.width() - 1) * share,
            plot.bottom() - 0.5 - (plot.height() - 1) * left / 100};
}

QPoint pixel(QPointF centre) {
    return {int(std::floor(centre.x())), int(std::floor(centre.y()))};
}

// A chart on a panel filled with the palette's window colour, in UTC and English.
class UsageChartTest : public testing::Test {
protected:
    UsageChartTest() { ::tzset(); }
    ~UsageChartTest() override { QToolTip::hideText(); }

    UsageChart& chart(Length window, std::vector<UsagePoint> points, QSize size,
                      std::optional<double> rate = std::nullopt, double nowShare = 0.5,
                      const QPalette& palette = lightPalette) {
        panel = std::make_unique<QWidget>();
        panel->setPalette(palette);
        panel->setAutoFillBackground(true);
        panel->resize(size);
        auto* chart = new UsageChart(panel.get());
        chart->setGeometry(QRect(QPoint(), size));
        chart->setReadings(std::move(points), start, start + window, rate, at(window, nowShare));
        return *chart;
    }
    QImage image() const { return panel->grab().toImage(); }
    void hover(UsageChart& chart, QPointF at) {
        panel->show();
        QMouseEvent move(QEvent::MouseMove, at, chart.mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(&chart, &move);
    }
    void leave(UsageChart& chart) {
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(&chart, &leave);
    }

    struct ZoneReset {
        ~ZoneReset() { ::tzset(); }  // after `zone` has restored TZ
    } zoneReset;
    test::InterfaceLanguage english;
    test::ScopedEnvironment zone{"TZ", "UTC"};
    std::unique_ptr<QWidget> panel;
};

// At every size, light and dark: the share left (30 % used at 70 % of the height), a solid limit,
// a dashed forecast (grey while it lasts, red when it runs out), a mark while hovered, and the
// labels inside and apart: "Now" yields first, then the start, then the reset is cut.
TEST_F(UsageChartTest, DrawsTheShareLeftTheForecastAndTheLabels) {
    struct Row {
        const char* name;
        Length window;
        QSize size;
        double now;
        QPointF end;                     // of the forecast: share of the window, share left
        std::vector<std::string> times;  // nothing: only the reset, cut
        std::vector<std::string> ticks;
    };
    const std::vector<std::string> ticks{"100", "0"};
    const std::vector<std::string> tall{"100", "0", "50"};
    const std::string ten = "10:00\u202fAM";
    const std::string three = "3:00\u202fPM";
    for (const Row& row : {
             Row{"five-hour, flat", fiveHour, {300, 64}, 0.52, {1, 55}, {ten, "Now", three}, tall},
             Row{"compact", fiveHour, {170, 26}, 0.5, {0.8, 0}, {ten, "Now", three}, ticks},
             Row{"now near the reset", fiveHour, {170, 26}, 0.93, {1, 30}, {ten, three}, ticks},
             Row{"now at the start", fiveHour, {320, 56}, 0.0, {0.7, 0}, {ten, three}, tall},
             Row{"narrow", fiveHour, {130, 40}, 0.5, {1, 55}, {ten, three}, ticks},
             Row{"narrower", fiveHour, {110, 40}, 0.5, {1, 30}, {three}, ticks},
             Row{"very narrow", fiveHour, {60, 40}, 0.5, {0.8, 0}, {}, ticks},
             Row{"weekly", weekly, {320, 48}, 0.3, {0.9, 0}, {"3/1/26", "Now", "3/8/26"}, tall},
         }) {
        for (const QPalette& palette : {lightPalette, darkPalette}) {
            const bool dark = QuotalumeStyle::isDark(palette);
            SCOPED_TRACE(std::string(row.name) + (dark ? ", dark" : ", light"));
            const double used = (55 - row.end.y()) / (row.end.x() - 0.5);  // points per window
            UsageChart& drawn =
                chart(row.window, readings(row.window, {{0.1, 30}, {0.3, 30}, {0.5, 45}}), row.size,
                      used / std::chrono::duration<double>(row.window).count(), row.now, palette);
            const QRectF plot = drawn.plotArea();
            EXPECT_GE(plot.height(), 8) << "a plot remains between the ticks and the times";
            const QColor accent = QuotalumeStyle::accent(dark);
            const QColor window = palette.color(QPalette::Window);
            const QImage plain = image();

            EXPECT_LE(distance(plain.pixelColor(pixel(point(plot, 0.2, 70))), accent), 120);

            int gaps = 0;
            for (int x = int(plot.left()) + 1; x < int(plot.right()) - 1; ++x) {
                gaps += plain.pixelColor(x, int(point(plot, 0, 0).y())) !=
                        CapsuleBar::fillColor(0, dark);
            }
            EXPECT_EQ(gaps, 0) << "the limit line is solid";

            const QPointF from = point(plot, 0.5, 55);
            const QPointF to = point(plot, row.end.x(), row.end.y());
            int bare = 0, right = 0, wrong = 0;
            for (double t = 0.2; t <= 0.8; t += 0.01) {
                const QColor colour = plain.pixelColor(pixel(from + (to - from) * t));
                const int ink = distance(colour, window);  // red however faint, or grey
                const bool red = colour.red() - std::max(colour.green(), colour.blue()) > ink / 4;
                ++(ink <= 30 ? bare : red == (row.end.y() == 0) ? right : wrong);
            }
            EXPECT_GT(bare, 5) << "dashed: gaps along the forecast";
            EXPECT_GT(right, 10);
            EXPECT_EQ(wrong, 0);

            const auto check = [&](const std::vector<UsageChart::Label>& labels, QRectF column) {
                std::vector<std::string> texts;
                for (const UsageChart::Label& label : labels) {
                    texts.push_back(label.text.toStdString());
                    EXPECT_TRUE(column.contains(label.rect)) << texts.back();
                    for (const UsageChart::Label& other : labels) {
                        EXPECT_TRUE(&other == &label || !label.rect.intersects(other.rect))
                            << texts.back();
                    }
                    int ink = 0;  // drawn: some pixel in its box stands off the window
                    for (int x = int(label.rect.left()); x < int(label.rect.right()); ++x) {
                        for (int y = int(label.rect.top()); y < int(label.rect.bottom()); ++y) {
                            ink = std::max(ink, distance(plain.pixelColor(x, y), window));
                        }
                    }
                    EXPECT_GT(ink, 60) << texts.back();
                }
                return texts;
            };
            const std::vector<UsageChart::Label> times = drawn.timeLabels();
            const auto timeTexts = check(times, QRectF(plot.left(), plot.bottom(), plot.width(),
                                                       row.size.height() - plot.bottom()));
            EXPECT_EQ(timeTexts, row.times.empty() ? std::vector{timeTexts.back()} : row.times);
            EXPECT_EQ(times.back().rect.right(), plot.right()) << "aligned to the plot";
            EXPECT_TRUE(times.size() == 1 || times.front().rect.left() == plot.left());
            const std::vector<UsageChart::Label> axis = drawn.axisLabels();
            EXPECT_EQ(check(axis, QRectF(0, 0, plot.left() - 1, row.size.height())), row.ticks);
            EXPECT_LT(axis[0].rect.center().y(), axis[1].rect.center().y()) << "100 above 0";

            // Two pixels above the reading at 0.3: bare until the mark covers it.
            const QPoint above = pixel(point(plot, 0.3, 70)) - QPoint(0, 2);
            const int before = distance(plain.pixelColor(above), accent);
            hover(drawn, point(plot, 0.33, 10));
            EXPECT_LT(distance(image().pixelColor(above), accent), before - 60) << "marked";
            leave(drawn);
            EXPECT_EQ(distance(image().pixelColor(above), accent), before) << "unmarked";
        }
    }
}

// Hovering names the value of the reading nearest the pointer, with its time, as the card
// writes it; over the axis, its unit. The card's own tooltip stays beneath.
TEST_F(UsageChartTest, HoverTellsTheNearestReadingLeft) {
    struct Row {
        const char* name;
        Length window;
        double pointer;  // share of the window's length, negative for over the axis
        const char* cardTip;
        const char* expected;
    };
    for (const Row& row : {
             Row{"nearer the second, rounded down", fiveHour, 0.17, "", "11:00\u202fAM: 74% left"},
             Row{"past the last, a sliver", fiveHour, 0.9, "", "1:00\u202fPM: <1% left"},
             Row{"with the card's sentence", fiveHour, 0.39, "At this pace, lasts.",
                 "12:00\u202fPM: 40% left\nAt this pace, lasts."},
             Row{"weekly, dated, the first", weekly, 0.12, "", "3/2/26, 2:48\u202fAM: 90% left"},
             Row{"over the axis", fiveHour, -1, "", "% left"},
         }) {
        SCOPED_TRACE(row.name);
        UsageChart& hovered = chart(
            row.window, readings(row.window, {{0.1, 10}, {0.2, 25.5}, {0.4, 60}, {0.6, 99.5}}),
            {260, 64});
        hovered.setToolTip(QString::fromUtf8(row.cardTip));
        const QRectF plot = hovered.plotArea();
        hover(hovered,
              row.pointer < 0 ? QPointF(2, plot.center().y()) : point(plot, row.pointer, 50));
        EXPECT_EQ(QToolTip::text().toStdString(), row.expected);
        leave(hovered);
        EXPECT_TRUE(test::eventually([] {
            QCoreApplication::processEvents();
            return !QToolTip::isVisible();
        })) << "cleared when the pointer leaves";
    }
}

// Cards side by side: each chart tells assistive technology its span and last value, and a
// compact card's forecast after them.
TEST_F(UsageChartTest, EachCardsChartDescribesItsWindow) {
    struct Row {
        const char* name;
        QuotaWindow kind;
        QuotaCard::Density density;
        std::string expected;
    };
    QWidget cards;
    for (const Row& row : {
             Row{"five-hour, compact", QuotaWindow::fiveHour, QuotaCard::Density::compact,
                 "10:00\u202fAM \u2013 3:00\u202fPM, 12:00\u202fPM: 40% left, At this pace, lasts "
                 "until it resets."},
             Row{"weekly, full", QuotaWindow::weekly, QuotaCard::Density::full,
                 "3/1/26, 10:00\u202fAM \u2013 3/8/26, 10:00\u202fAM, 3/4/26, 5:12\u202fAM: 61% "
                 "left"},
         }) {
        SCOPED_TRACE(row.name);
        const Length window = row.kind == QuotaWindow::fiveHour ? fiveHour : weekly;
        const double used = row.kind == QuotaWindow::fiveHour ? 60 : 39;
        const RateWindow figures{used, window.count(), unixSeconds(start + window)};
        auto* card = new QuotaCard(row.kind, row.density, &cards);
        card->render(figures, at(window, 0.5), false);
        card->renderForecast(figures, at(window, 0.5),
                             readings(window, {{0.2, used - 1}, {0.4, used}}),
                             UsageForecast{std::nullopt, true});
        QAccessibleInterface* accessible =
            QAccessible::queryAccessibleInterface(test::find(*card, "usageChart"));
        ASSERT_TRUE(accessible);
        EXPECT_EQ(accessible->text(QAccessible::Description).toStdString(), row.expected);
        EXPECT_EQ(accessible->text(QAccessible::Name).toStdString(), "% left");
        EXPECT_EQ(accessible->role(), QAccessible::Chart);
    }
}

}  // namespace
}  // namespace quotalume
