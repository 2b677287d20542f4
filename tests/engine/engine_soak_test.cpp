// A month of the engine on the fake clock: a flaky Codex, a flaky receiver and the real state
// file, checked for resets counted once, bounded history and retries, and flat resources.

#include "engine.hpp"

#include "monitor_fakes.hpp"
#include "test_support.hpp"

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <tuple>
#include <utility>

#include <unistd.h>

namespace quotalume {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// Saves cost 0.6 ms (17 sanitised), so windows pass faster; QUOTALUME_SOAK_SCALE=1 is real time.
double soakScale() {
    const double preset = test::underAddressSanitizer ? 240 : 60;
    const char* text = std::getenv("QUOTALUME_SOAK_SCALE");
    const double scale = text != nullptr ? std::atof(text) : preset;
    return scale >= 1 ? scale : 1;
}

// Ids off the heap once reserved, so the test's bookkeeping never shows as the engine's growth.
using EventID = std::array<char, 40>;

EventID idOf(const std::string& id) {
    EventID out{};
    std::memcpy(out.data(), id.data(), std::min(id.size(), out.size() - 1));
    return out;
}

// Answers like the Codex child, as slowly, sometimes failing; shares climb until each reset.
class SoakCodex final : public CodexSource {
public:
    SoakCodex(MainLoop& loop, test::FakeClock& clock, double scale, std::uint32_t seed)
        : loop_(loop),
          clock_(clock),
          random_(seed),
          start_(unixSeconds(clock.now_)),
          fiveHours_(5 * 3600 / scale),
          week_(7 * 24 * 3600 / scale),
          weeklyOffset_((2.5 * 24 * 3600 + 1234) / scale) {}

