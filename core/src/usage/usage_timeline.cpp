#include <quotalume/usage_timeline.hpp>

#include <quotalume/private_file.hpp>

#include "sqlite_library.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <system_error>

namespace quotalume {
namespace {

using std::chrono::seconds;

constexpr int applicationId = 0x514C544C;  // "QLTL"

constexpr const char* schema =
    "PRAGMA journal_mode=WAL;"
    "PRAGMA synchronous=NORMAL;"
    "PRAGMA cache_size=-128;"  // KiB: an hour of one series is a few pages
    "PRAGMA application_id=1363956812;"
    "CREATE TABLE IF NOT EXISTS readings ("
    "  observed_at INTEGER NOT NULL,"  // Unix seconds
    "  account TEXT NOT NULL,"
    "  window INTEGER NOT NULL,"  // minutes: 300 or 10080
    "  used_percent REAL NOT NULL,"
    "  resets_at INTEGER,"
    "  plan TEXT,"
    "  UNIQUE (account, window, observed_at));";
static_assert(applicationId == 1363956812);

// A prepared statement, finished with its scope.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) {
        result_ = sqlite().prepare_v2(db, sql, -1, &s_, nullptr);
    }
    // One kept prepared by its owner: used, then reset, never finished here.
    explicit Statement(sqlite3_stmt* kept) : s_(kept), result_(SQLITE_OK), owned_(false) {}
    ~Statement() {
        if (owned_) {
            sqlite().finalize(s_);
        }
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    int prepared() const { return result_; }
    Statement& bind(int index, long long value) {
        sqlite().bind_int64(s_, index, value);
        return *this;
    }
    Statement& bind(int index, double value) {
        sqlite().bind_double(s_, index, value);
        return *this;
    }
    Statement& bind(int index, const std::string& value) {
        sqlite().bind_text(s_, index, value.data(), static_cast<int>(value.size()),
                           SQLITE_TRANSIENT);
        return *this;
    }
    template <typename T>
    Statement& bind(int index, const std::optional<T>& value) {
        if (value) {
            return bind(index, *value);
        }
        sqlite().bind_null(s_, index);
        return *this;
    }
    int step() { return sqlite().step(s_); }
    void reset() {
        sqlite().reset(s_);
        sqlite().clear_bindings(s_);
    }
    long long integer(int column) const { return sqlite().column_int64(s_, column); }
    double real(int column) const { return sqlite().column_double(s_, column); }
    bool isNull(int column) const { return sqlite().column_type(s_, column) == SQLITE_NULL; }
    std::string text(int column) const {
        const auto* bytes = sqlite().column_text(s_, column);
        return bytes ? std::string(reinterpret_cast<const char*>(bytes)) : std::string();
    }

private:
    sqlite3_stmt* s_ = nullptr;
    int result_ = SQLITE_ERROR;
    bool owned_ = true;
};

long long unix(Date date) {
    return static_cast<long long>(std::floor(unixSeconds(date)));
}

std::optional<long long> unix(const std::optional<Date>& date) {
    return date ? std::optional(unix(*date)) : std::nullopt;
}

bool resetMoved(const std::optional<Date>& before, const std::optional<Date>& now) {
    if (!before || !now) {
        return before.has_value() != now.has_value();
    }
    return (*before > *now ? *before - *now : *now - *before) > UsageForecast::sameReset;
}

// Keeps the newest `keep` copies, each with its -wal and -shm files.
void pruneCopies(const std::filesystem::path& directory, const std::string& prefix,
                 std::size_t keep) {
    std::set<std::string> stems;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(directory, error), end; !error && entry != end;
         entry.increment(error)) {
        std::string name = entry->path().filename().string();
        if (!name.starts_with(prefix)) {
            continue;
        }
        for (const char* companion : {"-wal", "-shm"}) {
            if (name.ends_with(companion)) {
                name.resize(name.size() - 4);
            }
        }
        stems.insert(name);
    }
    while (stems.size() > keep) {
        for (const char* suffix : {"", "-wal", "-shm"}) {
            std::filesystem::remove(directory / (*stems.begin() + suffix), error);
        }
        stems.erase(stems.begin());
    }
}

}  // namespace

