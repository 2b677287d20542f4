#include "test_support.hpp"

#include <quotalume/reset/reset_detector.hpp>

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

// A reading dated before the last tells a restore to full once, and nothing else of it is kept.
TEST(ResetDetectorTest, AClockSetBackStillFindsARestoreOnce) {
    ResetDetector detector;
    detector.observe(reading(T - 100, Window{50, T}));
    const ResetDetector before = detector;
    EXPECT_TRUE(detector.observe(reading(T - 100, Window{0, T + 18000})).empty()) << "same time";
    EXPECT_TRUE(detector.observe(reading(T - 7200, Window{60, T})).empty());
    EXPECT_EQ(detector, before) << "a reading behind that found nothing is not kept";
    // Two hours behind, past the real reset: no new window can be told from such a clock, a
    // restore to full can.
    const auto events = detector.observe(reading(T - 7100, Window{0, T + 18000}));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].reason, ResetReason::restoredToFull);
    EXPECT_EQ(detector.lastObservedAt(), dateFromUnixSeconds(T - 100)) << "kept as it was";
    EXPECT_TRUE(detector.observe(reading(T - 7000, Window{0, T + 18000})).empty());
    EXPECT_TRUE(detector.observe(reading(T + 60, Window{0, T + 18000})).empty()) << "forward";
    EXPECT_TRUE(detector.observe(reading(T + 120, Window{3, T + 18000})).empty());
    // An account change lifts everything.
    EXPECT_TRUE(detector.observe(reading(50, Window{20}, {}, "other")).empty());
    EXPECT_EQ(detector.accountFingerprint(), "other");
    EXPECT_EQ(detector.lastObservedAt(), dateFromUnixSeconds(50));
}

// An unsound reset time (none, before 1970, beyond length plus a day) keeps the last sound one.
TEST(ResetDetectorTest, AnUnsoundResetTimeKeepsTheLastSoundOne) {
    const struct {
        const char* name;
        std::optional<double> resetsAt;
    } cases[] = {{"null", std::nullopt},
                 {"zero", 0},
                 {"ten to the eighteenth", 1e18},
                 {"a month on", T + 30 * 86400}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ResetDetector detector;
        detector.observe(reading(T - 200, Window{40, T}));
        EXPECT_TRUE(detector.observe(reading(T - 100, Window{45, c.resetsAt})).empty());
        EXPECT_EQ(detector.heldReset("codex", QuotaWindow::fiveHour), dateFromUnixSeconds(T));
        const auto events = detector.observe(reading(T + 5, Window{3, T + 18000}));
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].reason, ResetReason::newWindow);
        EXPECT_DOUBLE_EQ(events[0].previousUsedPercent, 45);
        EXPECT_EQ(events[0].previousResetAt, dateFromUnixSeconds(T));
        EXPECT_TRUE(detector.observe(reading(T + 10, Window{4, T + 18000})).empty());
    }
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

TEST(ResetDetectorTest, WatchesEveryBucketAndEveryLength) {
    // The Codex bucket with a 30-day window beside its five-hour one, and a model's bucket.
    const auto snapshot = [](double at, double codexUsed, double monthUsed, double sparkUsed) {
        RateBucket codex{"codex",
                         {},
                         RateWindow{codexUsed, 300, T + 3600},
                         RateWindow{monthUsed, 43200, T + 86400 * 20}};
        RateBucket spark{"codex_bengalfox", "GPT-5.3-Codex-Spark", RateWindow{sparkUsed, 300},
                         RateWindow{10, 10080}};
        return UsageSnapshot{dateFromUnixSeconds(at), "acct", {codex, spark}};
    };
    ResetDetector detector;
    EXPECT_TRUE(detector.observe(snapshot(T, 40, 100, 77)).empty());
    EXPECT_EQ(detector.observations().size(), 4u);
    EXPECT_EQ(detector.observations().at("codex_bengalfox:300").window.usedPercent, 77);
    EXPECT_EQ(detector.observations().at("codex:43200").window.usedPercent, 100);

    const auto events = detector.observe(snapshot(T + 60, 40, 0, 0));
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].bucketId, "codex");
    EXPECT_EQ(events[0].window, quotaWindowFromMinutes(43200));
    EXPECT_EQ(events[0].previousUsedPercent, 100);
    EXPECT_EQ(events[1].bucketId, "codex_bengalfox");
    EXPECT_EQ(events[1].bucketName, "GPT-5.3-Codex-Spark");
    EXPECT_EQ(events[1].window, QuotaWindow::fiveHour);
    EXPECT_EQ(events[1].title(), "GPT-5.3-Codex-Spark: 5-hour limit reset");
    EXPECT_EQ(events[0].title(), "Codex: 30-day limit reset");
    // Once: the next reading compares with the one that found them.
    EXPECT_TRUE(detector.observe(snapshot(T + 120, 40, 0, 0)).empty());
}

TEST(ResetDetectorTest, StoredFormNeedsItsObservationsAndTakesNullMembers) {
    for (const char* broken :
         {R"({"accountFingerprint":"a"})", R"({"observations":{"codex:300":{"window":{}}}})"}) {
        EXPECT_THROW(json::parse(broken).get<ResetDetector>(), JSONDecodingError) << broken;
    }
    EXPECT_NO_THROW(
        json::parse(R"({"observations":{},"accountFingerprint":null,"lastObservedAt":null})")
            .get<ResetDetector>());
}

// Read back as stored: tested with the state file, whose records carry these events.
TEST(ResetEventTest, StrictValues) {
    const json stored = ResetEvent::test(dateFromUnixSeconds(T + 0.5));
    for (auto [key, value] :
         std::vector<std::pair<const char*, json>>{{"window", 0},
                                                   {"window", 600000},
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