    void fetch(const CodexConfiguration&, CodexClient::Depth,
               std::function<void(FetchResult)> done) override {
        std::erase_if(answers_, [](const Pending& pending) { return *pending.fired; });
        ++fetches;
        const std::uint32_t roll = random_() % 100;
        const std::uint32_t kind = random_() % 3;
        std::optional<LocalizedMessage> failure;
        milliseconds after(400 + random_() % 800);
        if (roll < 5) {
            const std::pair<const char*, milliseconds> kinds[] = {
                {"error.timeout", milliseconds(25'000)},
                {"error.server_exit", milliseconds(300)},
                {"error.response", milliseconds(800)}};
            failure = LocalizedMessage(kinds[kind].first);
            after = kinds[kind].second;
        }
        auto fired = std::make_shared<bool>(false);
        auto answer = [this, fired, failure = std::move(failure), done = std::move(done)] {
            *fired = true;
            FetchResult result = failure ? FetchResult(*failure) : FetchResult(reading());
            loop_.post([done, result = std::move(result)]() mutable { done(std::move(result)); });
        };
        answers_.push_back({loop_.startTimer(after, false, std::move(answer)), fired});
    }

    // Readings that found a newer window than the one before: each a reset to record.
    long long fiveHourWindowsSeen() const { return fiveHour_.changes; }
    long long weeklyWindowsSeen() const { return weekly_.changes; }

    long long fetches = 0;

private:
    struct Pending {
        std::unique_ptr<TimerHandle> timer;
        std::shared_ptr<bool> fired;
    };

    struct WindowIndex {
        std::optional<long long> current;
        long long changes = 0;
        void note(long long index) {
            changes += std::exchange(current, index).value_or(index) != index;
        }
    };

    UsageSnapshot reading() {
        const double now = unixSeconds(clock_.now_);
        const double intoFive = now - start_;
        // The weekly window is out of step with the five-hour one, as for a real account.
        const double intoWeek = now - start_ + weeklyOffset_;
        const auto five = static_cast<long long>(std::floor(intoFive / fiveHours_));
        const auto weekly = static_cast<long long>(std::floor(intoWeek / week_));
        fiveHour_.note(five);
        weekly_.note(weekly);
        // Whole percents, as Codex reports them; the start of a window reads 0 %.
        const double fiveUsed = std::floor(95 * (intoFive - five * fiveHours_) / fiveHours_);
        const double weekUsed = std::floor(80 * (intoWeek - weekly * week_) / week_);
        // Codex's reset times wobble by a second from one answer to the next.
        const double wobble = static_cast<double>(random_() % 2);
        RateBucket bucket{
            "codex",
            std::nullopt,
            RateWindow{fiveUsed, 300, std::round(start_ + (five + 1) * fiveHours_) + wobble},
            RateWindow{weekUsed, 10080, std::round(start_ - weeklyOffset_ + (weekly + 1) * week_)},
            std::string("pro"),
            std::nullopt};
        return UsageSnapshot{clock_.now_, UsageSnapshot::fingerprint("soak"), {bucket}};
    }

    MainLoop& loop_;
    test::FakeClock& clock_;
    std::mt19937 random_;
    double start_, fiveHours_, week_, weeklyOffset_;
    std::vector<Pending> answers_;
    WindowIndex fiveHour_, weekly_;
};

// Takes some sends, refuses some for good, asks for others again; counts attempts per event.
class SoakReceiver final : public WebhookPort {
public:
    SoakReceiver(MainLoop& loop, std::uint32_t seed) : loop_(loop), random_(seed) {
        events_.reserve(512);
    }

    void send(const Announcement& announcement, const WebhookConfiguration&, bool isTest,
              std::function<void(WebhookResult)> done) override {
        EXPECT_FALSE(isTest);
        const EventID id = idOf(announcementId(announcement));
        auto entry = std::find_if(events_.begin(), events_.end(),
                                  [&](const Entry& known) { return known.id == id; });
        if (entry == events_.end()) {
            EXPECT_LT(events_.size(), events_.capacity()) << "the reserve is too small";
            entry = events_.insert(entry, Entry{id});
        }
        entry->attempts += 1;
        repeatedAfterEnd += entry->delivered || entry->refused;
        const std::uint32_t roll = random_() % 100;
        WebhookResult result;
        if (roll < 20) {
            result = WebhookFailure{LocalizedMessage("error.webhook_http", {"503"}), true};
        } else if (roll < 30) {
            result = WebhookFailure{LocalizedMessage("error.webhook_network"), true};
        } else if (roll < 40) {
            result = WebhookFailure{LocalizedMessage("error.webhook_http", {"400"}), false};
        }
        entry->refused |= roll >= 30 && roll < 40;
        entry->delivered |= roll >= 40;
        loop_.post([done = std::move(done), result = std::move(result)]() mutable {
            done(std::move(result));
        });
    }

    struct Entry {
        EventID id;
        int attempts = 0;
        bool delivered = false;
        bool refused = false;
    };
    const std::vector<Entry>& events() const { return events_; }
    long long repeatedAfterEnd = 0;

private:
    MainLoop& loop_;
    std::mt19937 random_;
    std::vector<Entry> events_;
};

// Notifications on and allowed; counts posts per event, resets apart from warnings.
class CountingCenter final : public NotificationCenter {
public:
    explicit CountingCenter(MainLoop& loop) : loop_(loop) {
        posted.reserve(512);
        warned.reserve(2048);
    }

    void authorization(std::function<void(NotificationAuthorization)> done) override {
        loop_.post([done = std::move(done)] { done(NotificationAuthorization::authorized); });
    }
    void requestAuthorization(std::function<void()> done) override { loop_.post(std::move(done)); }
    void post(const NotificationRequest& request,
              std::function<void(std::optional<LocalizedMessage>)> done) override {
        auto& list = request.title == ResetEvent::test({}).notificationTitle() ? posted : warned;
        EXPECT_LT(list.size(), list.capacity()) << "the reserve is too small";
        list.push_back(idOf(request.identifier));
        loop_.post([done = std::move(done)] { done(std::nullopt); });
    }
    void openSettings() override {}
    bool canOpenSettings() const override { return false; }

    std::vector<EventID> posted;
    std::vector<EventID> warned;

private:
    MainLoop& loop_;
};

TEST(MonitorSoakTest, AMonthOfFlakyReadsAndDeliveriesStaysExactAndFlat) {
    test::InterfaceLanguage english;
    // Real files in memory where possible: the soak is about the engine, not this disk's syncs.
    std::optional<test::ScopedEnvironment> inMemory;
    if (std::filesystem::is_directory("/dev/shm") && ::access("/dev/shm", W_OK) == 0) {
        inMemory.emplace("TMPDIR", "/dev/shm");
    }
    test::TempDir dir;
    test::FakeClock clock;
    test::ManualLoop loop{clock};
    const double scale = soakScale();
    SoakCodex codex{loop, clock, scale, 20240611};
    SoakReceiver receiver{loop, 7};
    CountingCenter center{loop};
    test::FakeLoginItems loginItems;
    test::FakeSignals signals;
    test::FakeEngine engine;
    MemoryPreferencesStore preferences;
    Settings{.refreshInterval = 15}.save(preferences);  // the shortest the schedule allows

    Engine monitor(EnginePorts{loop, clock, codex, receiver, center, loginItems, signals,
                               preferences, engine, dir.path() / "data"},
                   false);
    std::size_t mostTimers = 0;
    auto watch = monitor.subscribe([&] { mostTimers = std::max(mostTimers, loop.activeTimers()); });
    monitor.start();
    ASSERT_TRUE(
        monitor.saveWebhook({"http://127.0.0.1:9/hook", WebhookFormat::json, "", ""}, true));

    const auto hour = milliseconds(std::llround(3'600'000 / scale));
    std::size_t heapAtDay2 = 0, heapWithFullHistory = 0;
    int descriptorsAtDay2 = 0;
    std::size_t recordsAtDay2 = 0;
    for (int hours = 1; hours <= 30 * 24; ++hours) {
        loop.advance(hour);
        if (hours == 2 * 24) {
            heapAtDay2 = test::liveHeapBytes();
            descriptorsAtDay2 = test::openDescriptorCount();
            recordsAtDay2 = monitor.records().size();
        }
        if (heapWithFullHistory == 0 && monitor.records().size() == MonitorState::maximumRecords) {
            // Past the last legitimate growth: from here on nothing may accumulate at all.
            loop.advance(hour);
            heapWithFullHistory = test::liveHeapBytes();
        }
    }
    const std::size_t heapAtEnd = test::liveHeapBytes();
    std::printf("scale %g: %lld fetches, %zu resets, heap %zu (day 2) %zu (full) %zu (end)\n",
                scale, codex.fetches, center.posted.size(), heapAtDay2, heapWithFullHistory,
                heapAtEnd);

    // Every reset once: one notification each, as many as windows the readings moved through.
    const long long resets = codex.fiveHourWindowsSeen() + codex.weeklyWindowsSeen();
    EXPECT_GE(codex.fiveHourWindowsSeen(), 140);
    EXPECT_EQ(codex.weeklyWindowsSeen(), 4);
    EXPECT_EQ(static_cast<long long>(center.posted.size()), resets);
    std::set<EventID> distinct(center.posted.begin(), center.posted.end());
    EXPECT_EQ(distinct.size(), center.posted.size()) << "a reset announced twice";
    // Early warnings beside them, each announced once.
    std::set<EventID> warnings(center.warned.begin(), center.warned.end());
    EXPECT_EQ(warnings.size(), center.warned.size()) << "a warning announced twice";
    EXPECT_GT(warnings.size(), MonitorState::maximumWarnings);
    EXPECT_EQ(monitor.limitWarnings().size(), MonitorState::maximumWarnings);
    // A warning given again would have a new id: what it warns of must differ instead.
    std::set<std::tuple<WarningReason, std::optional<QuotaWindow>, std::int64_t, std::int64_t>>
        warnedOf;
    for (const WarningRecord& record : monitor.limitWarnings()) {
        const auto& w = record.event;
        warnedOf.insert(
            {w.reason, w.window,
             w.resetAt ? std::chrono::round<std::chrono::minutes>(*w.resetAt - clock.now_).count()
                       : 0,
             w.levelPercent.value_or(0)});
    }
    EXPECT_EQ(warnedOf.size(), monitor.limitWarnings().size()) << "one occurrence warned twice";

    // The history: the newest 100, each announced, and distinct in what it describes.
    const auto& records = monitor.records();
    ASSERT_EQ(records.size(), MonitorState::maximumRecords);
    // Reset times wobble by a second; whole minutes of the fake clock tell windows apart.
    std::set<std::pair<QuotaWindow, std::int64_t>> windows;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const EventRecord& record = records[i];
        EXPECT_EQ(record.id(), std::string(center.posted[center.posted.size() - 1 - i].data()))
            << "newest first, and only the newest";
        ASSERT_TRUE(record.event.nextResetAt);
        windows.insert({record.event.window, std::chrono::round<std::chrono::minutes>(
                                                 *record.event.nextResetAt - clock.now_)
                                                 .count()});
        EXPECT_FALSE(record.localPending);
        EXPECT_LE(record.webhookAttempts, Engine::attemptLimit);
    }
    EXPECT_EQ(windows.size(), records.size()) << "one window recorded twice";
    const auto stored = StateStore(dir.path() / "data").load().state.records;
    ASSERT_EQ(stored.size(), records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(stored[i].id(), records[i].id()) << "on disk";
        EXPECT_EQ(stored[i].webhookStatus, records[i].webhookStatus);
        EXPECT_EQ(stored[i].webhookAttempts, records[i].webhookAttempts);
    }

    // Deliveries: at most three attempts, none after delivery or a final refusal.
    EXPECT_EQ(static_cast<long long>(receiver.events().size()), resets);
    for (const auto& event : receiver.events()) {
        EXPECT_LE(event.attempts, Engine::attemptLimit) << event.id.data();
    }
    EXPECT_EQ(receiver.repeatedAfterEnd, 0);

    // Flat once the history is full; since day 2, no more than the history's own growth and
    // the usage timeline's page cache filling up to its bound (128 KiB of pages with headers).
    EXPECT_EQ(test::openDescriptorCount(), descriptorsAtDay2);
    EXPECT_LE(mostTimers, 4u) << "clock, delivery, refresh and one answer in flight";
    const auto growth = [](std::size_t from, std::size_t to) {
        return static_cast<long long>(to) - static_cast<long long>(from);
    };
    EXPECT_LE(growth(heapWithFullHistory, heapAtEnd), 16 * 1024);
    const auto historyGrowth = (records.size() - recordsAtDay2) * 1536;  // a record: ~1.2 KiB
    const long long pageCache = 192 * 1024;
    EXPECT_LE(growth(heapAtDay2, heapAtEnd),
              static_cast<long long>(historyGrowth) + pageCache + 16 * 1024);
}

}  // namespace
}  // namespace quotalume