UsageTimeline::UsageTimeline(std::filesystem::path directory, Options options)
    : path_(std::move(directory) / fileName), options_(options) {}

UsageTimeline::~UsageTimeline() {
    release();
}

void UsageTimeline::disconnect() {
    if (library_) {
        sqlite().finalize(insert_);
        sqlite().close_v2(db_);  // statements still open finish it when they go
    }
    insert_ = nullptr;
    db_ = nullptr;
}

void UsageTimeline::release() {
    disconnect();
    library_.reset();  // no statement is open between calls
}

void UsageTimeline::close() {
    // The library stays: a statement of the call that failed is still to be finished.
    disconnect();
    lastStored_.clear();  // a file moved aside or unusable: nothing stored is known
}

bool UsageTimeline::usable(int result) {
    switch (result) {
        case SQLITE_OK:
        case SQLITE_ROW:
        case SQLITE_DONE:
            return true;
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return false;  // another process holds it: the next reading tries again
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
            if (!options_.readOnly) {
                keepAside();
            }
            return false;
        default:
            warning_ = LocalizedMessage(
                "timeline.unwritable",
                {path_.string(), db_ ? sqlite().errmsg(db_) : sqlite().errstr(result)});
            close();
            return false;
    }
}

bool UsageTimeline::open() {
    if (db_ != nullptr) {
        return true;
    }
    keptAside_ = false;
    // A file moved aside makes room for a new one at once.
    return openOnce() || (keptAside_ && openOnce());
}

bool UsageTimeline::openOnce() {
    if (options_.readOnly && !std::filesystem::exists(path_)) {
        return false;  // nothing kept yet: nothing to read, and nothing wrong
    }
    if (!options_.readOnly) {
        try {
            createPrivateDirectories(path_.parent_path());
            // Owner-only from the start; SQLite gives its -wal and -shm files the same mode.
            const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (fd < 0) {
                throw std::system_error(errno, std::system_category(), "open");
            }
            ::close(fd);
        } catch (const std::system_error& error) {
            warning_ = LocalizedMessage("timeline.unwritable", {path_.string(), error.what()});
            return false;
        }
    }
    if (!library_) {
        try {
            library_ = std::make_unique<SqliteLibrary>();
        } catch (const std::runtime_error& error) {
            warning_ = LocalizedMessage("timeline.unwritable", {path_.string(), error.what()});
            return false;
        }
    }
    const int flags = (options_.readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) |
                      SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_FULLMUTEX;
    if (int opened = sqlite().open_v2(path_.c_str(), &db_, flags, nullptr); opened != SQLITE_OK) {
        return usable(opened);
    }
    sqlite().busy_timeout(db_, options_.busyMilliseconds);
    // Closed after every reading: a checkpoint each time would write and sync the file for
    // nothing. SQLite checkpoints as the log grows, and the next open reads the log.
    sqlite().db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    // Not ours: another program's database, or no database at all.
    int read = SQLITE_ERROR;
    bool foreign = false;
    {
        Statement identity(db_,
                           "SELECT (SELECT application_id FROM pragma_application_id),"
                           " (SELECT count(*) FROM sqlite_schema)");
        read = identity.prepared() == SQLITE_OK ? identity.step() : sqlite().errcode(db_);
        foreign =
            read == SQLITE_ROW && identity.integer(0) != applicationId && identity.integer(1) > 0;
    }
    if (read != SQLITE_ROW) {
        return usable(read);
    }
    if (foreign) {
        return usable(SQLITE_NOTADB);
    }
    if (options_.readOnly) {
        return true;
    }
    if (int made = sqlite().exec(db_, schema, nullptr, nullptr, nullptr); made != SQLITE_OK) {
        return usable(made);
    }
    if (options_.maximumPages > 0) {
        const std::string cap = "PRAGMA max_page_count=" + std::to_string(options_.maximumPages);
        sqlite().exec(db_, cap.c_str(), nullptr, nullptr, nullptr);
    }
    return true;
}

