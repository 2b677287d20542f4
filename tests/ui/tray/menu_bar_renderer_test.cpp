#include "tray/menu_bar_renderer.hpp"

#include <QFontMetricsF>
#include <QGuiApplication>

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>

namespace quotalume {
namespace {

using Item = MenuBarPresentation::Item;

Item fiveHour(double remaining, std::string text = "") {
    if (text.empty()) {
        text = std::to_string(static_cast<int>(remaining)) + "%";
    }
    return {QuotaWindow::fiveHour, remaining, text};
}
Item weekly(double remaining) {
    return {QuotaWindow::weekly, remaining, std::to_string(static_cast<int>(remaining)) + "%"};
}

QImage render(MenuBarStyle style, std::vector<Item> items, bool stale = false,
              qreal devicePixelRatio = 1) {
    MenuBarRenderer renderer{style, std::move(items), stale};
    renderer.devicePixelRatio = devicePixelRatio;
    auto image = renderer.image();
    EXPECT_TRUE(image.has_value());
    return image ? *image : QImage();
}

double alpha(const QImage& image, int x, int y) {
    return image.pixelColor(x, y).alphaF();
}

// Inked columns of the whole image, first and last.
std::pair<int, int> inkedColumns(const QImage& image) {
    int first = -1, last = -1;
    for (int x = 0; x < image.width(); ++x) {
        for (int y = 0; y < image.height(); ++y) {
            if (alpha(image, x, y) > 0.2) {
                first = first < 0 ? x : first;
                last = x;
                break;
            }
        }
    }
    return {first, last};
}

// The ink width of a bold run at the layout's sizes, measured the way a panel font would be.
double inkWidth(const char* text, double pointSize) {
    QFont font = QGuiApplication::font();
    font.setPointSizeF(pointSize);
    font.setBold(true);
    QImage device(1, 1, QImage::Format_ARGB32_Premultiplied);
    device.setDotsPerMeterX(2835);
    device.setDotsPerMeterY(2835);
    return std::ceil(QFontMetricsF(font, &device).tightBoundingRect(text).width());
}

TEST(MenuBarRendererTest, OnlyOneOrTwoItemsMakeAnImage) {
    EXPECT_FALSE(MenuBarRenderer{}.image().has_value());
    EXPECT_FALSE((MenuBarRenderer{MenuBarStyle::bars, {fiveHour(1), weekly(2), fiveHour(3)}})
                     .image()
                     .has_value());
}

TEST(MenuBarRendererTest, WidthsFollowTheMetricsAndNeverTheNumbers) {
    // The label column is as wide as the labels shown; the value column fits every value.
    const double label = inkWidth("5H", 11.5);
    const double labels = std::max(label, inkWidth("7D", 11.5));
    const double value = std::max(inkWidth("100%", 11.5), inkWidth("<1%", 11.5));
    struct Row {
        MenuBarStyle style;
        int items;
        double width;
    };
    for (const Row& row : {
             Row{MenuBarStyle::percentage, 1, label + value + 5 + 2},
             Row{MenuBarStyle::bars, 2, labels + 32 + 5 + 2},
             Row{MenuBarStyle::barsPercentage, 1, label + 32 + 5 + value + 5 + 2},
             Row{MenuBarStyle::rings, 2, 20 + 4 + 20 + 2},
             Row{MenuBarStyle::ringsPercentage, 2, 2 * (20 + value + 4) + 8 + 2},
         }) {
        SCOPED_TRACE(rawValue(row.style));
        std::vector<Item> low{fiveHour(9)}, high{fiveHour(100)};
        if (row.items == 2) {
            low.push_back(weekly(9));
            high.push_back(weekly(100));
        }
        const QImage image = render(row.style, low);
        EXPECT_EQ(image.width(), row.width);
        EXPECT_EQ(image.height(), 22);
        EXPECT_EQ(render(row.style, high).width(), image.width());
        EXPECT_EQ(render(row.style, {fiveHour(0.5, "<1%")}).width(),
                  render(row.style, {fiveHour(100)}).width());
        // Stale adds its column on the left.
        EXPECT_EQ(render(row.style, low, true).width(), image.width() + 10);
    }
}

TEST(MenuBarRendererTest, TextSitsOnTheLeftMarginAndValuesOnTheRight) {
    const QImage image = render(MenuBarStyle::percentage, {fiveHour(80)});
    const auto [first, last] = inkedColumns(image);
    EXPECT_NEAR(first, 1, 1);
    EXPECT_NEAR(last, image.width() - 2, 1);
    // The value's right edge stays put whatever its width.
    EXPECT_EQ(inkedColumns(render(MenuBarStyle::percentage, {fiveHour(5)})).second, last);
}

TEST(MenuBarRendererTest, StaleMarkFillsItsOwnColumn) {
    const QImage image = render(MenuBarStyle::percentage, {fiveHour(80)}, true);
    EXPECT_NEAR(inkedColumns(image).first, 0, 1);
    double inkInGap = 0;
    for (int y = 0; y < image.height(); ++y) {
        inkInGap += alpha(image, 8, y) + alpha(image, 9, y);
    }
    EXPECT_EQ(inkInGap, 0);
}

TEST(MenuBarRendererTest, BarsFillFromTheLeftWithTheTrackBehind) {
    const double label = std::max(inkWidth("5H", 11.5), inkWidth("7D", 11.5));
    const int barLeft = static_cast<int>(1 + label + 5);
    // Two rows centred 5.5 points from the top and from the bottom; row 0 is the upper one.
    const QImage image = render(MenuBarStyle::bars, {fiveHour(0), weekly(100)});
    for (int x = barLeft + 2; x < barLeft + 30; ++x) {
        EXPECT_NEAR(alpha(image, x, 5), 0.25, 0.02) << x;  // empty: only the track
        EXPECT_NEAR(alpha(image, x, 16), 1, 0.02) << x;    // full
    }
    EXPECT_EQ(alpha(image, barLeft + 16, 10), 0);  // nothing between the rows
    EXPECT_EQ(alpha(image, barLeft + 16, 2), 0);
    EXPECT_EQ(alpha(image, barLeft + 16, 19), 0);

    const QImage half = render(MenuBarStyle::bars, {fiveHour(50)});
    EXPECT_NEAR(alpha(half, barLeft + 8, 11), 1, 0.02);
    EXPECT_NEAR(alpha(half, barLeft + 24, 11), 0.25, 0.02);
}

TEST(MenuBarRendererTest, RingsRunClockwiseFromTheTop) {
    // Two rings 4 points apart: centres at 1 + 10 and 1 + 34, radius 8.75 to the stroke's middle.
    const QImage image = render(MenuBarStyle::rings, {fiveHour(50), weekly(0)});
    ASSERT_EQ(image.width(), 46);
    for (const int cx : {11, 35}) {
        EXPECT_GT(alpha(image, cx, 11 - 9), 0.2) << cx;  // every ring has its track
    }
    // Half remaining: the right half is drawn in full, the left half only as track.
    EXPECT_NEAR(alpha(image, 11 + 9, 11), 1, 0.1);
    EXPECT_NEAR(alpha(image, 11 - 9, 11), 0.25, 0.1);
    // Nothing remaining: track all round.
    EXPECT_NEAR(alpha(image, 35 + 9, 11), 0.25, 0.1);
    EXPECT_NEAR(alpha(image, 35 - 9, 11), 0.25, 0.1);

    // With percentages each ring carries its value column and the rings are 8 points apart.
    const double value = std::max(inkWidth("100%", 11.5), inkWidth("<1%", 11.5));
    const QImage wide = render(MenuBarStyle::ringsPercentage, {fiveHour(100), weekly(100)});
    const int secondCentre = static_cast<int>(1 + 10 + 20 + value + 4 + 8);
    EXPECT_NEAR(alpha(wide, secondCentre - 9, 11), 1, 0.1);
    EXPECT_NEAR(alpha(wide, secondCentre + 9, 11), 1, 0.1);
    EXPECT_NEAR(alpha(wide, secondCentre - 14, 11), 0, 0.01);  // the gap before the ring
}

TEST(MenuBarRendererTest, DrawsInThePanelsInkAtTheDevicePixelRatio) {
    MenuBarRenderer renderer{MenuBarStyle::bars, {fiveHour(100)}};
    renderer.ink = MenuBarRenderer::panelInk(true);
    const QImage single = *renderer.image();
    renderer.devicePixelRatio = 2;
    const QImage sharp = *renderer.image();
    EXPECT_EQ(sharp.devicePixelRatio(), 2);
    EXPECT_EQ(sharp.width(), 2 * single.width());
    EXPECT_EQ(sharp.height(), 44);
    const auto [first, last] = inkedColumns(sharp);
    EXPECT_EQ(sharp.pixelColor(last - 4, 22), QColor(Qt::white));
    EXPECT_NEAR(first, 2, 2);
}

}  // namespace
}  // namespace quotalume
