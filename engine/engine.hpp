#pragma once

#include "announcer.hpp"
#include "engine_reading.hpp"
#include "local_notifier.hpp"
#include "metrics_export.hpp"
#include "observers.hpp"
#include "ports.hpp"
#include "preferences_model.hpp"
#include "read_queue.hpp"
#include "reading_loop.hpp"
#include "setup.hpp"
#include "state_keeper.hpp"
#include "timeline_keeper.hpp"

#include <quotalume/preferences/preferences_store.hpp>
#include <quotalume/preferences/settings.hpp>
#include <quotalume/usage/usage_timeline.hpp>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace quotalume {

// Everything the engine reaches the world through; each must outlive it.
struct EnginePorts {
    MainLoop& loop;
    WallClock& clock;
    CodexSource& codex;
    WebhookPort& webhooks;
    NotificationCenter& notifications;
    LoginItemService& loginItems;
    SystemSignals& signals;
    PreferencesStore& preferences;
    EngineGuard& engine;
    std::filesystem::path dataDirectory;                       // holds state.json and webhook.json
    FileOperations fileOperations = FileOperations::system();  // for both files
};

// The engine: reads the limits on a schedule, records each reset once, keeps the history on
// disk and announces every reset by notification and webhook, saving each in-flight status
// before anything leaves the machine. Lives on the main loop; never blocks it.
//
// It coordinates its rooms — preferences, state, readings, timeline, announcer, setup — and
// publishes one reading per change for every view. Only while it holds the engine lock does it
// detect, record, save or announce anything; without it, it reads and shows the limits, says
// why, and asks again at every refresh.
class Engine : private AnnouncerHost {
public:
    static constexpr std::int64_t attemptLimit = Announcer::attemptLimit;

    Engine(EnginePorts ports, bool demo);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // `changed` runs after every published change, on the main loop.
    std::unique_ptr<Subscription> subscribe(std::function<void()> changed) {
        return observers_.add(std::move(changed));
    }

    void start();
    void stop();

    // Operations; the asynchronous ones start their work and return.
    void refresh();
    // A view that shows everything opened: a full reading, unless one was just taken.
    void viewOpened();
    // Checks the source as Save and Connect does, stores it and reads with it at once.
    void saveAndConnect(std::string_view executablePath, std::string_view homePath);
    void deliverPending() { announcer_.deliverPending(); }
    void testWebhook(const WebhookConfiguration& configuration);
    void testNotification();
    bool saveWebhook(const WebhookConfiguration& configuration, bool enabled) {
        return setup_.saveWebhook(configuration, enabled);
    }
    WebhookConfiguration loadWebhook() { return setup_.loadWebhook(); }
    void setLaunchAtLogin(bool enabled) { setup_.setLaunchAtLogin(enabled); }
    // A window that shows the time (countdowns, "updated …") is open: the clock ticks every
    // second only then. With it closed nothing ticks; the figures go stale on a timer of their
    // own, and deliveries wake the engine only when something is due.
    void showClock(bool shown);
    // Reads every `interval` instead of on the schedule; for tests of the whole application,
    // which cannot wait out the schedule's 15-second minimum.
    void overrideRefreshInterval(Duration interval);

    // The rooms, for what they publish. Preferences change only through theirs; a change of
    // source, interval, warnings or look is taken up at once.
    PreferencesModel& preferences() { return preferences_; }
    const PreferencesModel& preferences() const { return preferences_; }
    const Settings& settings() const { return preferences_.settings(); }
    const ReadingLoop& readings() const { return readings_; }
    // The other sources' reading rooms, in the sources' order after the first.
    const std::vector<std::unique_ptr<ReadingLoop>>& otherReadings() const { return others_; }
    const Setup& setup() const { return setup_; }
    LocalNotifier& notifier() { return notifier_; }

