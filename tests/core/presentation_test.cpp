#include "test_support.hpp"

#include <quotalume/presentation/menu_bar_presentation.hpp>
#include <quotalume/schedule/refresh_schedule.hpp>
#include <quotalume/schedule/source_connection_feedback.hpp>

#include <gtest/gtest.h>

#include <cmath>

namespace quotalume {
namespace {

// Every window, the figures that stay legible, and a mark when the picture cannot name the window;
// beside a badge, stacked figures give way to the lower one.
TEST(MenuBarSquareTest, ShowsWhatStaysLegibleAndNamesALoneWindow) {
    using Item = MenuBarPresentation::Item;
    using enum MenuBarStyle;
    const Item five{QuotaWindow::fiveHour, 76, "76%"}, week{QuotaWindow::weekly, 61, "61%"};
    const std::vector<Item> both{five, week}, one{week};
    const auto weekly = QuotaWindow::weekly;
    using Square = MenuBarPresentation::Square;
    const std::tuple<const char*, MenuBarStyle, std::vector<Item>, bool, Square> rows[] = {
        {"one figure says its window", percentage, one, false, {one, one, weekly}},
        {"two figures in their order", percentage, both, false, {both, both, {}}},
        {"two bars need no mark", bars, both, false, {both, {}, {}}},
        {"a lone bar is named", bars, {five}, false, {{five}, {}, QuotaWindow::fiveHour}},
        {"a figure over each bar", barsPercentage, both, false, {both, both, {}}},
        {"two rings, no figure", rings, both, false, {both, {}, {}}},
        {"rings around the lower figure, named", ringsPercentage, both, false, {both, one, weekly}},
        {"nothing to show", rings, {}, false, {}},
        {"a badge leaves the lower of two, named", percentage, both, true, {both, one, weekly}},
        {"a badge leaves a lone figure alone", percentage, one, true, {one, one, weekly}},
        {"a figure over each bar beside a badge", barsPercentage, both, true, {both, both, {}}},
        {"two rings beside a badge", rings, both, true, {both, {}, {}}},
    };
    for (const auto& [name, style, items, badged, expected] : rows) {
        EXPECT_EQ(MenuBarPresentation::square(style, items, badged), expected) << name;
    }
}

RateBucket bucket(std::optional<double> fiveHourUsed, std::optional<double> weeklyUsed) {
    RateBucket b;
    // Slots reversed on purpose: windows are found by length, not position.
    if (weeklyUsed)
        b.primary = RateWindow{weeklyUsed, 10080};
    if (fiveHourUsed)
        b.secondary = RateWindow{fiveHourUsed, 300};
    return b;
}

TEST(MenuBarPresentationTest, ItemsFollowScopeAndOrder) {
    using Items = std::vector<MenuBarPresentation::Item>;
    using enum QuotaWindow;
    const auto items = MenuBarPresentation::items;
    const MenuBarPresentation::Item five80{fiveHour, 80, "80%"};
    EXPECT_EQ(items(bucket(20, 60), MenuBarScope::both), (Items{five80, {weekly, 40, "40%"}}));
    EXPECT_EQ(items(bucket(100, -5), MenuBarScope::both),
              (Items{{fiveHour, 0, "0%"}, {weekly, 100, "100%"}}));
    EXPECT_TRUE(items(bucket(std::nan(""), {}), MenuBarScope::both).empty());
    EXPECT_EQ(items(bucket(20, 60), MenuBarScope::weekly).size(), 1u);
    // Any bucket's figures, each window by its length, shortest first; a scope keeps only its own.
    RateBucket other = bucket(20, 60);
    other.limitId = "other";
    other.primary = RateWindow{100, 43200};
    EXPECT_EQ(items(other, MenuBarScope::both),
              (Items{five80, {*quotaWindowFromMinutes(43200), 0, "0%"}}));
    EXPECT_EQ(items(other, MenuBarScope::fiveHour), Items{five80});
    EXPECT_EQ(items(other, MenuBarScope::weekly), Items{});
    EXPECT_EQ(MenuBarPresentation::title(other, false, MenuBarScope::both), "5H 80% \u00b7 30D 0%");
    EXPECT_TRUE(items(std::nullopt, MenuBarScope::both).empty());
    EXPECT_EQ(MenuBarPresentation::visibleWindows(bucket({}, 60)), std::vector{weekly});
    // Nothing to show gives the "no data" text, never an empty title.
    auto empty = MenuBarPresentation::title(bucket({}, 60), false, MenuBarScope::fiveHour);
    EXPECT_EQ(empty, MenuBarPresentation::title(std::nullopt, true, MenuBarScope::both));
    EXPECT_FALSE(empty.empty());
}

TEST(MenuBarStyleTest, SavedValuesLoadBackAndUnknownOnesReadAsTheDefault) {
    MemoryPreferencesStore store;
    for (MenuBarScope scope : allMenuBarScopes) {
        save(scope, store);
        EXPECT_EQ(loadMenuBarScope(store), scope);
    }
    for (MenuBarStyle style : allMenuBarStyles) {
        save(style, store);
        EXPECT_EQ(loadMenuBarStyle(store), style);
    }
    store.setString("appearance.menuBarScope", "week");
    store.setString("appearance.menuBarStyle", "stacked");
    EXPECT_EQ(loadMenuBarScope(store), MenuBarScope::both);
    EXPECT_EQ(loadMenuBarStyle(store), MenuBarStyle::percentage);
}

TEST(PanelPlacementTest, StaysInsideTheVisibleFrame) {
    const Rect screen{0, 0, 1000, 800};
    // Near the right edge: pushed left so its right edge stays a margin inside.
    EXPECT_EQ(PanelPlacement::frame(Rect{980, 780, 20, 20}, screen, {300, 400}, 8, 6).maxX(), 992);
    // Taller than the screen: clipped to the area and placed at its bottom.
    EXPECT_EQ(PanelPlacement::frame(Rect{500, 780, 20, 20}, screen, {300, 5000}, 8, 6),
              (Rect{360, 8, 300, 784}));
    // Degenerate sizes never go below one point.
    EXPECT_EQ(PanelPlacement::frame(std::nullopt, screen, {0, 0}, 8, 6), (Rect{991, 791, 1, 1}));
}

TEST(RefreshScheduleTest, IntervalBackOffAndResets) {
    const double t = 1760000000;
    auto delay = [&](std::optional<double> resetIn, double interval, long long failures = 0) {
        std::optional<UsageSnapshot> reading;
        if (resetIn) {
            reading = test::reading(t, test::WindowReading{10, t + *resetIn});
        }
        return RefreshSchedule::delay(reading, dateFromUnixSeconds(t), interval, failures);
    };
    EXPECT_EQ(delay({}, 30), 30);
    EXPECT_EQ(delay({}, 5), 15);
    EXPECT_EQ(delay({}, 600), 300);
    EXPECT_EQ(delay({}, std::nan("")), 15);
    const long long failures[] = {1, 2, 3, 4, 5, 9};
    const double at60[] = {60, 120, 240, 300, 300, 300}, at15[] = {15, 30, 60, 120, 240, 240};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(delay(5, 60, failures[i]), at60[i]) << failures[i];
        EXPECT_EQ(delay({}, 15, failures[i]), at15[i]) << failures[i];
    }
    EXPECT_EQ(delay(40, 60), 42);
    EXPECT_EQ(delay(20, 15), 15);
    EXPECT_EQ(delay(-30, 60), 10);
    EXPECT_EQ(delay(-120, 60), 60);
    // A model's bucket resets too: the reading after it tells.
    UsageSnapshot spark = test::reading(t, test::WindowReading{10});
    spark.buckets.push_back(test::reading(t, test::WindowReading{10, t + 40}).buckets[0]);
    spark.buckets[1].limitId = "codex_bengalfox";
    EXPECT_EQ(RefreshSchedule::delay(spark, dateFromUnixSeconds(t), 60, 0), 42);
}

TEST(SourceConnectionFeedbackTest, OnlyTheLatestAttemptCounts) {
    SourceConnectionFeedback feedback;
    EXPECT_FALSE(feedback.message());
    feedback.begin(3);
    EXPECT_EQ(feedback.message(), LocalizedMessage("source.saved"));
    feedback.complete(2, LocalizedMessage("error.timeout"));
    EXPECT_EQ(feedback.message(), LocalizedMessage("source.saved"));
    feedback.complete(3, std::nullopt);
    EXPECT_EQ(feedback.message(), LocalizedMessage("status.connected"));
    feedback.reject("status.demo");
    feedback.complete(3, LocalizedMessage("error.timeout"));
    EXPECT_EQ(feedback.message(), LocalizedMessage("status.demo"));
}

}  // namespace
}  // namespace quotalume
