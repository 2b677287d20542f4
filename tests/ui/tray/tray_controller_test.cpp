#include "tray/tray_controller.hpp"
#include "monitor_harness.hpp"
#include "style/brand_assets.hpp"
#include "tray/tray_icon_image.hpp"

#include <QAction>
#include <QGuiApplication>
#include <QPalette>

#include <gtest/gtest.h>

namespace quotalume {
namespace {

using Item = MenuBarPresentation::Item;

QString actionText(TrayController& tray, const char* name) {
    auto* action = tray.menu().findChild<QAction*>(QString::fromLatin1(name));
    return action ? action->text() : QString();
}

TEST(TrayControllerTest, TheImageIsRedrawnOnlyWhenStyleItemsOrWarningChange) {
    test::MonitorHarness harness;
    TrayController tray(*harness.bridge);
    EXPECT_EQ(tray.icon().icon().cacheKey(), BrandAssets::menuBarIcon().cacheKey())
        << "nothing to draw before the first reading";

    harness.start(harness.reading(20, 60));
    const qint64 fresh = tray.icon().icon().cacheKey();
    EXPECT_NE(fresh, BrandAssets::menuBarIcon().cacheKey());
    EXPECT_TRUE(tray.icon().toolTip().startsWith("5H 80% \u00b7 7D 40%\n"));

    // A refresh in flight changes the status line only.
    harness.monitor->refresh();
    harness.loop.drain();
    harness.settle();
    EXPECT_EQ(tray.icon().icon().cacheKey(), fresh);
    EXPECT_TRUE(
        tray.icon().toolTip().contains(QString::fromStdString(L10n::text("status.refreshing"))))
        << tray.icon().toolTip().toStdString();

    // A failed reading keeps the numbers but warns.
    harness.answer(LocalizedMessage("error.no_limits"));
    ASSERT_TRUE(harness.monitor->lastError().has_value());
    EXPECT_TRUE(tray.icon().toolTip().startsWith("! 5H 80%"));
    const TrayIconImage warned{
        MenuBarStyle::percentage,
        {Item{QuotaWindow::fiveHour, 80, "80%"}, Item{QuotaWindow::weekly, 40, "40%"}},
        true,
        TrayController::panelInk(QGuiApplication::palette(),
                                 qEnvironmentVariable("XDG_CURRENT_DESKTOP"))};
    EXPECT_EQ(tray.icon().icon().pixmap(22).toImage().convertToFormat(QImage::Format_ARGB32),
              warned.image(22)->convertToFormat(QImage::Format_ARGB32));
}

TEST(TrayControllerTest, TheMenuFollowsTheLanguageAndTheAnchorTheCursor) {
    test::MonitorHarness harness;
    TrayController tray(*harness.bridge);
    EXPECT_EQ(actionText(tray, "quit"), "Quit");
    ASSERT_FALSE(harness.bridge->setLanguage(AppLanguage::german).has_value());
    harness.settle();
    for (auto [action, key] : {std::pair{"openDashboard", "app.quota_title"},
                               {"openSettings", "common.settings"},
                               {"quit", "common.quit"}}) {
        EXPECT_EQ(actionText(tray, action).toStdString(), L10n::text(key, AppLanguage::german));
    }
    EXPECT_NE(actionText(tray, "quit"), "Quit");
    // Without a tray the icon's place is unknown, as under StatusNotifierItem hosts.
    EXPECT_EQ(tray.anchor(QPoint(640, 3)), QRect(640, 3, 1, 1));
}

TEST(TrayControllerTest, InkIsWhiteOnGnomeShellsBarElseThePalettesText) {
    QPalette palette;
    palette.setColor(QPalette::WindowText, QColor(20, 30, 40));
    for (auto [desktops, ink] : {std::pair{"ubuntu:GNOME", QColor(Qt::white)},
                                 {"GNOME-Flashback:GNOME", QColor(20, 30, 40)},
                                 {"KDE", QColor(20, 30, 40)},
                                 {"", QColor(20, 30, 40)}}) {
        EXPECT_EQ(TrayController::panelInk(palette, QString::fromLatin1(desktops)), ink)
            << desktops;
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
        std::vector<Item> items;
        bool stale;
        bool cornerInked;  // the badge sits outside the ring, in the top right corner
    };
    for (const auto& row : {Row{{fiveHour}, false, false}, Row{{fiveHour}, true, true},
                            Row{{fiveHour, weekly}, true, true}}) {
        for (int pixels : {16, 22, 64}) {
            const auto image =
                TrayIconImage{MenuBarStyle::percentage, row.items, row.stale}.image(pixels);
            ASSERT_TRUE(image.has_value());
            EXPECT_EQ(image->size(), QSize(pixels, pixels));
            const QPoint corner(pixels * 20 / 22, pixels * 2 / 22);
            EXPECT_EQ(image->pixelColor(corner).alphaF() > 0.5, row.cornerInked)
                << pixels << " px, stale " << row.stale;
        }
    }
}

}  // namespace
}  // namespace quotalume
