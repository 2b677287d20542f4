// What the usage timeline costs: storing a reading of both windows beside a bare INSERT of the
// same two rows into the same kind of database, loading a week of one window beside a bare SELECT
// of the same rows, the forecast of a full week beside one pass over its readings; with --year, the
// file's size after a simulated year of a reading a minute; with --usage CLI, what
// `CLI usage --json` costs on that year beside `sqlite3 -json` printing the same rows.

#include <quotalume/usage/usage_forecast.hpp>
#include <quotalume/usage/usage_timeline.hpp>

#include "test_support.hpp"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

namespace quotalume {
namespace {

using std::chrono::minutes;

const Date start = dateFromUnixSeconds(1796000000);
const std::string account = UsageSnapshot::fingerprint("account");

UsageSnapshot reading(Date at, double used) {
    RateBucket bucket{
        .limitId = "codex",
        .primary = RateWindow{used, 300, unixSeconds(at + std::chrono::hours(3))},
        .secondary = RateWindow{used / 3, 10080, unixSeconds(start + std::chrono::days(400))},
        .planType = "plus"};
    return {at, account, {bucket}, std::nullopt};
}

// A week of a reading a minute, every one changed.
void fillWeek(UsageTimeline& timeline) {
    for (int minute = 0; minute < 7 * 1440; ++minute) {
        timeline.record(reading(start + minutes(minute), minute % 97), start + minutes(minute));
    }
}

void BM_TimelineRecord(benchmark::State& state) {
    test::TempDir folder;
    UsageTimeline timeline(folder.path());
    int minute = 0;
    for (auto _ : state) {
        ++minute;
        timeline.record(reading(start + minutes(minute), minute % 97), start + minutes(minute));
    }
}
BENCHMARK(BM_TimelineRecord);

void BM_BareInsert(benchmark::State& state) {
    test::TempDir folder;
    sqlite3* db = nullptr;
    sqlite3_open((folder.path() / "bare.sqlite3").c_str(), &db);
    sqlite3_exec(db,
                 "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
                 // The timeline's own table, so the baseline pays for the same index.
                 "CREATE TABLE readings (observed_at INTEGER NOT NULL, account TEXT NOT NULL,"
                 " window INTEGER NOT NULL, used_percent REAL NOT NULL, resets_at INTEGER,"
                 " plan TEXT, UNIQUE (account, window, observed_at))",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO readings VALUES (?, ?, ?, ?, ?, 'plus')", -1, &insert,
                       nullptr);
    long long second = 1796000000;
    for (auto _ : state) {
        // The same two rows a reading of both windows stores, in one transaction.
        second += 60;
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        for (int window : {300, 10080}) {
            sqlite3_bind_int64(insert, 1, second);
            sqlite3_bind_text(insert, 2, account.c_str(), -1, SQLITE_STATIC);
            sqlite3_bind_int(insert, 3, window);
            sqlite3_bind_double(insert, 4, static_cast<double>(second % 97));
            sqlite3_bind_int64(insert, 5, second + 10800);
            sqlite3_step(insert);
            sqlite3_reset(insert);
        }
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    }
    sqlite3_finalize(insert);
    sqlite3_close(db);
}
BENCHMARK(BM_BareInsert);

struct Week {
    test::TempDir folder;
    UsageTimeline timeline{folder.path()};
    Week() { fillWeek(timeline); }
};

void BM_LoadWeek(benchmark::State& state) {
    static Week week;
    for (auto _ : state) {
        benchmark::DoNotOptimize(week.timeline.points(account, QuotaWindow::weekly, start));
    }
}
BENCHMARK(BM_LoadWeek)->Unit(benchmark::kMillisecond);

void BM_BareSelectWeek(benchmark::State& state) {
    static Week week;
    sqlite3* db = nullptr;
    sqlite3_open((week.folder.path() / UsageTimeline::fileName).c_str(), &db);
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT observed_at, used_percent, resets_at FROM readings"
                       " WHERE window = 10080",
                       -1, &select, nullptr);
    for (auto _ : state) {
        double sum = 0;
        while (sqlite3_step(select) == SQLITE_ROW) {
            sum += sqlite3_column_double(select, 1);
        }
        sqlite3_reset(select);
        benchmark::DoNotOptimize(sum);
    }
    sqlite3_finalize(select);
    sqlite3_close(db);
}
BENCHMARK(BM_BareSelectWeek)->Unit(benchmark::kMillisecond);

std::vector<UsagePoint> weekOfPoints() {
    std::vector<UsagePoint> points;
    for (int minute = 0; minute < 7 * 1440; ++minute) {
        points.push_back({start + minutes(minute), minute / 120.0, start + std::chrono::days(7)});
    }
    return points;
}

void BM_ForecastWeek(benchmark::State& state) {
    const auto points = weekOfPoints();
    const Date now = start + std::chrono::days(7) - minutes(1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(UsageForecast::of(points, start + std::chrono::days(7), now));
    }
}
BENCHMARK(BM_ForecastWeek)->Unit(benchmark::kMicrosecond);

void BM_PassOverWeek(benchmark::State& state) {
    const auto points = weekOfPoints();
    for (auto _ : state) {
        double sum = 0;
        for (const UsagePoint& point : points) {
            sum += point.usedPercent;
        }
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_PassOverWeek)->Unit(benchmark::kMicrosecond);

// A year of a reading a minute, each changed, pruned as it goes.
void keepAYear(const std::filesystem::path& folder) {
    UsageTimeline timeline(folder);
    for (int minute = 0; minute < 365 * 1440; ++minute) {
        const Date at = start + minutes(minute);
        timeline.record(reading(at, minute % 97), at);
    }
}

// The year's file size in MB.
int simulateYear() {
    test::TempDir folder;
    keepAYear(folder.path());
    std::uintmax_t bytes = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
        bytes += entry.file_size();
    }
    std::cout << bytes / 1e6 << "\n";
    return 0;
}

struct Cost {
    double cpuSeconds = 0;  // user + system, the fastest of the runs
    long peakKiB = 0;       // the largest of the runs
};

// Runs `arguments` with its output thrown away, `runs` times.
Cost measure(const std::vector<std::string>& arguments, int runs) {
    Cost cost{.cpuSeconds = 1e9};
    for (int run = 0; run < runs; ++run) {
        const pid_t child = ::fork();
        if (child == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, STDOUT_FILENO);
            std::vector<char*> argv;
            for (const std::string& argument : arguments) {
                argv.push_back(const_cast<char*>(argument.c_str()));
            }
            argv.push_back(nullptr);
            ::execvp(argv[0], argv.data());
            ::_exit(127);
        }
        int status = 0;
        rusage usage{};
        ::wait4(child, &status, 0, &usage);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::cerr << arguments[0] << " failed\n";
            std::exit(1);
        }
        const auto seconds = [](const timeval& time) {
            return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
        };
        cost.cpuSeconds =
            std::min(cost.cpuSeconds, seconds(usage.ru_utime) + seconds(usage.ru_stime));
        cost.peakKiB = std::max(cost.peakKiB, usage.ru_maxrss);
    }
    return cost;
}