void UsageTimeline::keepAside() {
    close();
    try {
        const std::string prefix = path_.filename().string() + ".corrupt-";
        if (auto copy = moveAside(path_, "corrupt")) {
            for (const char* companion : {"-wal", "-shm"}) {
                std::error_code ignored;
                std::filesystem::rename(path_.string() + companion, copy->string() + companion,
                                        ignored);
            }
            pruneCopies(path_.parent_path(), prefix, keptCopies);
            warning_ = LocalizedMessage("timeline.kept_aside", {copy->string()});
            keptAside_ = true;
        }
    } catch (const std::system_error& error) {
        warning_ = LocalizedMessage("timeline.unwritable", {path_.string(), error.what()});
    }
}

bool UsageTimeline::record(const UsageSnapshot& snapshot, Date now) {
    const std::optional<RateBucket> bucket = snapshot.codexBucket();
    if (options_.readOnly || !bucket || !open()) {
        return false;
    }
    std::vector<TimelineRow> due;
    for (QuotaWindow which : allQuotaWindows) {
        const std::optional<RateWindow> window = bucket->window(which);
        const std::optional<double> used = window ? window->validUsedPercent() : std::nullopt;
        if (!used) {
            continue;
        }
        TimelineRow row{
            snapshot.observedAt, snapshot.accountFingerprint, which, *used, window->resetDate(),
            bucket->planType};
        const auto key = std::pair(row.account, minutes(which));
        auto last = lastStored_.find(key);
        if (last == lastStored_.end()) {
            // Once per series: what an earlier run stored last.
            std::vector<TimelineRow> stored =
                rows(row.account, which, row.observedAt - unchangedKept);
            if (!db_) {
                return false;
            }
            if (!stored.empty()) {
                last = lastStored_.emplace(key, stored.back()).first;
            }
        }
        if (last == lastStored_.end() || last->second.usedPercent != row.usedPercent ||
            resetMoved(last->second.resetsAt, row.resetsAt) ||
            row.observedAt - last->second.observedAt >= unchangedKept) {
            due.push_back(std::move(row));
        }
    }
    if (due.empty()) {
        return true;
    }
    if (!usable(sqlite().exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr))) {
        return false;
    }
    // Prepared once per connection: preparing costs more than the insert itself.
    int result = insert_
                     ? SQLITE_OK
                     : sqlite().prepare_v2(db_,
                                           "INSERT OR IGNORE INTO readings (observed_at, account,"
                                           " window, used_percent, resets_at, plan)"
                                           " VALUES (?, ?, ?, ?, ?, ?)",
                                           -1, &insert_, nullptr);
    Statement insert(insert_);
    for (const TimelineRow& row : due) {
        if (result != SQLITE_OK) {
            break;
        }
        insert.bind(1, unix(row.observedAt))
            .bind(2, row.account)
            .bind(3, static_cast<long long>(minutes(row.window)))
            .bind(4, row.usedPercent)
            .bind(5, unix(row.resetsAt))
            .bind(6, row.plan);
        result = insert.step() == SQLITE_DONE ? SQLITE_OK : sqlite().errcode(db_);
        insert.reset();
    }
    if (result == SQLITE_OK) {
        result = sqlite().exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    }
    if (result != SQLITE_OK) {
        sqlite().exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        return usable(result);
    }
    for (TimelineRow& row : due) {
        lastStored_[std::pair(row.account, minutes(row.window))] = std::move(row);
    }
    if (warning_ && warning_->key == "timeline.unwritable") {
        warning_.reset();  // it takes readings again
    }
    // Once a day: a prune reads the whole table, and a day more of readings costs little.
    if (!prunedAt_ || now - *prunedAt_ >= std::chrono::days(1) || now < *prunedAt_) {
        prune(now);
    }
    return true;
}