    bool demo() const { return demo_; }
    // The last reading; in demo mode the made-up one, which is never part of the state.
    const std::optional<UsageSnapshot>& snapshot() const {
        return demo_ ? demoSnapshot_ : keeper_.state().snapshot;
    }
    const std::vector<EventRecord>& records() const { return keeper_.state().records; }
    const std::vector<WarningRecord>& limitWarnings() const { return keeper_.state().warnings; }
    // Recorded, announced by no one: other buckets' and other window lengths'.
    const std::vector<EventRecord>& otherRecords() const { return keeper_.state().otherRecords; }
    const std::vector<WarningRecord>& otherWarnings() const {
        return keeper_.state().otherWarnings;
    }
    // The readings kept of the window's current occurrence, oldest first, for its chart; read
    // once a reading.
    const std::vector<UsagePoint>& series(QuotaWindow window) { return series(snapshot(), window); }
    // The same of any source's reading.
    const std::vector<UsagePoint>& series(const std::optional<UsageSnapshot>& reading,
                                          QuotaWindow window);
    bool isRefreshing() const;
    const std::optional<LocalizedMessage>& lastError() const { return readings_.lastError(); }
    // A history that cannot be saved outranks settings that cannot.
    std::optional<LocalizedMessage> persistenceWarning() const {
        return keeper_.persistenceWarning() ? keeper_.persistenceWarning() : preferences_.warning();
    }
    // Every standing warning, the most pressing first: a history that cannot be saved or read,
    // no right to be the engine, a webhook configuration that cannot be used while the webhook
    // is on, preferences that cannot be read or written, metrics that cannot be offered.
    std::vector<LocalizedMessage> warnings() const;
    bool holdsEngine() const { return keeper_.holdsEngine(); }
    Date now() const { return now_; }
    bool isDelivering() const { return announcer_.isDelivering(); }
    const MetricsExport& metrics() const { return metrics_; }

    // The one reading every view renders (the tray, the dashboard, the socket, watch): worked
    // out once per published change, when first asked for.
    const EngineReading& reading() const;
    // Figures older than this are stale: two readings missed, and never under 90 seconds.
    static Duration staleAfter(const Settings& settings);

private:
    // What the announcer needs of us.
    bool mayAnnounce() const override { return !demo_ && keeper_.holdsEngine(); }
    bool mayWake() const override {
        return !demo_ && started_ && !stopped_ && keeper_.holdsEngine();
    }
    bool saveState() override {
        keeper_.persist();
        return keeper_.saved();
    }
    bool stateOnDisk() const override { return keeper_.saved(); }
    void published() override { publish(); }
    std::vector<Ledger> ledgers() override;

    void publish();
    void readingMoved();  // a reading began, ended or was scheduled
    void beforeReading();
    void preferencesChanged(std::span<const std::string_view> keys);
    bool isStale() const { return isStale(snapshot(), lastError().has_value()); }
    bool isStale(const std::optional<UsageSnapshot>& reading, bool failed) const;
    // One reading room per source after the first, each reading in its turn.
    void placeSources();
    EngineReading sourceReading(const ReadingLoop& loop) const;
    ReadingLoop::Rooms roomsOf(std::size_t source, AccountSource placed = {});
    std::optional<std::string> readBefore(const UsageSnapshot& reading, std::size_t place) const;
    void tick();  // the time moved on: shown again at the current moment
    // The reading goes to Prometheus as the preferences ask, while we are the engine.
    void exportMetrics();
    void armStaleness();
    template <typename Work>
    void later(Work work);

    MainLoop& loop_;
    WallClock& clock_;
    SystemSignals& signals_;
    const bool demo_;
    Observers<> observers_;
    PreferencesModel preferences_;
    StateKeeper keeper_;
    std::filesystem::path dataDirectory_;
    TimelineKeeper timeline_;
    Receiver receiver_;
    LocalNotifier notifier_;
    Announcer announcer_;
    ReadQueue queue_;
    ReadingLoop readings_;
    std::vector<std::unique_ptr<ReadingLoop>> others_;
    std::optional<Duration> overriddenInterval_;
    Setup setup_;
    MetricsExport metrics_;
    bool metricsDue_ = false;  // an export is on its way
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);

    std::optional<UsageSnapshot> demoSnapshot_;
    Date now_;
    bool started_ = false;
    bool stopped_ = false;
    bool clockShown_ = false;
    std::unique_ptr<TimerHandle> clockTimer_;
    std::unique_ptr<TimerHandle> staleTimer_;
    mutable std::optional<EngineReading> reading_;  // of the last published change
    std::unique_ptr<Subscription> preferencesObservation_;
    std::vector<std::unique_ptr<Subscription>> observations_;
    std::unique_ptr<Subscription> localeObservation_;
};

}  // namespace quotalume
