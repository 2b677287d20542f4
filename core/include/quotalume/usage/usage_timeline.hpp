#pragma once

#include <quotalume/l10n/localized_message.hpp>
#include <quotalume/support/date.hpp>
#include <quotalume/usage/quota_window.hpp>
#include <quotalume/usage/usage_forecast.hpp>
#include <quotalume/usage/usage_snapshot.hpp>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace quotalume {

class SqliteLibrary;

// One stored reading of one window of one account.
struct TimelineRow {
    Date observedAt;
    std::string account;  // the snapshot's account fingerprint
    QuotaWindow window = QuotaWindow::fiveHour;
    double usedPercent = 0;
    std::optional<Date> resetsAt;
    std::optional<std::string> plan;
    std::string bucket = "codex";  // the limit id

    friend bool operator==(const TimelineRow&, const TimelineRow&) = default;
};

// Which of an account's rows to read: one window's or every one, one bucket's or every one.
struct RowFilter {
    std::optional<QuotaWindow> window;
    std::optional<std::string> bucket;
};

// Every reading the engine makes, kept in <folder>/usage.sqlite3 (0600, WAL) for the pace and
// the forecast and for `quotalume-cli usage`. A window's reading is stored when a figure
// changed, when its reset time moved by more than a minute, or when 15 minutes have passed;
// every one is kept for 35 days, then one an hour for 400 days. Each account has a series of
// its own. Old readings are pruned once a day, a slice of rows per transaction and only for
// a while at each reading, so a backlog is worked off over several readings; the log is then
// checkpointed and cut back. A file that is corrupt or not ours is moved aside with its -wal
// and -shm files (usage.sqlite3.corrupt-<UTC time>, the newest five kept) and a new one begun;
// a database another process holds is waited for briefly and the reading stored with a later
// one. The file and its -wal and -shm are used only as regular files of this user, never
// through a link, and the engine narrows them to 0600; anything else is refused and left as
// it is. No call throws: what went wrong is the warning.
class UsageTimeline {
public:
    static constexpr const char* fileName = "usage.sqlite3";
    static constexpr auto everyReadingKept = std::chrono::days(35);
    static constexpr auto hourlyKept = std::chrono::days(400);
    static constexpr auto unchangedKept = std::chrono::minutes(15);
    static constexpr std::size_t keptCopies = 5;

    struct Options {
        int busyMilliseconds = 100;
        long long maximumPages = 0;  // a cap on the file's size (0: none), as a full disk would
        bool readOnly = false;       // for readers beside the engine: nothing is made or moved
        // A prune deletes this many rows a transaction, and goes on to the next slice only
        // while a reading has spent less than `pruneTime` on it.
        long long pruneSliceRows = 2000;
        std::chrono::milliseconds pruneTime{50};
    };

    explicit UsageTimeline(std::filesystem::path directory, Options options);
    explicit UsageTimeline(std::filesystem::path directory)
        : UsageTimeline(std::move(directory), Options{}) {}
    ~UsageTimeline();
    UsageTimeline(const UsageTimeline&) = delete;
    UsageTimeline& operator=(const UsageTimeline&) = delete;

    // Stores what is due of the snapshot's windows, every bucket's; false when nothing could be
    // stored now (busy, unwritable or full; the warning says which but busy), to be tried again
    // with the next reading.
    bool record(const UsageSnapshot& snapshot, Date now);
    // One account's rows since `since`, oldest first; of one time the Codex bucket's first,
    // then by bucket and window.
    std::vector<TimelineRow> rows(const std::string& account, const RowFilter& filter, Date since);
    // The same rows handed to `each` as they are read, none held: a year of them costs what one
    // does. False when reading stopped on a failure, which warning() names.
    bool eachRow(const std::string& account, const RowFilter& filter, Date since,
                 const std::function<void(const TimelineRow&)>& each);
    // The account whose reading was stored last; nothing before the first.
    std::optional<std::string> latestAccount();
    // The rows of the window's current occurrence as the forecast reads them.
    std::vector<UsagePoint> points(const std::string& account, QuotaWindow window, Date since);

    // Lets the connection and the library go until the next call, which loads and opens them
    // again: between readings a resident engine keeps none of SQLite's code or memory.
    void release();

    // The last thing that went wrong: a copy kept aside, a file that cannot be written, read
    // or used (a link, another user's). A reader also hears of a damaged or locked file.
    const std::optional<LocalizedMessage>& warning() const { return warning_; }
    const std::filesystem::path& path() const { return path_; }

private:
    // What is left of the prune under way: rows past 400 days go first, then those past 35
    // days are thinned from `thinFrom` on.
    struct PruneRound {
        Date startedAt;
        long long dropBefore = 0;
        long long thinBefore = 0;
        long long thinFrom = 0;
        bool dropped = false;
        bool deleted = false;
    };

    bool open();
    bool openOnce();
    bool acceptFiles();
    bool usable(int result);
    bool hasTable(const char* name);
    LocalizedMessage failure(const std::string& file, const std::string& reason) const;
    void keepAside();
    bool store(std::vector<TimelineRow>& due);
    void prune(Date now);
    bool pruneSlice();
    void close();
    void disconnect();

    std::filesystem::path path_;
    Options options_;
    std::unique_ptr<SqliteLibrary> library_;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* insert_ = nullptr;
    sqlite3_stmt* insertBucket_ = nullptr;
    std::optional<LocalizedMessage> warning_;
    std::map<std::tuple<std::string, std::string, std::int64_t>, TimelineRow> lastStored_;
    std::optional<Date> prunedAt_;
    std::optional<PruneRound> pruning_;
    bool keptAside_ = false;
};

}  // namespace quotalume
