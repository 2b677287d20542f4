#include "tray/tray_controller.hpp"
#include "monitor_harness.hpp"
#include "tray/tray_icon_image.hpp"

#include <quotalume/presentation/quota_text.hpp>

#include <QAction>

namespace quotalume {
namespace {

using Badge = TrayIconImage::Badge;

class TrayControllerTest : public testing::Test {
protected:
    bool shows(const TrayIconImage& look) {
        return tray.icon().icon().pixmap(48).toImage() == look.image(48);
    }
    // The default style and scope drawn from `reading`'s figures.
    bool showsFigures(const UsageSnapshot& reading, Badge badge = Badge::none) {
        return shows({MenuBarStyle::percentage,
                      MenuBarPresentation::items(reading.codexBucket(), MenuBarScope::both),
                      badge});
    }
    std::string tip() { return tray.icon().toolTip().toStdString(); }

    test::MonitorHarness harness;
    TrayController tray{*harness.bridge};
};

TEST_F(TrayControllerTest, FollowsTheMonitorAndRedrawsOnlyWhenItsPictureChanges) {
    EXPECT_TRUE(shows(TrayIconImage{})) << "the logo before the first reading";
    // Without a tray the icon's place is unknown, as under StatusNotifierItem hosts.
    EXPECT_EQ(tray.anchor(QPoint(640, 3)), QRect(640, 3, 1, 1));

    harness.start(harness.reading(20, 60));
    const qint64 fresh = tray.icon().icon().cacheKey();
    EXPECT_TRUE(tip().starts_with("5H 80% left \u00b7 7D 40% left\n"));
    const int toolTips = tray.toolTipsSent();
    harness.monitor->showClock(true);
    harness.loop.advance(std::chrono::seconds(3));
    harness.settle();
    EXPECT_EQ(tray.toolTipsSent(), toolTips) << "ticks that change no text send nothing";
    harness.monitor->showClock(false);
    harness.refresh();
    EXPECT_EQ(tray.icon().icon().cacheKey(), fresh) << "a refresh in flight redraws nothing";

    // A failed reading keeps the figures, badges them and says why, as plain text.
    harness.answer(
        LocalizedMessage("error.rpc_said", {"account/read", "-32603", "<b>offline</b>"}));
    EXPECT_TRUE(showsFigures(*harness.monitor->snapshot(), Badge::failed));
    EXPECT_TRUE(tray.icon().toolTip().contains("&lt;b&gt;offline&lt;/b&gt;"));

    // Codex cut off from its servers: the last figures, stale, not a fault of the setup.
    harness.refresh(harness.reading(20, 60));
    harness.refresh(LocalizedMessage("error.offline", {"workspace routing discovery failed"}));
    EXPECT_TRUE(showsFigures(*harness.monitor->snapshot(), Badge::stale));
    EXPECT_TRUE(tip().starts_with("! 5H 80% left \u00b7 7D 40% left\nOffline"));
    EXPECT_TRUE(tray.icon().toolTip().contains("check the network connection"));

    // Codex takes no usage: the tray says so whatever the figures.
    UsageSnapshot refused = harness.reading(20, 60);
    refused.ordinaryUsageAllowed = false;
    harness.refresh(refused);
    EXPECT_TRUE(showsFigures(*harness.monitor->snapshot(), Badge::blocked));
    EXPECT_TRUE(tip().starts_with("\u2298 5H 80% left \u00b7 7D 40% left\n"));
    EXPECT_TRUE(tray.icon().toolTip().contains("Codex is not taking usage from this account now"));

    const QAction* quit = test::find<QAction>(tray.menu(), "quit");
    const QString english = quit->text();
    harness.monitor->preferences().setLanguage(AppLanguage::german);
    harness.settle();
    EXPECT_NE(quit->text(), english);
}

// A model's bucket is named in the tooltip only while it runs low or is blocked; the tray's
// figures stay Codex's, a 30-day window among them.
TEST_F(TrayControllerTest, TheTooltipNamesAnotherBucketOnlyWhenItPresses) {
    const auto withSpark = [&](double sparkUsed) {
        UsageSnapshot reading = harness.reading(20, 60);
        reading.buckets[0].secondary = RateWindow{30, 43200, 1'801'000'000.0};
        reading.buckets.push_back(RateBucket{"codex_bengalfox", "GPT-5.3-Codex-Spark",
                                             RateWindow{sparkUsed, 300, 1'800'003'600.0}});
        return reading;
    };
    const struct {
        const char* name;
        double sparkUsed;
        const char* line;  // nothing: no line of it
    } rows[] = {
        {"plenty left", 10, nullptr},
        {"running low", 60, "\nGPT-5.3-Codex-Spark: 5H 40%"},
        {"used up", 100,
         "\nGPT-5.3-Codex-Spark: \u2298 5H 0% \u00b7 5-hour limit reached \u2014 resets "},
    };
    harness.start(withSpark(0));
    for (const auto& [name, sparkUsed, line] : rows) {
        SCOPED_TRACE(name);
        harness.refresh(withSpark(sparkUsed));
        const std::string tip = this->tip();
        EXPECT_TRUE(tip.starts_with("5H 80% left \u00b7 30D 70% left\n")) << tip;
        EXPECT_EQ(tip.find("Spark") != std::string::npos, line != nullptr) << tip;
        EXPECT_TRUE(!line || tip.find(line) != std::string::npos) << tip;
    }
}

// With a second account the icon shows the source the user chose, and the tooltip every source.
TEST_F(TrayControllerTest, ShowsTheChosenSourceAndNamesEveryOneInTheTooltip) {
    const test::TempDir work;
    harness.monitor->preferences().set(
        "sources", R"([{"label":"Work","codexHome":")" + work.str() + R"(","codexPath":""}])");
    harness.start(harness.reading(30, 10));
    UsageSnapshot workReading = harness.reading(92, 40);
    workReading.accountFingerprint = UsageSnapshot::fingerprint("work");
    harness.answer(workReading);
    const UsageSnapshot personalReading = harness.reading(30, 10);
    const struct {
        const char* name;
        const char* choice;
        const UsageSnapshot& shown;
    } rows[] = {
        {"the first by default", "", personalReading},
        {"closest to running out", "closest", workReading},
        {"by its label", "Work", workReading},
        {"the first by its label", "Default", personalReading},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        harness.monitor->preferences().set("tray.account", row.choice);
        harness.settle();
        EXPECT_TRUE(showsFigures(row.shown));
        EXPECT_EQ(tip(),
                  "Default: 5H 70% left \u00b7 7D 90% left\nWork: 5H 8% left \u00b7 7D 60% left");
    }
}

TEST_F(TrayControllerTest, TheTooltipSaysWhenAWindowRunsOutBeforeItsReset) {
    harness.start(harness.reading(20, 60));
    for (int minute = 5; minute <= 15; minute += 5) {
        harness.clock.now_ += std::chrono::minutes(5);
        harness.refresh(harness.reading(20 + 2 * minute, 60));
    }
    const auto forecast = harness.monitor->reading().forecasts.at(QuotaWindow::fiveHour);
    ASSERT_TRUE(forecast.runsOutAt);
    EXPECT_TRUE(tip().ends_with(
        "\n" + title(QuotaWindow::fiveHour) + ": " +
        forecastText(forecast, dateFromUnixSeconds(1'800'003'600), harness.monitor->now())))
        << tip();
}

}  // namespace
}  // namespace quotalume
