#include "test_support.hpp"

#include <quotalume/usage_timeline.hpp>

#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quotalume {
namespace {

namespace fs = std::filesystem;
using std::chrono::days;
using std::chrono::minutes;
using std::chrono::seconds;

const Date start = dateFromUnixSeconds(1796000000);

// A reading of both windows: `used` % of the five-hour one, resetting at `reset`.
UsageSnapshot reading(Date at, double used, Date reset = start + std::chrono::hours(5),
                      const std::string& account = std::string(64, 'a')) {
    RateBucket bucket{.limitId = "codex",
                      .primary = RateWindow{used, 300, unixSeconds(reset)},
                      .secondary = RateWindow{20, 10080, unixSeconds(start + days(7))},
                      .planType = "plus"};
    return {at, account, {bucket}, std::nullopt};
}

std::size_t count(UsageTimeline& timeline, QuotaWindow window = QuotaWindow::fiveHour,
                  const std::string& account = std::string(64, 'a')) {
    return timeline.rows(account, window, start - days(500)).size();
}

TEST(UsageTimelineTest, AReadingIsStoredWhenSomethingChangedOrAQuarterHourPassed) {
    test::TempDir folder;
    UsageTimeline timeline(folder.path());
    const struct {
        const char* name;
        UsageSnapshot snapshot;
        bool stored;
    } rows[] = {
        {"the first", reading(start, 10), true},
        {"the same figures", reading(start + minutes(1), 10), false},
        {"a figure changed", reading(start + minutes(2), 11), true},
        {"a reset time that wandered by seconds",
         reading(start + minutes(3), 11, start + std::chrono::hours(5) + seconds(40)), false},
        {"a reset time that moved", reading(start + minutes(4), 11, start + std::chrono::hours(6)),
         true},
        {"the same for a quarter hour",
         reading(start + minutes(19), 11, start + std::chrono::hours(6)), true},
    };
    std::size_t expected = 0;
    for (const auto& row : rows) {
        ASSERT_TRUE(timeline.record(row.snapshot, row.snapshot.observedAt)) << row.name;
        expected += row.stored ? 1 : 0;
        EXPECT_EQ(count(timeline), expected) << row.name;
    }
    EXPECT_EQ(test::modeOf(folder.path() / UsageTimeline::fileName), 0600u);
    // Another account is a series of its own; a new run knows what the last one stored.
    timeline.record(reading(start + minutes(20), 50, start, std::string(64, 'b')), start);
    UsageTimeline again(folder.path());
    again.record(reading(start + minutes(21), 11, start + std::chrono::hours(6)), start);
    EXPECT_EQ(count(again), expected);
    EXPECT_EQ(count(again, QuotaWindow::fiveHour, std::string(64, 'b')), 1u);
    EXPECT_EQ(again.points(std::string(64, 'a'), QuotaWindow::weekly, start).size(), 2u);
}

TEST(UsageTimelineTest, EveryReadingFor35DaysThenOneAnHourFor400) {
    test::TempDir folder;
    UsageTimeline timeline(folder.path());
    // A changed figure every ten minutes for 40 days.
    Date at = start;
    for (int i = 0; at < start + days(40); ++i, at += minutes(10)) {
        ASSERT_TRUE(timeline.record(reading(at, i % 100), at));
    }
    const auto rows = timeline.rows(std::string(64, 'a'), QuotaWindow::fiveHour, start);
    const Date cutoff = at - minutes(10) - UsageTimeline::everyReadingKept;
    // Pruned once a day: a day past the cutoff, one an hour is left.
    const auto thinned = std::count_if(rows.begin(), rows.end(), [&](const TimelineRow& row) {
        return row.observedAt < cutoff - days(1);
    });
    EXPECT_NEAR(thinned, 4 * 24, 2) << "one an hour past 35 days";
    const auto kept = std::count_if(
        rows.begin(), rows.end(), [&](const TimelineRow& row) { return row.observedAt >= cutoff; });
    EXPECT_GE(kept, 35 * 24 * 6) << "every one for 35 days";
    // 400 days later only the newest reading is left.
    const Date later = at + days(401);
    timeline.record(reading(later, 1), later);
    EXPECT_EQ(count(timeline), 1u);
}

TEST(UsageTimelineTest, AFileThatIsNotOursIsKeptAsideAndANewOneBegun) {
    test::TempDir folder;
    const fs::path file = folder.path() / UsageTimeline::fileName;
    const auto foreign = [&] {
        sqlite3* db = nullptr;
        sqlite3_open(file.c_str(), &db);
        sqlite3_exec(db, "CREATE TABLE notes (text TEXT)", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    };
    const struct {
        const char* name;
        std::function<void()> make;
    } rows[] = {
        {"not a database", [&] { folder.write(UsageTimeline::fileName, std::string(8192, 'x')); }},
        {"another program's database", foreign},
    };
    for (int round = 0; round < 4; ++round) {
        for (const auto& row : rows) {
            row.make();
            UsageTimeline timeline(folder.path());
            EXPECT_TRUE(timeline.record(reading(start, 10), start)) << row.name;
            ASSERT_TRUE(timeline.warning()) << row.name;
            EXPECT_EQ(timeline.warning()->key, "timeline.kept_aside") << row.name;
            EXPECT_EQ(count(timeline), 1u) << row.name;
            fs::remove(file);
            fs::remove(file.string() + "-wal");
            fs::remove(file.string() + "-shm");
        }
    }
    std::size_t copies = 0;
    for (const auto& entry : fs::directory_iterator(folder.path())) {
        copies += entry.path().filename().string().starts_with("usage.sqlite3.corrupt-") &&
                  !entry.path().string().ends_with("-wal") &&
                  !entry.path().string().ends_with("-shm");
    }
    EXPECT_EQ(copies, UsageTimeline::keptCopies);
}

TEST(UsageTimelineTest, AFullDiskOrAFolderThatCannotBeWrittenIsSaidAndSurvived) {
    test::TempDir folder;
    folder.write("blocked", "a file where the folder should be");
    const struct {
        const char* name;
        fs::path directory;
        UsageTimeline::Options options;
    } rows[] = {
        {"a full disk", folder.path() / "full", {.maximumPages = 3}},
        {"no folder", folder.path() / "blocked", {}},
    };
    for (const auto& row : rows) {
        UsageTimeline timeline(row.directory, row.options);
        bool stored = true;
        for (int i = 0; i < 200 && stored; ++i) {
            stored = timeline.record(reading(start + minutes(i), i), start);
        }
        EXPECT_FALSE(stored) << row.name;
        ASSERT_TRUE(timeline.warning()) << row.name;
        EXPECT_EQ(timeline.warning()->key, "timeline.unwritable") << row.name;
    }
}

TEST(UsageTimelineTest, ABusyDatabaseIsWaitedForNotMovedAndTheReadingStoredLater) {
    test::TempDir folder;
    UsageTimeline timeline(folder.path(), {.busyMilliseconds = 10});
    ASSERT_TRUE(timeline.record(reading(start, 10), start));
    sqlite3* other = nullptr;
    sqlite3_open((folder.path() / UsageTimeline::fileName).c_str(), &other);
    sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
    EXPECT_FALSE(timeline.record(reading(start + minutes(1), 11), start));
    EXPECT_FALSE(timeline.warning());
    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_TRUE(timeline.record(reading(start + minutes(2), 11), start));
    EXPECT_EQ(count(timeline), 2u);
}

TEST(UsageTimelineTest, AReadingIsStoredOnceAcrossACrashMidWrite) {
    test::TempDir folder;
    const fs::path file = folder.path() / UsageTimeline::fileName;
    const pid_t child = ::fork();
    if (child == 0) {
        UsageTimeline timeline(folder.path());
        timeline.record(reading(start, 10), start);
        // The next one half written when the process dies.
        sqlite3* db = nullptr;
        sqlite3_open(file.c_str(), &db);
        sqlite3_exec(db,
                     "BEGIN IMMEDIATE; INSERT INTO readings VALUES (1796000060, 'x', 300, 11, NULL,"
                     " NULL)",
                     nullptr, nullptr, nullptr);
        ::kill(::getpid(), SIGKILL);
    }
    ::waitpid(child, nullptr, 0);
    UsageTimeline timeline(folder.path());
    EXPECT_TRUE(timeline.record(reading(start, 10), start));
    EXPECT_TRUE(timeline.record(reading(start + minutes(1), 11), start));
    EXPECT_EQ(count(timeline), 2u);
    EXPECT_FALSE(timeline.warning());
}

}  // namespace
}  // namespace quotalume