// `cli usage --json` on a simulated year beside sqlite3 printing the same rows as JSON: CPU
// seconds and peak resident KiB of each, one "name value" line a figure.
int usageOfAYear(const std::string& cli) {
    test::TempDir home;
    const std::filesystem::path folder = home.path() / "Quotalume";
    keepAYear(folder);
    ::setenv("XDG_DATA_HOME", home.str().c_str(), 1);
    const std::string file = (folder / UsageTimeline::fileName).string();
    const std::string select =
        "SELECT observed_at, window, used_percent, resets_at, plan FROM readings"
        " WHERE account = (SELECT account FROM readings ORDER BY observed_at DESC LIMIT 1)"
        " ORDER BY observed_at, window";
    const Cost ours = measure({cli, "usage", "--json"}, 5);
    const Cost theirs = measure({"sqlite3", "-json", "-readonly", file, select}, 5);
    std::cout << "usage_cpu_s " << ours.cpuSeconds << "\nusage_peak_kib " << ours.peakKiB
              << "\nsqlite3_cpu_s " << theirs.cpuSeconds << "\nsqlite3_peak_kib " << theirs.peakKiB
              << "\n";
    return 0;
}

}  // namespace
}  // namespace quotalume

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--year") == 0) {
        return quotalume::simulateYear();
    }
    if (argc == 3 && std::strcmp(argv[1], "--usage") == 0) {
        return quotalume::usageOfAYear(argv[2]);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
