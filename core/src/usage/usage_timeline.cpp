#include <quotalume/usage/usage_timeline.hpp>

#include <quotalume/support/private_file.hpp>

#include "sqlite_library.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
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
    "CREATE TABLE IF NOT EXISTS readings ("
    "  observed_at INTEGER NOT NULL,"  // Unix seconds
    "  account TEXT NOT NULL,"
    "  window INTEGER NOT NULL,"  // minutes; the Codex bucket's windows
    "  used_percent REAL NOT NULL,"
    "  resets_at INTEGER,"
    "  plan TEXT,"
    "  UNIQUE (account, window, observed_at));"
    // Pruning walks the readings by age, a slice at a time.
    "CREATE INDEX IF NOT EXISTS readings_by_time ON readings (observed_at);"
    // The other buckets' readings: a table older versions never read, so that they never take
    // a bucket's window for the Codex one of the same length.
    "CREATE TABLE IF NOT EXISTS bucket_readings ("
    "  observed_at INTEGER NOT NULL,"
    "  account TEXT NOT NULL,"
    "  bucket TEXT NOT NULL,"
    "  window INTEGER NOT NULL,"
    "  used_percent REAL NOT NULL,"
    "  resets_at INTEGER,"
    "  plan TEXT,"
    "  UNIQUE (account, bucket, window, observed_at));"
    "CREATE INDEX IF NOT EXISTS bucket_readings_by_time ON bucket_readings (observed_at);"
    // Where the last prune stopped thinning: the next one starts there, not at the oldest row.
    "CREATE TABLE IF NOT EXISTS pruning ("
    "  id INTEGER PRIMARY KEY CHECK (id = 0),"
    "  thinned_before INTEGER NOT NULL);";
// Set once, on the file's creation: setting it at every open would write a page to the log each
// time.
constexpr const char* markOurs = "PRAGMA application_id=1363956812;";
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

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

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
        sqlite().finalize(insertBucket_);
        sqlite().close_v2(db_);  // statements still open finish it when they go
    }
    insert_ = nullptr;
    insertBucket_ = nullptr;
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
    pruning_.reset();
}

bool UsageTimeline::usable(int result) {
    switch (result) {
        case SQLITE_OK:
        case SQLITE_ROW:
        case SQLITE_DONE:
            return true;
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            // Another process holds it: the engine tries again with its next reading, while a
            // reader has nothing to show and says why.
            if (options_.readOnly) {
                warning_ = LocalizedMessage("timeline.locked", {path_.string()});
            }
            return false;
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
            if (options_.readOnly) {
                warning_ = LocalizedMessage("timeline.damaged", {path_.string()});
            } else {
                keepAside();
            }
            return false;
        default:
            warning_ =
                failure(path_.string(), db_ ? sqlite().errmsg(db_) : sqlite().errstr(result));
            close();
            return false;
    }
}

LocalizedMessage UsageTimeline::failure(const std::string& file, const std::string& reason) const {
    // A reader only reads: it never says a file cannot be written.
    return LocalizedMessage(options_.readOnly ? "timeline.unreadable" : "timeline.unwritable",
                            {file, reason});
}

bool UsageTimeline::open() {
    if (db_ != nullptr) {
        return true;
    }
    keptAside_ = false;
    // A file moved aside makes room for a new one at once.
    return openOnce() || (keptAside_ && openOnce());
}

