#include "tray/menu_bar_renderer.hpp"

#include <QFontMetricsF>
#include <QGuiApplication>

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace quotalume {
namespace {

// One item per share remaining, the five-hour window first, labelled as the tray labels them.
QImage render(MenuBarStyle style, const std::vector<double>& remaining, bool stale = false) {
    MenuBarRenderer renderer{style, {}, stale};
    for (const double share : remaining) {
        renderer.items.push_back(
            {renderer.items.empty() ? QuotaWindow::fiveHour : QuotaWindow::weekly, share,
             share < 1 ? "<1%" : std::to_string(static_cast<int>(share)) + "%"});
    }
    const auto image = renderer.image();
    EXPECT_TRUE(image.has_value());
    return image.value_or(QImage());
}

double alpha(const QImage& image, int x, int y) {
    return image.pixelColor(x, y).alphaF();
}

// The ink width of a bold run at the layout's size, measured the way a panel font would be.
double inkWidth(const char* text) {
    QFont font = QGuiApplication::font();
    font.setPointSizeF(MenuBarLayout{}.fontSize);
    font.setBold(true);
    QImage device(1, 1, QImage::Format_ARGB32_Premultiplied);
    device.setDotsPerMeterX(2835);
    device.setDotsPerMeterY(2835);
    return std::ceil(QFontMetricsF(font, &device).tightBoundingRect(text).width());
}

TEST(MenuBarRendererTest, WidthsFollowTheMetricsAndNeverTheNumbers) {
    // The label column is as wide as the labels shown; the value column fits every value.
    const double label = inkWidth("5H");
    const double labels = std::max(label, inkWidth("7D"));
    const double value = std::max(inkWidth("100%"), inkWidth("<1%"));
    const double rings = MenuBarLayout::make(2, MenuBarStyle::ringsPercentage)->ringsWidth(value);
    const struct {
        MenuBarStyle style;
        std::size_t items;
        double width;
    } rows[] = {
        {MenuBarStyle::percentage, 1, label + value + 5 + 2},
        {MenuBarStyle::bars, 2, labels + 32 + 5 + 2},
        {MenuBarStyle::barsPercentage, 1, label + 32 + 5 + value + 5 + 2},
        {MenuBarStyle::ringsPercentage, 2, rings + 2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(rawValue(row.style));
        const std::vector<double> low(row.items, 9);
        const QImage image = render(row.style, low);
        EXPECT_EQ(image.width(), row.width);
        EXPECT_EQ(render(row.style, std::vector<double>(row.items, 100)).width(), image.width());
        EXPECT_EQ(render(row.style, {0.5}).width(), render(row.style, {100}).width());
        // Stale puts its mark in a column of its own on the left and moves the rest over.
        const QImage stale = render(row.style, low, true);
        EXPECT_EQ(stale.width(), image.width() + 10);
        EXPECT_EQ(stale.copy(10, 0, image.width(), image.height()), image);
        QImage blank(10, image.height(), stale.format());
        blank.fill(Qt::transparent);
        EXPECT_NE(stale.copy(0, 0, 10, image.height()), blank);
    }
}

TEST(MenuBarRendererTest, BarsFillFromTheLeftWithTheTrackBehind) {
    // After the margin, the label column and a gap; the first window is the upper row.
    const int left = static_cast<int>(1 + std::max(inkWidth("5H"), inkWidth("7D")) + 5);
    const QImage image = render(MenuBarStyle::bars, {0, 100});
    for (int x = left + 2; x < left + 30; ++x) {
        EXPECT_NEAR(alpha(image, x, 5), 0.25, 0.02) << x;  // empty: only the track
        EXPECT_NEAR(alpha(image, x, 16), 1, 0.02) << x;    // full
    }
    const QImage half = render(MenuBarStyle::bars, {50});
    EXPECT_NEAR(alpha(half, left + 8, 11), 1, 0.02);
    EXPECT_NEAR(alpha(half, left + 24, 11), 0.25, 0.02);
}

TEST(MenuBarRendererTest, RingsRunClockwiseFromTheTop) {
    // Centres one point in from the image's edge; 9 points out is on the stroke.
    const auto layout = *MenuBarLayout::make(2, MenuBarStyle::rings);
    const int first = static_cast<int>(1 + layout.centerX(0, 0));
    const int second = static_cast<int>(1 + layout.centerX(1, 0));
    const QImage image = render(MenuBarStyle::rings, {50, 0});
    // Half remaining: the right half is drawn in full, the left half only as track.
    EXPECT_NEAR(alpha(image, first + 9, 11), 1, 0.1);
    EXPECT_NEAR(alpha(image, first - 9, 11), 0.25, 0.1);
    // Nothing remaining: track all round.
    EXPECT_NEAR(alpha(image, second + 9, 11), 0.25, 0.1);
    EXPECT_NEAR(alpha(image, second, 11 - 9), 0.25, 0.1);
}

}  // namespace
}  // namespace quotalume
