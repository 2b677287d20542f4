#include "tray/tray_icon_image.hpp"

#include <quotalume/usage/rate_limits.hpp>

#include <QGuiApplication>
#include <QPainter>
#include <QPalette>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace quotalume {
namespace {

using Item = MenuBarPresentation::Item;
using Badge = TrayIconImage::Badge;

const Badge badges[] = {Badge::none, Badge::stale, Badge::failed, Badge::blocked};
const char* const badgeNames[] = {"no badge", "stale", "failed", "blocked"};
const Item fiveHour{QuotaWindow::fiveHour, 65, "65%"}, weekly{QuotaWindow::weekly, 66, "66%"};
const Item full5{QuotaWindow::fiveHour, 100, "100%"}, full7{QuotaWindow::weekly, 100, "100%"};

// Every style with one window and with two, the figures as wide as they come.
const struct {
    const char* name;
    MenuBarStyle style;
    std::vector<Item> items;
} cases[] = {
    {"two stacked figures", MenuBarStyle::percentage, {fiveHour, weekly}},
    {"three digits stacked", MenuBarStyle::percentage, {full5, full7}},
    {"a figure and its mark", MenuBarStyle::percentage, {{QuotaWindow::weekly, 19, "19%"}}},
    {"two bars", MenuBarStyle::bars, {fiveHour, weekly}},
    {"a bar and its mark", MenuBarStyle::bars, {fiveHour}},
    {"a figure over each bar", MenuBarStyle::barsPercentage, {fiveHour, weekly}},
    {"three digits over each bar", MenuBarStyle::barsPercentage, {full5, full7}},
    {"a figure over a bar", MenuBarStyle::barsPercentage, {{QuotaWindow::weekly, 30, "30%"}}},
    {"two rings", MenuBarStyle::rings, {fiveHour, weekly}},
    {"a ring and its mark", MenuBarStyle::rings, {{QuotaWindow::weekly, 19, "19%"}}},
    {"the lower figure in two rings", MenuBarStyle::ringsPercentage, {fiveHour, weekly}},
    {"three digits in a ring", MenuBarStyle::ringsPercentage, {full7}},
    {"the logo", MenuBarStyle::bars, {}},
};

// WCAG's contrast ratio of two opaque colours.
double contrast(QColor a, QColor b) {
    const auto luminance = [](QColor c) {
        const auto linear = [](double v) {
            return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    };
    const double x = luminance(a), y = luminance(b);
    return (std::max(x, y) + 0.05) / (std::min(x, y) + 0.05);
}

// How many pixels of `area` pass, and their bounds.
struct Hits {
    int count = 0;
    QRect box;
};
template <typename Test>
Hits hits(const QRect& area, Test test) {
    Hits found;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (test(x, y)) {
                found = {found.count + 1, found.box | QRect(x, y, 1, 1)};
            }
        }
    }
    return found;
}

// Whether two pixels differ as a person would see it, not by a faint edge of anti-aliasing.
bool differ(QRgb a, QRgb b) {
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                     std::abs(qBlue(a) - qBlue(b)), std::abs(qAlpha(a) - qAlpha(b))}) >= 32;
}
QRect changed(const QImage& a, const QImage& b) {
    return hits(a.rect(), [&](int x, int y) { return differ(a.pixel(x, y), b.pixel(x, y)); }).box;
}
bool bare(const QImage& image, const QRect& box, QRgb tile) {
    return hits(box, [&](int x, int y) { return differ(image.pixel(x, y), tile); }).count == 0;
}
int standing(const QImage& image, const QRect& area, QColor from, double ratio) {
    const auto test = [&](int x, int y) { return contrast(image.pixelColor(x, y), from) >= ratio; };
    return hits(area, test).count;
}
std::vector<Item> unlabelled(double fiveHourLeft, double weeklyLeft) {
    return {{QuotaWindow::fiveHour, fiveHourLeft, ""}, {QuotaWindow::weekly, weeklyLeft, ""}};
}
// An icon of nothing but the tile.
QImage bareTile(int pixels) {
    return TrayIconImage{MenuBarStyle::percentage, unlabelled(50, 50)}.image(pixels);
}