bool UsageTimeline::acceptFiles() {
    // SQLite opens them by name after this, but in the user's own 0700 folder nobody else can
    // swap them in between.
    for (const char* suffix : {"", "-wal", "-shm"}) {
        const std::string file = path_.string() + suffix;
        const bool database = *suffix == '\0';
        // The engine makes the file owner-only from the start; SQLite gives its -wal and -shm
        // the file's mode. Without blocking: a FIFO in its place cannot stall us.
        const int access = options_.readOnly || !database ? O_RDONLY : O_RDWR | O_CREAT;
        Descriptor fd(
            ::open(file.c_str(), access | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600));
        if (fd.get() < 0) {
            const int error = errno;
            if (error == ENOENT && !database) {
                continue;  // SQLite makes them as it needs them
            }
            if (error == ENOENT && options_.readOnly) {
                warning_.reset();  // nothing kept yet: nothing to read, and nothing wrong
                return false;
            }
            warning_ = error == ELOOP || error == EISDIR
                           ? LocalizedMessage("timeline.not_a_file", {file})
                           : failure(file, std::system_category().message(error));
            return false;
        }
        struct stat status {};
        if (::fstat(fd.get(), &status) != 0) {
            warning_ = failure(file, std::system_category().message(errno));
            return false;
        }
        if (!S_ISREG(status.st_mode)) {
            warning_ = LocalizedMessage("timeline.not_a_file", {file});
            return false;
        }
        // Another user's file could be read or rewritten by them: left as it is, as the
        // webhook settings are.
        if (status.st_uid != ::geteuid()) {
            warning_ = LocalizedMessage("timeline.foreign", {file});
            return false;
        }
        // An older version left them readable to others; the readings are the user's alone.
        if (!options_.readOnly && (status.st_mode & 077) != 0 && ::fchmod(fd.get(), 0600) != 0) {
            warning_ = failure(file, std::system_category().message(errno));
            return false;
        }
    }
    return true;
}

