#include "tray/tray_controller.hpp"
#include "monitor_harness.hpp"
#include "style/brand_assets.hpp"
#include "tray/tray_icon_image.hpp"

#include <QAction>
#include <QPalette>

namespace quotalume {
namespace {

using Item = MenuBarPresentation::Item;

TEST(TrayControllerTest, FollowsTheMonitorAndRedrawsOnlyWhenStyleItemsOrWarningChange) {
    test::MonitorHarness harness;
    TrayController tray(*harness.bridge);
    EXPECT_EQ(tray.icon().icon().cacheKey(), BrandAssets::menuBarIcon().cacheKey())
        << "nothing to draw before the first reading";
    // Without a tray the icon's place is unknown, as under StatusNotifierItem hosts.
    EXPECT_EQ(tray.anchor(QPoint(640, 3)), QRect(640, 3, 1, 1));

    harness.start(harness.reading(20, 60));
    const qint64 fresh = tray.icon().icon().cacheKey();
    EXPECT_NE(fresh, BrandAssets::menuBarIcon().cacheKey());
    EXPECT_TRUE(tray.icon().toolTip().startsWith("5H 80% \u00b7 7D 40%\n"));

    // A refresh in flight changes the status line only.
    harness.refresh();
    EXPECT_EQ(tray.icon().icon().cacheKey(), fresh);
    EXPECT_TRUE(tray.icon().toolTip().contains(test::text("status.refreshing")));

    // A failed reading keeps the numbers but warns.
    harness.answer(LocalizedMessage("error.no_limits"));
    ASSERT_TRUE(harness.monitor->lastError().has_value());
    EXPECT_TRUE(tray.icon().toolTip().startsWith("! 5H 80%"));
    EXPECT_NE(tray.icon().icon().cacheKey(), fresh);

    const QAction* quit = test::find<QAction>(tray.menu(), "quit");
    const QString english = quit->text();
    ASSERT_FALSE(harness.bridge->setLanguage(AppLanguage::german).has_value());
    harness.settle();
    EXPECT_NE(quit->text(), english);
}

TEST(TrayControllerTest, InkIsWhiteOnGnomeShellsBarElseThePalettesText) {
    QPalette palette;
    palette.setColor(QPalette::WindowText, QColor(20, 30, 40));
    for (auto [desktops, ink] : {std::pair{"ubuntu:GNOME", QColor(Qt::white)},
                                 {"GNOME-Flashback:GNOME", QColor(20, 30, 40)},
                                 {"KDE", QColor(20, 30, 40)},
                                 {"", QColor(20, 30, 40)}}) {
        EXPECT_EQ(TrayController::panelInk(palette, QString::fromLatin1(desktops)), ink)
            << "XDG_CURRENT_DESKTOP=" << desktops;
    }
}

TEST(TrayIconImageTest, OneRingForOneOrTwoWindowsAndABadgeWhenStale) {
    const Item fiveHour{QuotaWindow::fiveHour, 80, "80%"};
    const Item weekly{QuotaWindow::weekly, 40, "40%"};
    EXPECT_FALSE(TrayIconImage{}.image(22).has_value());
    EXPECT_FALSE(
        (TrayIconImage{MenuBarStyle::rings, {fiveHour, weekly, fiveHour}}).image(22).has_value());
    const std::vector<Item> both{fiveHour, weekly};
    EXPECT_EQ(TrayIconImage::lowest(both), &both[1]);
    struct Row {
        const char* name;
        std::vector<Item> items;
        bool stale;
    };
    for (const auto& row : {Row{"fresh", {fiveHour}, false}, Row{"stale", {fiveHour}, true},
                            Row{"stale, two windows", {fiveHour, weekly}, true}}) {
        SCOPED_TRACE(row.name);
        for (int pixels : {16, 22, 64}) {
            const auto image =
                TrayIconImage{MenuBarStyle::percentage, row.items, row.stale}.image(pixels);
            ASSERT_TRUE(image.has_value());
            // The badge sits outside the ring, in the top right corner.
            const QPoint corner(pixels * 20 / 22, pixels * 2 / 22);
            EXPECT_EQ(image->pixelColor(corner).alphaF() > 0.5, row.stale) << pixels << " px";
        }
    }
}

}  // namespace
}  // namespace quotalume
