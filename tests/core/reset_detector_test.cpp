#include "test_support.hpp"

#include <quotalume/reset_detector.hpp>

#include <gtest/gtest.h>

namespace quotalume {
namespace {

using nlohmann::json;
using Window = test::WindowReading;
using test::reading;
constexpr double T = 1760000000;  // a previous reset time, Unix seconds
constexpr double week = 604800;

struct Expected {
    QuotaWindow window;
    ResetReason reason;
    double previousUsed;
    double remaining;
};

Expected restored(double previousUsed) {
    return {QuotaWindow::fiveHour, ResetReason::restoredToFull, previousUsed, 100};
}

// The first reading is only stored; the second one gives exactly these events.
TEST(ResetDetectorTest, FindsExactlyTheResets) {
    const UsageSnapshot weeklyAt40 = reading(T - 100, {}, Window{40, T});
    const UsageSnapshot fiveHourAt12 = reading(1, Window{12});
    const Expected weeklyReset{QuotaWindow::weekly, ResetReason::newWindow, 40, 97};
    const struct {
        const char* name;
        UsageSnapshot first;
        UsageSnapshot second;
        std::vector<Expected> events;
    } cases[] = {
        {"weekly new window", weeklyAt40, reading(T + 5, {}, Window{3, T + week}), {weeklyReset}},
        {"reset moved exactly 60 s", weeklyAt40, reading(T + 5, {}, Window{3, T + 60}), {}},
        {"reset moved 61 s", weeklyAt40, reading(T + 5, {}, Window{3, T + 61}), {weeklyReset}},
        {"observed before the old reset", weeklyAt40, reading(T - 1, {}, Window{3, T + week}), {}},
        {"next reset not yet due", weeklyAt40, reading(T + 500, {}, Window{3, T + 400}), {}},
        {"restored without reset times", fiveHourAt12, reading(2, Window{0}), {restored(12)}},
        {"another account", fiveHourAt12, reading(2, Window{0}, {}, "other"), {}},
        {"not-a-number is no reading", fiveHourAt12, reading(2, Window{std::nan("")}), {}},
        {"zero stays zero", reading(1, Window{0}), reading(2, Window{0}), {}},
        {"clamped", reading(1, Window{150}), reading(2, Window{-3}), {restored(100)}},
        {"both conditions give one restored event",
         reading(T - 100, Window{50, T}),
         reading(T + 5, Window{0, T + 18000}),
         {restored(50)}},
        {"both windows, five-hour first",
         reading(T - 100, Window{90, T}, Window{70, T}),
         reading(T + 5, Window{0, T + 18000}, Window{1, T + week}),
         {restored(90), {QuotaWindow::weekly, ResetReason::newWindow, 70, 99}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ResetDetector detector;
        EXPECT_TRUE(detector.observe(c.first).empty());
        auto events = detector.observe(c.second);
        ASSERT_EQ(events.size(), c.events.size());
        for (std::size_t i = 0; i < events.size(); ++i) {
            EXPECT_EQ(events[i].window, c.events[i].window);
            EXPECT_EQ(events[i].reason, c.events[i].reason);
            EXPECT_DOUBLE_EQ(events[i].previousUsedPercent, c.events[i].previousUsed);
            EXPECT_DOUBLE_EQ(events[i].remainingPercent, c.events[i].remaining);
            EXPECT_EQ(events[i].observedAt, c.second.observedAt);
            EXPECT_EQ(events[i].bucketId, "codex");
            EXPECT_EQ(events[i].bucketName, "Codex");
            EXPECT_EQ(events[i].id.size(), 36u);
        }
    }
}

TEST(ResetDetectorTest, IgnoresReadingsNotLaterThanTheLast) {
    ResetDetector detector;
    detector.observe(reading(100, Window{50}));
    const ResetDetector before = detector;
    EXPECT_TRUE(detector.observe(reading(100, Window{0})).empty());
    EXPECT_TRUE(detector.observe(reading(99, Window{0})).empty());
    EXPECT_EQ(detector, before);
    // A clock set back keeps it quiet until time catches up; an account change lifts that.
    EXPECT_EQ(detector.observe(reading(101, Window{0})).size(), 1u);
    EXPECT_TRUE(detector.observe(reading(50, Window{20}, {}, "other")).empty());
    EXPECT_EQ(detector.accountFingerprint(), "other");
    EXPECT_EQ(detector.lastObservedAt(), dateFromUnixSeconds(50));
}

TEST(ResetDetectorTest, KeepsAWindowThatGoesMissing) {
    ResetDetector detector;
    detector.observe(reading(1, Window{30}, Window{60}));
    EXPECT_TRUE(detector.observe(reading(2, Window{31}, std::nullopt)).empty());
    EXPECT_EQ(detector.observations().at("codex:10080").window.usedPercent, 60);
    auto events = detector.observe(reading(3, Window{31}, Window{0}));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].window, QuotaWindow::weekly);
    EXPECT_EQ(events[0].previousUsedPercent, 60);
}

TEST(ResetDetectorTest, WatchesOnlyTheCodexBucket) {
    ResetDetector detector;
    UsageSnapshot other{
        dateFromUnixSeconds(1), "acct", {RateBucket{"other", {}, RateWindow{50, 300}}}};
    detector.observe(other);
    EXPECT_TRUE(detector.observations().empty());
}

TEST(ResetDetectorTest, StoredFormNeedsItsObservationsAndTakesNullMembers) {
    EXPECT_THROW(json::parse(R"({"accountFingerprint":"a"})").get<ResetDetector>(),
                 JSONDecodingError);
    EXPECT_THROW(
        json::parse(R"({"observations":{"codex:300":{"window":{}}}})").get<ResetDetector>(),
        JSONDecodingError);
    EXPECT_NO_THROW(
        json::parse(R"({"observations":{},"accountFingerprint":null,"lastObservedAt":null})")
            .get<ResetDetector>());
}

TEST(ResetEventTest, JsonRoundTripAndStrictValues) {
    ResetEvent event = ResetEvent::test(dateFromUnixSeconds(T + 0.5));
    EXPECT_NE(ResetEvent::test(event.observedAt).id, event.id);

    event.previousResetAt.reset();
    event.nextResetAt.reset();
    json stored = event;
    EXPECT_EQ(stored["reason"], "restored_to_full");
    EXPECT_EQ(stored.get<ResetEvent>(), event);

    json weekly = stored;
    weekly["window"] = 10080;
    EXPECT_EQ(weekly.get<ResetEvent>().window, QuotaWindow::weekly);
    for (auto [key, value] :
         std::vector<std::pair<const char*, json>>{{"window", 60},
                                                   {"reason", "reset"},
                                                   {"reason", 1},
                                                   {"id", nullptr},
                                                   {"id", "A\r\nX-Injected: 1"}}) {
        json bad = stored;
        bad[key] = value;
        EXPECT_THROW(bad.get<ResetEvent>(), JSONDecodingError) << key;
    }
}

}  // namespace
}  // namespace quotalume
