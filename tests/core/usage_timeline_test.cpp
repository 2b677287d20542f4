#include "test_support.hpp"

#include <quotalume/usage/usage_timeline.hpp>

#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <tuple>

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

// The same reading with a model's bucket beside Codex's, `used` % of its five-hour window.
UsageSnapshot withSpark(UsageSnapshot snapshot, double used) {
    snapshot.buckets.push_back(RateBucket{.limitId = "codex_bengalfox",
                                          .limitName = "GPT-5.3-Codex-Spark",
                                          .primary = RateWindow{used, 300},
                                          .secondary = RateWindow{55, 10080}});
    return snapshot;
}

// Rows of the five-hour series in [from, until).
std::size_t count(UsageTimeline& timeline, const std::string& account = std::string(64, 'a'),
                  Date from = start - days(500), Date until = Date::max()) {
    const auto rows = timeline.rows(account, {QuotaWindow::fiveHour}, from);
    return static_cast<std::size_t>(std::count_if(
        rows.begin(), rows.end(), [&](const TimelineRow& row) { return row.observedAt < until; }));
}

fs::path timelineIn(const fs::path& folder) {
    return folder / UsageTimeline::fileName;
}

// The size of the timeline's log; missing reads as ever so large.
std::uintmax_t logSize(const fs::path& folder) {
    std::error_code missing;
    return fs::file_size(timelineIn(folder).string() + "-wal", missing);
}

// The first column of what `sql` gives, asked of the timeline in `folder` as another program.
std::vector<std::string> selected(const fs::path& folder, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open(timelineIn(folder).c_str(), &db);
    std::vector<std::string> found;
    sqlite3_exec(
        db, sql.c_str(),
        [](void* out, int, char** values, char**) {
            static_cast<std::vector<std::string>*>(out)->push_back(values[0] ? values[0] : "");
            return 0;
        },
        &found, nullptr);
    sqlite3_close(db);
    return found;
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
    EXPECT_EQ(count(again, std::string(64, 'b')), 1u);
    EXPECT_EQ(again.points(std::string(64, 'a'), QuotaWindow::weekly, start).size(), 2u);
}

TEST(UsageTimelineTest, EveryReadingFor35DaysThenOneAnHourFor400) {
    test::TempDir folder;
    // Each prune finished at its reading, however busy the machine running the test.
    UsageTimeline timeline(folder.path(), {.pruneTime = std::chrono::minutes(1)});
    // A changed figure every ten minutes for 40 days, of two accounts a minute apart: each
    // keeps the first of its own hour.
    const std::string first(64, 'a'), second(64, 'b');
    Date at = start;
    for (int i = 0; at < start + days(40); ++i, at += minutes(10)) {
        ASSERT_TRUE(timeline.record(withSpark(reading(at, i % 100), i % 80), at));
        ASSERT_TRUE(
            timeline.record(reading(at + minutes(1), i % 90, start + std::chrono::hours(5), second),
                            at + minutes(1)));
    }
    const Date cutoff = at - minutes(10) - UsageTimeline::everyReadingKept;
    const struct {
        std::string account;
        std::string bucket;
    } series[] = {{first, "codex"}, {second, "codex"}, {first, "codex_bengalfox"}};
    for (const auto& [account, bucket] : series) {
        SCOPED_TRACE(account.front() + bucket);
        const auto rows = timeline.rows(account, {QuotaWindow::fiveHour, bucket}, start);
        // Pruned once a day: a day past the cutoff, one an hour is left.
        const auto thinned = std::count_if(rows.begin(), rows.end(), [&](const TimelineRow& row) {
            return row.observedAt < cutoff - days(1);
        });
        EXPECT_NEAR(thinned, 4 * 24, 2) << "one an hour past 35 days";
        const auto kept = std::count_if(rows.begin(), rows.end(), [&](const TimelineRow& row) {
            return row.observedAt >= cutoff;
        });
        EXPECT_GE(kept, 35 * 24 * 6) << "every one for 35 days";
    }
    // 400 days later only the newest reading is left.
    const Date later = at + days(401);
    timeline.record(reading(later, 1), later);
    EXPECT_EQ(count(timeline), 1u);
    EXPECT_TRUE(timeline.rows(first, {.bucket = "codex_bengalfox"}, start).empty());
}