// A figure's ink is what goes when its text does: it contrasts with the tile, nothing else
// (badge, ring, bar, mark, the other figure) comes within a pixel of it, and "65" beside or over
// "66" never reads "6566". The badge sits in the bottom right corner, amber when stale, red with
// a "!" for a failure, red crossed by a bar of the tile's colour when Codex takes no usage.
void expectLegible(const TrayIconImage& look, int pixels) {
    const QImage icon = look.image(pixels), tile = bareTile(pixels);
    const QColor tileColour = tile.pixelColor(pixels / 2, pixels / 2);
    for (const QColor panel : {QColor(0x20, 0x20, 0x20), QColor(0xf0, 0xf0, 0xf0)}) {
        QImage shown(icon.size(), QImage::Format_ARGB32);
        shown.fill(panel);
        QPainter(&shown).drawImage(0, 0, icon);
        EXPECT_GE(standing(shown, shown.rect(), panel, 3), 0.08 * pixels * pixels)
            << panel.name().toStdString();
    }
    TrayIconImage other = look;
    other.badge = look.badge == Badge::stale ? Badge::failed : Badge::stale;
    const QRect disc = look.badge == Badge::none ? QRect() : changed(icon, other.image(pixels));
    std::vector<QRect> inks;
    for (std::size_t i = 0; i < look.items.size(); ++i) {
        TrayIconImage without = look;
        without.items[i].percentageText.clear();
        const QImage rest = without.image(pixels);
        const QRect ink = changed(icon, rest);
        if (ink.isEmpty()) {
            continue;
        }
        inks.push_back(ink);
        const auto drawn = [&](int u, int v) { return differ(rest.pixel(u, v), tile.pixel(u, v)); };
        const auto crowded = [&](int x, int y) {
            return differ(icon.pixel(x, y), rest.pixel(x, y)) &&
                   (qAlpha(tile.pixel(x, y)) < 255 || hits(QRect(x - 1, y - 1, 3, 3), drawn).count);
        };
        EXPECT_EQ(hits(ink, crowded).count, 0) << "figure " << i << " off the tile or crowded";
        EXPECT_FALSE(disc.intersects(ink)) << "badge over figure " << i;
        EXPECT_GT(standing(icon, ink, tileColour, 4.5), 0) << "figure " << i;
        if (look.items[i].percentageText.size() <= 3) {  // two digits: 6 px tall at 22 px
            EXPECT_GE(ink.height(), pixels * 0.27) << "figure " << i;
        }
    }
    EXPECT_EQ(!inks.empty(), showsPercentage(look.style) && !look.items.empty());
    if (inks.size() == 2) {
        const QRect &a = inks[0], &b = inks[1], both = a | b;
        const bool across = a.right() < b.left();
        // The most lines of bare tile in a row within `span`, across the way the figures run.
        const auto clear = [&](const QRect& span) {
            int widest = 0, run = 0;
            for (int at = 0; at < (across ? span.width() : span.height()); ++at) {
                const QRect line = across ? QRect(span.left() + at, span.top(), 1, span.height())
                                          : QRect(span.left(), span.top() + at, span.width(), 1);
                run = bare(icon, line, tileColour.rgba()) ? run + 1 : 0;
                widest = std::max(widest, run);
            }
            return widest;
        };
        const QRect between =
            across ? QRect(QPoint(a.right() + 1, both.top()), QPoint(b.left() - 1, both.bottom()))
                   : QRect(QPoint(both.left(), a.bottom() + 1), QPoint(both.right(), b.top() - 1));
        EXPECT_FALSE(between.isEmpty()) << "the figures touch";
        EXPECT_GE(clear(between), std::max(2, std::max(clear(a), clear(b)) + 2));
    }
    if (look.badge == Badge::none) {
        return;
    }
    EXPECT_TRUE(disc.left() >= pixels / 2 && disc.top() >= pixels / 2) << "badge not bottom right";
    EXPECT_GE(disc.width(), pixels * 0.25);
    EXPECT_GE(3 * standing(icon, disc, tileColour, 3), disc.width() * disc.height());
    const QColor side = icon.pixelColor(disc.left() + 1, disc.center().y());
    if (look.badge != Badge::blocked) {
        EXPECT_TRUE(look.badge == Badge::stale ? side.green() > 140
                                               : side.red() > 200 && side.green() < 130)
            << side.name().toStdString();
        return;
    }
    // What darkens from the "!": a bar across the disc.
    const QImage failed = TrayIconImage{look.style, look.items, Badge::failed}.image(pixels);
    const auto darkened = [&](int x, int y) {
        return differ(icon.pixel(x, y), failed.pixel(x, y)) && icon.pixelColor(x, y).red() < 100;
    };
    EXPECT_TRUE(disc.contains(changed(failed, icon)));
    EXPECT_GE(hits(disc, darkened).box.width(), disc.width() / 2);
}

