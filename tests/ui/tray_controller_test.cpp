#include "tray_controller.hpp"
#include "brand_assets.hpp"
#include "monitor_harness.hpp"

#include <QAction>

#include <gtest/gtest.h>

namespace quotalume {
namespace {

using Host = TrayController::Host;

int imageWidth(TrayController& tray) {
    const auto sizes = tray.icon().icon().availableSizes();
    return sizes.isEmpty() ? 0 : sizes.front().width();
}

QString actionText(TrayController& tray, const char* name) {
    auto* action = tray.menu().findChild<QAction*>(QString::fromLatin1(name));
    return action ? action->text() : QString();
}

TEST(TrayControllerTest, TheImageIsRedrawnOnlyWhenStyleItemsOrWarningChange) {
    test::MonitorHarness harness;
    TrayController tray(*harness.bridge, Host::xembed);
    EXPECT_EQ(tray.icon().icon().cacheKey(), BrandAssets::menuBarIcon().cacheKey())
        << "nothing to draw before the first reading";

    harness.start(harness.reading(20, 60));
    const qint64 fresh = tray.icon().icon().cacheKey();
    const int freshWidth = imageWidth(tray);
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

    // A failed reading keeps the numbers but warns, fresh as they are.
    harness.answer(LocalizedMessage("error.no_limits"));
    ASSERT_TRUE(harness.monitor->lastError().has_value());
    EXPECT_NE(tray.icon().icon().cacheKey(), fresh);
    EXPECT_EQ(imageWidth(tray), freshWidth + 10) << "the stale column in front";
    EXPECT_TRUE(tray.icon().toolTip().startsWith("! 5H 80%"));
}

TEST(TrayControllerTest, StatusNotifierHostsGetASquareAndTheCursorAsAnchor) {
    test::MonitorHarness harness;
    TrayController tray(*harness.bridge, Host::statusNotifier);
    harness.start(harness.reading(20, 60));
    const auto sizes = tray.icon().icon().availableSizes();
    ASSERT_FALSE(sizes.isEmpty());
    for (const QSize& size : sizes) {
        EXPECT_EQ(size.width(), size.height());
    }
    // The host never says where the icon is.
    EXPECT_EQ(tray.anchor(QPoint(640, 3)), QRect(640, 3, 1, 1));
}

TEST(TrayControllerTest, TheMenuFollowsTheLanguage) {
    test::MonitorHarness harness;
    TrayController tray(*harness.bridge, Host::xembed);
    EXPECT_EQ(actionText(tray, "quit"), "Quit");
    ASSERT_TRUE(harness.bridge->setLanguage(AppLanguage::german));
    harness.settle();
    for (auto [action, key] : {std::pair{"openDashboard", "app.quota_title"},
                               {"openSettings", "common.settings"},
                               {"quit", "common.quit"}}) {
        EXPECT_EQ(actionText(tray, action).toStdString(), L10n::text(key, AppLanguage::german));
    }
    EXPECT_NE(actionText(tray, "quit"), "Quit");
}

}  // namespace
}  // namespace quotalume