// Older versions read the Codex table and skip unknown lengths, so other buckets have their own
// table; a file such a version made lacks it: readers read the Codex rows, the engine adds it.
TEST(UsageTimelineTest, OtherBucketsGoWhereOlderVersionsNeverLook) {
    test::TempDir folder;
    UsageTimeline timeline(folder.path());
    UsageSnapshot snapshot = withSpark(reading(start, 10), 77);
    snapshot.buckets[0].secondary = RateWindow{100, 43200, unixSeconds(start + days(20))};
    ASSERT_TRUE(timeline.record(snapshot, start));
    timeline.release();

    EXPECT_EQ(selected(folder.path(),
                       "SELECT window || ' ' || used_percent FROM readings ORDER BY window"),
              (std::vector<std::string>{"300 10.0", "43200 100.0"}));
    EXPECT_EQ(selected(folder.path(),
                       "SELECT bucket || ' ' || window FROM bucket_readings ORDER BY window"),
              (std::vector<std::string>{"codex_bengalfox 300", "codex_bengalfox 10080"}));

    const auto rows = timeline.rows(snapshot.accountFingerprint, {}, start);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].bucket, "codex");
    EXPECT_EQ(rows[1].window, quotaWindowFromMinutes(43200));
    EXPECT_EQ(rows[2].bucket, "codex_bengalfox");
    EXPECT_EQ(rows[2].usedPercent, 77);
    EXPECT_EQ(rows[3].window, QuotaWindow::weekly);

    EXPECT_TRUE(selected(folder.path(), "DROP TABLE bucket_readings").empty());
    UsageTimeline reader(folder.path(), {.readOnly = true});
    EXPECT_EQ(reader.rows(snapshot.accountFingerprint, {}, start).size(), 2u);
    EXPECT_EQ(reader.warning(), std::nullopt);
    UsageTimeline engine(folder.path());
    ASSERT_TRUE(engine.record(withSpark(reading(start + minutes(1), 11), 5), start));
    EXPECT_EQ(engine.rows(snapshot.accountFingerprint, {.bucket = "codex_bengalfox"}, start).size(),
              2u);
}

// Marked once, when made: a reading that stores nothing writes nothing, not even a page of log.
TEST(UsageTimelineTest, AFileIsMarkedOnceWhenMadeAndAReadingThatStoresNothingWritesNothing) {
    test::TempDir folder;
    UsageTimeline timeline(folder.path());
    ASSERT_TRUE(timeline.record(reading(start, 10), start));  // stored, and the day's prune
    timeline.release();
    const auto before = logSize(folder.path());
    for (int second = 10; second <= 40; second += 10) {
        const Date at = start + seconds(second);
        EXPECT_TRUE(timeline.record(reading(at, 10), at)) << "nothing is due: nothing changed";
        EXPECT_EQ(timeline.latestAccount(), std::string(64, 'a'));
        timeline.release();
    }
    EXPECT_EQ(logSize(folder.path()), before);
    EXPECT_FALSE(timeline.warning());
    EXPECT_EQ(selected(folder.path(), "PRAGMA application_id"),
              std::vector<std::string>{std::to_string(0x514C544C)});
}