bool UsageTimeline::openOnce() {
    if (!options_.readOnly) {
        try {
            createPrivateDirectories(path_.parent_path());
        } catch (const std::system_error& error) {
            warning_ = failure(path_.string(), error.what());
            return false;
        }
    }
    if (!acceptFiles()) {
        return false;
    }
    if (!library_) {
        try {
            library_ = std::make_unique<SqliteLibrary>();
        } catch (const std::runtime_error& error) {
            warning_ = failure(path_.string(), error.what());
            return false;
        }
    }
    // Whatever stops the opening half way leaves no connection behind: the next call starts
    // over and checks the file again.
    const auto refused = [this](int result) {
        usable(result);
        disconnect();
        return false;
    };
    const int flags = (options_.readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) |
                      SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_FULLMUTEX;
    if (int opened = sqlite().open_v2(path_.c_str(), &db_, flags, nullptr); opened != SQLITE_OK) {
        return refused(opened);
    }
    sqlite().busy_timeout(db_, options_.busyMilliseconds);
    // Closed after every reading: a checkpoint each time would write and sync the file for
    // nothing. SQLite checkpoints as the log grows, and the next open reads the log.
    sqlite().db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    // Not ours: another program's database, or no database at all.
    int read = SQLITE_ERROR;
    bool foreign = false;
    bool unmarked = false;  // a new file: refused as foreign otherwise
    {
        Statement identity(db_,
                           "SELECT (SELECT application_id FROM pragma_application_id),"
                           " (SELECT count(*) FROM sqlite_schema)");
        read = identity.prepared() == SQLITE_OK ? identity.step() : sqlite().errcode(db_);
        unmarked = read == SQLITE_ROW && identity.integer(0) != applicationId;
        foreign = unmarked && identity.integer(1) > 0;
    }
    if (read != SQLITE_ROW) {
        return refused(read);
    }
    if (foreign) {
        return refused(SQLITE_NOTADB);
    }
    if (options_.readOnly) {
        warning_.reset();  // read again: what kept it from being read has passed
        return true;
    }
    if (warning_ &&
        (warning_->key == "timeline.foreign" || warning_->key == "timeline.not_a_file")) {
        warning_.reset();  // the file in its place is one of ours again
    }
    if (int made = sqlite().exec(db_, schema, nullptr, nullptr, nullptr); made != SQLITE_OK) {
        return refused(made);
    }
    if (unmarked) {
        if (int marked = sqlite().exec(db_, markOurs, nullptr, nullptr, nullptr);
            marked != SQLITE_OK) {
            return refused(marked);
        }
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
    if (options_.readOnly || !snapshot.codexBucket() || !open()) {
        return false;
    }
    std::vector<TimelineRow> due;
    for (const RateBucket& bucket : snapshot.buckets) {
        for (QuotaWindow which : bucket.windows()) {
            const std::optional<RateWindow> window = bucket.window(which);
            const std::optional<double> used = window->validUsedPercent();
            if (!used) {
                continue;
            }
            TimelineRow row{snapshot.observedAt,
                            snapshot.accountFingerprint,
                            which,
                            *used,
                            window->resetDate(),
                            bucket.planType,
                            bucket.id()};
            const auto key = std::tuple(row.account, row.bucket, minutes(which));
            auto last = lastStored_.find(key);
            if (last == lastStored_.end()) {
                // Once per series: what an earlier run stored last.
                std::vector<TimelineRow> stored;
                eachRow(row.account, {.window = which, .bucket = row.bucket},
                        row.observedAt - unchangedKept,
                        [&](const TimelineRow& earlier) { stored.push_back(earlier); });
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
    }
    if (!due.empty() && !store(due)) {
        return false;
    }
    prune(now);
    return true;
}

bool UsageTimeline::store(std::vector<TimelineRow>& due) {
    if (!usable(sqlite().exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr))) {
        return false;
    }
    // Prepared once per connection: preparing costs more than the insert itself.
    int result = insert_ ? SQLITE_OK
                         : sqlite().prepare_v2(db_,
                                               "INSERT OR IGNORE INTO readings (observed_at,"
                                               " account, window, used_percent, resets_at, plan)"
                                               " VALUES (?, ?, ?, ?, ?, ?)",
                                               -1, &insert_, nullptr);
    if (result == SQLITE_OK && !insertBucket_) {
        result = sqlite().prepare_v2(db_,
                                     "INSERT OR IGNORE INTO bucket_readings (observed_at,"
                                     " account, window, used_percent, resets_at, plan, bucket)"
                                     " VALUES (?, ?, ?, ?, ?, ?, ?)",
                                     -1, &insertBucket_, nullptr);
    }
    for (const TimelineRow& row : due) {
        if (result != SQLITE_OK) {
            break;
        }
        const bool codex = row.bucket == "codex";
        Statement insert(codex ? insert_ : insertBucket_);
        insert.bind(1, unix(row.observedAt))
            .bind(2, row.account)
            .bind(3, static_cast<long long>(minutes(row.window)))
            .bind(4, row.usedPercent)
            .bind(5, unix(row.resetsAt))
            .bind(6, row.plan);
        if (!codex) {
            insert.bind(7, row.bucket);
        }
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
        const auto key = std::tuple(row.account, row.bucket, minutes(row.window));
        lastStored_[key] = std::move(row);
    }
    if (warning_ && warning_->key == "timeline.unwritable") {
        warning_.reset();  // it takes readings again
    }
    return true;
}

void UsageTimeline::prune(Date now) {
    if (!pruning_) {
        // Once a day: a day more of readings costs little. A clock set back starts one at once.
        if (prunedAt_ && now >= *prunedAt_ && now - *prunedAt_ < std::chrono::days(1)) {
            return;
        }
        PruneRound round{.startedAt = now,
                         .dropBefore = unix(now - hourlyKept),
                         .thinBefore = unix(now - everyReadingKept)};
        long long thinnedBefore = LLONG_MIN;
        {
            Statement stored(db_, "SELECT thinned_before FROM pruning WHERE id = 0");
            const int result =
                stored.prepared() == SQLITE_OK ? stored.step() : sqlite().errcode(db_);
            if (result == SQLITE_ROW) {
                thinnedBefore = stored.integer(0);
            } else if (!usable(result)) {
                return;
            }
        }
        // A clock set back may have left the mark ahead of the cut: rows stored since lie
        // behind it and are thinned when their time comes.
        round.thinFrom = std::max(std::min(thinnedBefore, round.thinBefore), round.dropBefore);
        pruning_ = round;
    }
    const auto done = [this] {
        return pruning_->dropped && pruning_->thinFrom >= pruning_->thinBefore;
    };
    const auto deadline = std::chrono::steady_clock::now() + options_.pruneTime;
    while (!done()) {
        if (!pruneSlice()) {
            return;  // busy, or the file failed: the next reading carries on
        }
        if (std::chrono::steady_clock::now() >= deadline && !done()) {
            return;  // the rest at the next reading: the engine does not wait for a backlog
        }
    }
    if (pruning_->deleted) {
        // The slices' pages went through the log; give its space back now rather than keep a
        // file of its largest size. Waits for readers no longer than the busy timeout, and a
        // failure leaves only a longer log.
        sqlite().exec(db_, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
    }
    prunedAt_ = pruning_->startedAt;
    pruning_.reset();
}

bool UsageTimeline::pruneSlice() {
    PruneRound& round = *pruning_;
    const bool dropping = !round.dropped;
    const long long from = dropping ? LLONG_MIN : round.thinFrom;
    const long long to = dropping ? round.dropBefore : round.thinBefore;
    if (!usable(sqlite().exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr))) {
        return false;
    }
    const auto failed = [this](int result) {
        sqlite().exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        usable(result);
        return false;
    };
    // The slice ends where the next `pruneSliceRows` rows do, or at the cut.
    long long end = to;
    {
        Statement next(db_,
                       "SELECT observed_at FROM readings WHERE observed_at >= ?1"
                       " AND observed_at < ?2 ORDER BY observed_at LIMIT 1 OFFSET ?3");
        next.bind(1, from).bind(2, to).bind(3, std::max(1LL, options_.pruneSliceRows));
        const int result = next.prepared() == SQLITE_OK ? next.step() : sqlite().errcode(db_);
        if (result == SQLITE_ROW) {
            end = std::max(next.integer(0), from + 1);  // rows of one second go in one slice
        } else if (result != SQLITE_DONE) {
            return failed(result);
        }
    }
    // Past 400 days every reading goes; past 35 days, all but the first of each hour of each
    // series. That first one may lie before the slice or the last prune's cut, so it is looked
    // for in the whole series.
    // The other buckets' readings go over the same span: they are read at the same times.
    static constexpr std::array<const char*, 4> removals = {
        "DELETE FROM readings WHERE observed_at >= ?1 AND observed_at < ?2",
        "DELETE FROM bucket_readings WHERE observed_at >= ?1 AND observed_at < ?2",
        "DELETE FROM readings WHERE observed_at >= ?1 AND observed_at < ?2"
        " AND EXISTS (SELECT 1 FROM readings AS earlier"
        " WHERE earlier.account = readings.account"
        " AND earlier.window = readings.window"
        " AND earlier.observed_at >= readings.observed_at / 3600 * 3600"
        " AND earlier.observed_at < readings.observed_at)",
        "DELETE FROM bucket_readings WHERE observed_at >= ?1 AND observed_at < ?2"
        " AND EXISTS (SELECT 1 FROM bucket_readings AS earlier"
        " WHERE earlier.account = bucket_readings.account"
        " AND earlier.bucket = bucket_readings.bucket"
        " AND earlier.window = bucket_readings.window"
        " AND earlier.observed_at >= bucket_readings.observed_at / 3600 * 3600"
        " AND earlier.observed_at < bucket_readings.observed_at)"};
    bool deleted = false;
    int result = SQLITE_DONE;
    for (std::size_t table = 0; table < 2; ++table) {
        Statement remove(db_, removals[(dropping ? 0 : 2) + table]);
        remove.bind(1, from).bind(2, end);
        result = remove.prepared() == SQLITE_OK ? remove.step() : sqlite().errcode(db_);
        if (result != SQLITE_DONE) {
            return failed(result);
        }
        deleted = deleted || sqlite().changes(db_) > 0;
    }
    if (!dropping) {
        Statement mark(db_, "INSERT OR REPLACE INTO pruning (id, thinned_before) VALUES (0, ?1)");
        mark.bind(1, end);
        result = mark.prepared() == SQLITE_OK ? mark.step() : sqlite().errcode(db_);
        if (result != SQLITE_DONE) {
            return failed(result);
        }
    }
    if (result = sqlite().exec(db_, "COMMIT", nullptr, nullptr, nullptr); result != SQLITE_OK) {
        return failed(result);
    }
    round.deleted = round.deleted || deleted;
    if (dropping) {
        round.dropped = end == to;
    } else {
        round.thinFrom = end;
    }
    return true;
}

std::vector<TimelineRow> UsageTimeline::rows(const std::string& account, const RowFilter& filter,
                                             Date since) {
    std::vector<TimelineRow> found;
    eachRow(account, filter, since, [&](const TimelineRow& row) { found.push_back(row); });
    return found;
}

namespace {

// One table's rows in time order, a row at a time.
class RowCursor {
public:
    RowCursor(sqlite3* db, const char* sql, const std::string& account, const RowFilter& filter,
              long long since)
        : select_(db, sql) {
        if (select_.prepared() == SQLITE_OK) {
            select_.bind(1, account)
                .bind(2, filter.window ? std::optional<long long>(minutes(*filter.window))
                                       : std::nullopt)
                .bind(3, since)
                .bind(4, filter.bucket);
            row_.account = account;
        }
    }
    int prepared() const { return select_.prepared(); }
    // The next row, skipping lengths no window has; SQLITE_ROW, SQLITE_DONE or a failure.
    int next() {
        while ((result_ = select_.step()) == SQLITE_ROW) {
            const auto which = quotaWindowFromMinutes(select_.integer(1));
            if (!which) {
                continue;
            }
            row_.observedAt = dateFromUnixSeconds(static_cast<double>(select_.integer(0)));
            row_.window = *which;
            row_.usedPercent = select_.real(2);
            row_.resetsAt =
                select_.isNull(3)
                    ? std::nullopt
                    : std::optional(dateFromUnixSeconds(static_cast<double>(select_.integer(3))));
            row_.plan = select_.isNull(4) ? std::nullopt : std::optional(select_.text(4));
            row_.bucket = select_.text(5);
            break;
        }
        return result_;
    }
    bool holds() const { return result_ == SQLITE_ROW; }
    int result() const { return result_; }
    const TimelineRow& row() const { return row_; }

private:
    Statement select_;
    TimelineRow row_;
    int result_ = SQLITE_DONE;
};

}  // namespace

bool UsageTimeline::eachRow(const std::string& account, const RowFilter& filter, Date since,
                            const std::function<void(const TimelineRow&)>& each) {
    if (!open()) {
        return false;
    }
    // The Codex bucket's and the others' come from two tables, merged as they are read.
    RowCursor codex(db_,
                    "SELECT observed_at, window, used_percent, resets_at, plan, 'codex'"
                    " FROM readings WHERE account = ?1 AND (?2 IS NULL OR window = ?2)"
                    " AND observed_at >= ?3 AND (?4 IS NULL OR ?4 = 'codex')"
                    " ORDER BY observed_at, window",
                    account, filter, unix(since));
    if (codex.prepared() != SQLITE_OK) {
        usable(sqlite().errcode(db_));
        return false;
    }
    // A file an older version made holds no other bucket's table until the engine opens it.
    std::optional<RowCursor> others;
    if (filter.bucket != "codex") {
        others.emplace(db_,
                       "SELECT observed_at, window, used_percent, resets_at, plan, bucket"
                       " FROM bucket_readings WHERE account = ?1 AND (?2 IS NULL OR window = ?2)"
                       " AND observed_at >= ?3 AND (?4 IS NULL OR bucket = ?4)"
                       " ORDER BY observed_at, bucket, window",
                       account, filter, unix(since));
        if (others->prepared() != SQLITE_OK) {
            const int failure = sqlite().errcode(db_);
            others.reset();
            if (hasTable("bucket_readings")) {
                usable(failure);
                return false;
            }
        }
    }
    codex.next();
    if (others) {
        others->next();
    }
    while (codex.holds() || (others && others->holds())) {
        const bool codexFirst =
            !others || !others->holds() ||
            (codex.holds() && codex.row().observedAt <= others->row().observedAt);
        RowCursor& from = codexFirst ? codex : *others;
        each(from.row());
        from.next();
    }
    return usable(codex.result()) && (!others || usable(others->result()));
}

bool UsageTimeline::hasTable(const char* name) {
    Statement find(db_, "SELECT 1 FROM sqlite_schema WHERE type = 'table' AND name = ?1");
    find.bind(1, std::string(name));
    return find.prepared() == SQLITE_OK && find.step() == SQLITE_ROW;
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