// Panels are dark or light whatever the application's palette says.
TEST(TrayIconImageTest, EveryStyleAndBadgeIsLegibleOnAnyPanel) {
    const QPalette original = QGuiApplication::palette();
    for (const bool dark : {false, true}) {
        const QColor window = dark ? QColor(0x30, 0x30, 0x30) : QColor(Qt::white);
        QGuiApplication::setPalette(QPalette(window, window));
        for (const auto& row : cases) {
            for (const Badge badge : badges) {
                for (const int pixels : {16, 22, 44}) {
                    SCOPED_TRACE(std::string(row.name) + ", " +
                                 badgeNames[static_cast<int>(badge)] + ", " +
                                 std::to_string(pixels) + " px" + (dark ? ", dark palette" : ""));
                    expectLegible(TrayIconImage{row.style, row.items, badge}, pixels);
                }
            }
        }
    }
    QGuiApplication::setPalette(original);

    // Each style and scope draws a picture of its own.
    const auto bucket = RateBucket{"codex", std::nullopt, RateWindow{24, 300, std::nullopt},
                                   RateWindow{81, 10080, std::nullopt}};
    QList<QImage> seen;
    for (MenuBarStyle style : allMenuBarStyles) {
        for (MenuBarScope scope : allMenuBarScopes) {
            seen << TrayIconImage{style, MenuBarPresentation::items(bucket, scope)}.image(48);
            EXPECT_EQ(seen.count(seen.back()), 1) << rawValue(style) << '/' << rawValue(scope);
        }
    }
}

// Two rings are the halves of one, parted at the top: the five-hour window on the left as in
// the title, each filled from its foot upward.
TEST(TrayIconImageTest, TwoRingsAreHalvesTheFiveHourOneOnTheLeft) {
    for (const Badge badge : badges) {
        for (const int pixels : {16, 22, 44}) {
            SCOPED_TRACE(std::string(badgeNames[static_cast<int>(badge)]) + ", " +
                         std::to_string(pixels) + " px");
            const auto rings = [&](double left5, double left7) {
                return TrayIconImage{MenuBarStyle::rings, unlabelled(left5, left7), badge}.image(
                    pixels);
            };
            // How bright each side of the ring is a third of the way down.
            const auto sides = [&](const QImage& icon) {
                int left = 0, right = 0;
                for (int x = 0; x < pixels / 3; ++x) {
                    left = std::max(left, qGray(icon.pixel(x, pixels / 3)));
                    right = std::max(right, qGray(icon.pixel(pixels - 1 - x, pixels / 3)));
                }
                return std::pair(left, right);
            };
            EXPECT_GT(sides(rings(100, 0)).first, sides(rings(0, 100)).first + 60);
            EXPECT_GT(sides(rings(0, 100)).second, sides(rings(100, 0)).second + 60);
            // Filled from the foot: a little left lights the side's lower end only.
            EXPECT_EQ(sides(rings(10, 10)), sides(rings(0, 0)));
            // The parting: a column of tile at the top between the halves; a lone ring is whole.
            const QRgb tile = bareTile(pixels).pixel(pixels / 2, pixels / 2);
            const QImage two = rings(100, 100);
            const auto parted = [&](int x, int) {
                return bare(two, QRect(x, 1, 1, pixels / 4), tile);
            };
            EXPECT_GT(hits(QRect(pixels / 2 - 2, 0, 4 + pixels % 2, 1), parted).count, 0);
            const QImage one =
                TrayIconImage{MenuBarStyle::rings, {unlabelled(100, 0)[0]}, badge}.image(pixels);
            EXPECT_FALSE(bare(one, QRect((pixels - 1) / 2, 1, 2, pixels / 4), tile));
        }
    }
}

}  // namespace
}  // namespace quotalume