TEST(UsageTimelineTest, AFileThatIsNotOursIsKeptAsideAndANewOneBegun) {
    test::TempDir folder;
    const fs::path file = timelineIn(folder.path());
    const struct {
        const char* name;
        std::function<void()> make;
    } rows[] = {
        {"not a database", [&] { folder.write(UsageTimeline::fileName, std::string(8192, 'x')); }},
        {"another program's database",
         [&] { selected(folder.path(), "CREATE TABLE notes (text TEXT)"); }},
    };
    for (int round = 0; round < 4; ++round) {
        for (const auto& row : rows) {
            row.make();
            UsageTimeline timeline(folder.path());
            EXPECT_TRUE(timeline.record(reading(start, 10), start)) << row.name;
            ASSERT_TRUE(timeline.warning()) << row.name;
            EXPECT_EQ(timeline.warning()->key, "timeline.kept_aside") << row.name;
            EXPECT_EQ(count(timeline), 1u) << row.name;
            for (const char* suffix : {"", "-wal", "-shm"}) {
                fs::remove(file.string() + suffix);
            }
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

// A timeline with readings, left with its -wal and -shm, readable by all.
fs::path sharedTimeline(const fs::path& folder) {
    {
        UsageTimeline timeline(folder);
        timeline.record(reading(start, 10), start);
    }
    for (const char* suffix : {"", "-wal", "-shm"}) {
        ::chmod((timelineIn(folder).string() + suffix).c_str(), 0644);
    }
    return timelineIn(folder);
}

// What stands in the timeline's place is left as it is, and named alike by the engine and readers.
TEST(UsageTimelineTest, WhatStandsInItsPlaceIsRefusedAsItIsByTheEngineAndReadersAlike) {
    const std::string shm = std::string(UsageTimeline::fileName) + "-shm";
    const struct {
        const char* name;
        std::function<void(const fs::path& folder)> make;
        fs::path kept;  // in the folder, left as it was
        const char* key;
        const char* named;  // the file the message names: the timeline or a companion
        bool needsRoot = false;
    } rows[] = {
        {"a link to a timeline",
         [](const fs::path& folder) {
             fs::create_directory(folder / "elsewhere");
             fs::create_symlink(sharedTimeline(folder / "elsewhere"), timelineIn(folder));
         },
         fs::path("elsewhere") / UsageTimeline::fileName, "timeline.not_a_file", ""},
        {"a dangling link",
         [](const fs::path& folder) { fs::create_symlink(folder / "nowhere", timelineIn(folder)); },
         UsageTimeline::fileName, "timeline.not_a_file", ""},
        {"its log through a link",
         [](const fs::path& folder) {
             const fs::path wal = sharedTimeline(folder).string() + "-wal";
             fs::rename(wal, folder / "log");
             fs::create_symlink(folder / "log", wal);
         },
         "log", "timeline.not_a_file", "-wal"},
        {"a folder", [](const fs::path& folder) { fs::create_directory(timelineIn(folder)); },
         UsageTimeline::fileName, "timeline.not_a_file", ""},
        {"a fifo", [](const fs::path& folder) { ::mkfifo(timelineIn(folder).c_str(), 0600); },
         UsageTimeline::fileName, "timeline.not_a_file", ""},
        {"another user's timeline",
         [](const fs::path& folder) {
             EXPECT_EQ(::chown(sharedTimeline(folder).c_str(), 65534, 65534), 0);
         },
         UsageTimeline::fileName, "timeline.foreign", "", true},
        {"another user's log",
         [&](const fs::path& folder) {
             sharedTimeline(folder);
             EXPECT_EQ(::chown((folder / shm).c_str(), 65534, 65534), 0);
         },
         shm, "timeline.foreign", "-shm", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.needsRoot && ::geteuid() != 0) {
            continue;  // only root can give a file away
        }
        test::TempDir folder;
        row.make(folder.path());
        const auto identity = [kept = folder.path() / row.kept] {
            struct stat status {};
            EXPECT_EQ(::lstat(kept.c_str(), &status), 0);
            return std::tuple(status.st_mode, status.st_uid, status.st_ino);
        };
        const auto before = identity();
        const LocalizedMessage expected(row.key, {timelineIn(folder.path()).string() + row.named});

        UsageTimeline engine(folder.path(), {.busyMilliseconds = 10});
        EXPECT_FALSE(engine.record(reading(start + minutes(30), 30), start + minutes(30)));
        EXPECT_EQ(engine.warning(), expected);
        UsageTimeline reader(folder.path(), {.busyMilliseconds = 10, .readOnly = true});
        EXPECT_EQ(reader.rows(std::string(64, 'a'), {}, start - days(1)),
                  std::vector<TimelineRow>());
        EXPECT_EQ(reader.warning(), expected);

        EXPECT_EQ(identity(), before) << "neither narrowed nor replaced";
        for (const std::string& name : test::entriesOf(folder.path())) {
            EXPECT_EQ(name.find(".corrupt-"), std::string::npos) << "moved aside: " << name;
        }
    }
}

// Left readable by all by an older version: the engine narrows all three, keeping the readings.
TEST(UsageTimelineTest, ASharedTimelineAndItsLogAreNarrowedToTheOwner) {
    test::TempDir folder;
    const fs::path file = sharedTimeline(folder.path());
    UsageTimeline reader(folder.path(), {.readOnly = true});
    EXPECT_EQ(count(reader), 1u);
    EXPECT_EQ(test::modeOf(file), 0644u) << "a reader changes nothing";
    reader.release();

    UsageTimeline engine(folder.path());
    ASSERT_TRUE(engine.record(reading(start + minutes(1), 11), start + minutes(1)));
    EXPECT_FALSE(engine.warning());
    for (const char* suffix : {"", "-wal", "-shm"}) {
        EXPECT_EQ(test::modeOf(file.string() + suffix), 0600u) << suffix;
    }
    EXPECT_EQ(count(engine), 2u);
}

// Readings of one window every five minutes from `from` until `until`, straight into the file.
void storeBacklog(const fs::path& folder, Date from, Date until) {
    { UsageTimeline(folder).record(reading(from, 0), from); }
    const auto seconds = [](Date at) { return std::to_string(std::llround(unixSeconds(at))); };
    selected(folder, "WITH RECURSIVE t(at) AS (SELECT " + seconds(from) +
                         " UNION ALL SELECT at + 300 FROM t WHERE at + 300 < " + seconds(until) +
                         ") INSERT OR IGNORE INTO readings SELECT at, '" + std::string(64, 'a') +
                         "', 300, 10, NULL, NULL FROM t");
}

// A year never pruned is worked off a slice at each reading; then the log is cut to nothing.
TEST(UsageTimelineTest, ABacklogIsPrunedASliceAtEachReadingAndTheLogGivenBack) {
    test::TempDir folder;
    const Date first = dateFromUnixSeconds(1795996800);  // on the hour
    const Date now = first + days(410);
    storeBacklog(folder.path(), first, now);
    const Date dropBefore = now - UsageTimeline::hourlyKept;
    const Date thinBefore = now - UsageTimeline::everyReadingKept;
    const UsageTimeline::Options sliceAReading{.pruneSliceRows = 1000,
                                               .pruneTime = std::chrono::milliseconds(0)};
    UsageTimeline timeline(folder.path(), sliceAReading);
    const auto a = std::string(64, 'a');
    const std::size_t backlog = count(timeline, a, first, now);

    ASSERT_TRUE(timeline.record(reading(now, 50), now));
    const std::size_t afterOne = count(timeline, a, first, now);
    EXPECT_LT(afterOne, backlog);
    EXPECT_GE(afterOne, backlog - 1000) << "one slice, not the whole backlog";
    // Cut back to nothing once the prune is done.
    int readings = 1;
    for (; readings < 500 && logSize(folder.path()) > 0; ++readings) {
        ASSERT_TRUE(timeline.record(reading(now + seconds(readings), 50), now + seconds(readings)));
    }
    EXPECT_GT(readings, 100) << "a slice at a reading";
    EXPECT_EQ(logSize(folder.path()), 0u) << "the log given back";
    EXPECT_EQ(count(timeline, a, first, dropBefore), 0u) << "past 400 days";
    EXPECT_EQ(count(timeline, a, dropBefore, thinBefore), (400u - 35) * 24) << "one an hour";
    EXPECT_EQ(count(timeline, a, thinBefore, now), 35u * 24 * 12) << "every one for 35 days";

    // A day later a new run starts thinning where the last one stopped: a slice past the 400
    // days, then one for the day that aged out, rather than ten over the whole year again.
    const Date tomorrow = now + days(1);
    UsageTimeline next(folder.path(), sliceAReading);
    ASSERT_TRUE(next.record(reading(tomorrow, 60), tomorrow));
    ASSERT_TRUE(next.record(reading(tomorrow + seconds(1), 60), tomorrow + seconds(1)));
    EXPECT_EQ(count(next, a, thinBefore, thinBefore + days(1)), 24u);
}

}  // namespace
}  // namespace quotalume