void UsageTimeline::prune(Date now) {
    Statement old(db_, "DELETE FROM readings WHERE observed_at < ?");
    old.bind(1, unix(now - hourlyKept));
    // Past 35 days, the first reading of each hour of each series stays.
    Statement thinned(db_,
                      "DELETE FROM readings WHERE observed_at < ?1 AND rowid NOT IN"
                      " (SELECT min(rowid) FROM readings WHERE observed_at < ?1"
                      " GROUP BY account, window, observed_at / 3600)");
    thinned.bind(1, unix(now - everyReadingKept));
    if (usable(old.step()) && usable(thinned.step())) {
        prunedAt_ = now;
    }
}

std::vector<TimelineRow> UsageTimeline::rows(const std::string& account,
                                             std::optional<QuotaWindow> window, Date since) {
    std::vector<TimelineRow> found;
    if (!open()) {
        return found;
    }
    Statement select(db_,
                     "SELECT observed_at, window, used_percent, resets_at, plan FROM readings"
                     " WHERE account = ?1 AND (?2 IS NULL OR window = ?2) AND observed_at >= ?3"
                     " ORDER BY observed_at, window");
    if (select.prepared() != SQLITE_OK) {
        usable(sqlite().errcode(db_));
        return found;
    }
    select.bind(1, account)
        .bind(2, window ? std::optional<long long>(minutes(*window)) : std::nullopt)
        .bind(3, unix(since));
    int result;
    while ((result = select.step()) == SQLITE_ROW) {
        const auto which = quotaWindowFromMinutes(select.integer(1));
        if (!which) {
            continue;
        }
        found.push_back({dateFromUnixSeconds(static_cast<double>(select.integer(0))), account,
                         *which, select.real(2),
                         select.isNull(3) ? std::nullopt
                                          : std::optional(dateFromUnixSeconds(
                                                static_cast<double>(select.integer(3)))),
                         select.isNull(4) ? std::nullopt : std::optional(select.text(4))});
    }
    usable(result);
    return found;
}

std::optional<std::string> UsageTimeline::latestAccount() {
    if (!open()) {
        return std::nullopt;
    }
    Statement select(db_, "SELECT account FROM readings ORDER BY observed_at DESC LIMIT 1");
    const int result = select.prepared() == SQLITE_OK ? select.step() : sqlite().errcode(db_);
    if (result == SQLITE_ROW) {
        return select.text(0);
    }
    usable(result);
    return std::nullopt;
}

std::vector<UsagePoint> UsageTimeline::points(const std::string& account, QuotaWindow window,
                                              Date since) {
    std::vector<UsagePoint> points;
    if (!open()) {
        return points;
    }
    // Straight to points: a week of one window is ten thousand rows, read at every reading.
    Statement select(db_,
                     "SELECT observed_at, used_percent, resets_at FROM readings"
                     " WHERE account = ?1 AND window = ?2 AND observed_at >= ?3"
                     " AND resets_at IS NOT NULL ORDER BY observed_at");
    if (select.prepared() != SQLITE_OK) {
        usable(sqlite().errcode(db_));
        return points;
    }
    select.bind(1, account).bind(2, static_cast<long long>(minutes(window))).bind(3, unix(since));
    int result;
    while ((result = select.step()) == SQLITE_ROW) {
        points.push_back({dateFromUnixSeconds(static_cast<double>(select.integer(0))),
                          select.real(1),
                          dateFromUnixSeconds(static_cast<double>(select.integer(2)))});
    }
    usable(result);
    return points;
}

}  // namespace quotalume
