#pragma once

#include "announcer.hpp"
#include "engine_reading.hpp"
#include "local_notifier.hpp"
#include "monitor_state.hpp"
#include "ports.hpp"
#include "task.hpp"
#include "timeline_keeper.hpp"

#include <quotalume/limit_state.hpp>
#include <quotalume/limit_warning.hpp>
#include <quotalume/menu_bar_style.hpp>
#include <quotalume/preferences_store.hpp>
#include <quotalume/quota_window.hpp>
#include <quotalume/rate_limits.hpp>
#include <quotalume/settings.hpp>
#include <quotalume/source_connection_feedback.hpp>
#include <quotalume/usage_forecast.hpp>
#include <quotalume/usage_timeline.hpp>
#include <quotalume/webhook_configuration.hpp>
#include <quotalume/webhook_configuration_store.hpp>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quotalume {

// Everything the monitor reaches the world through; each must outlive it.
struct MonitorPorts {
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
// Only while it holds the engine guard does it detect, record, save or announce anything;
// without it, it reads and shows the limits, says why, and asks again at every refresh.
class UsageMonitor : private AnnouncerHost {
public:
    static constexpr std::int64_t attemptLimit = Announcer::attemptLimit;

    UsageMonitor(MonitorPorts ports, bool demo);
    ~UsageMonitor();
    UsageMonitor(const UsageMonitor&) = delete;
    UsageMonitor& operator=(const UsageMonitor&) = delete;

    // `changed` runs after every published change, on the main loop.
    std::unique_ptr<Subscription> subscribe(std::function<void()> changed);

    void start();
    void stop();

    // Operations; the asynchronous ones start their work and return.
    void refresh();
    void scheduleNextRefresh();
    void updateSettings(const Settings& next);
    void saveAndConnect(std::string_view executablePath, std::string_view homePath);
    void setMenuBarStyle(MenuBarStyle style);
    void setMenuBarScope(MenuBarScope scope);
    // Stored at once; a receiver whose warnings are switched off gets none of those still owed.
    void setWarningPreferences(const WarningPreferences& preferences);
    // Takes up what another process changed in our preferences (quotalume-cli config), as if
    // chosen here: a new Codex source is read at once.
    void reloadPreferences();
    void deliverPending();
    void testWebhook(const WebhookConfiguration& configuration);
    void testNotification();
    bool saveWebhook(const WebhookConfiguration& configuration, bool enabled);
    WebhookConfiguration loadWebhook();
    void setLaunchAtLogin(bool enabled);
    // A window that shows the time (countdowns, "updated …") is open: the clock ticks every
    // second only then. With it closed nothing ticks; the figures go stale on a timer of their
    // own, and deliveries wake the engine only when something is due.
    void showClock(bool shown);
    // Reads every `interval` instead of on the schedule; for tests of the whole application,
    // which cannot wait out the schedule's 15-second minimum.
    void overrideRefreshInterval(Duration interval) { refreshOverride_ = interval; }

    // Published values.
    bool demo() const { return demo_; }
    const Settings& settings() const { return settings_; }
    MenuBarStyle menuBarStyle() const { return menuBarStyle_; }
    MenuBarScope menuBarScope() const { return menuBarScope_; }
    // The last reading; in demo mode the made-up one, which is never part of the state.
    const std::optional<UsageSnapshot>& snapshot() const {
        return demo_ ? demoSnapshot_ : state_.snapshot;
    }
    const std::vector<EventRecord>& records() const { return state_.records; }
    const std::vector<WarningRecord>& limitWarnings() const { return state_.warnings; }
    const WarningPreferences& warningPreferences() const { return warningPreferences_; }
    // Each window's forecast from the stored readings, for the windows that have one.
    const std::map<QuotaWindow, UsageForecast>& forecasts() const { return timeline_.forecasts(); }
    // The readings kept of the window's current occurrence, oldest first, for its chart; read
    // once a reading.
    const std::vector<UsagePoint>& series(QuotaWindow window);
    bool isRefreshing() const { return isRefreshing_; }
    const std::optional<LocalizedMessage>& lastError() const { return lastError_; }
    const SourceConnectionFeedback& sourceConnection() const { return sourceConnection_; }
    // A history that cannot be saved outranks settings that cannot.
    std::optional<LocalizedMessage> persistenceWarning() const {
        return persistenceWarning_ ? persistenceWarning_ : preferencesWarning_;
    }
    // Every standing warning, the most pressing first: a history that cannot be saved or read,
    // no right to be the engine, a webhook configuration that cannot be used while the webhook
    // is on, preferences that cannot be read or written.
    std::vector<LocalizedMessage> warnings() const;
    bool holdsEngine() const { return engineHeld_; }
    const std::optional<Date>& nextRefreshAt() const { return nextRefreshAt_; }
    Date now() const { return now_; }
    bool isTestingWebhook() const { return isTestingWebhook_; }
    const std::optional<LocalizedMessage>& webhookFeedback() const { return webhookFeedback_; }
    const std::optional<LocalizedMessage>& notificationFeedback() const {
        return notificationFeedback_;
    }
    const std::optional<LocalizedMessage>& loginItemFeedback() const { return loginItemFeedback_; }
    bool loginItemEnabled() const { return loginItemEnabled_; }
    LocalNotifier& notifier() { return notifier_; }
    long long failures() const { return failures_; }
    bool isDelivering() const { return announcer_.isDelivering(); }

    // The one reading every view renders (the tray, the dashboard, the socket, watch): worked
    // out once per published change, when first asked for.
    const EngineReading& reading() const;
    // Figures older than this are stale: two readings missed, and never under 90 seconds.
    static Duration staleAfter(const Settings& settings);

private:
    class Observers;

    // What the announcer needs of us.
    bool mayAnnounce() const override { return !demo_ && engineHeld_; }
    bool mayWake() const override { return !demo_ && started_ && !stopped_ && engineHeld_; }
    bool saveState() override {
        persist();
        return stateSaved_;
    }
    bool stateOnDisk() const override { return stateSaved_; }
    void published() override { publish(); }

    Task runRefresh();
    Task runTestWebhook(WebhookConfiguration configuration);
    Task runTestNotification();
    Task runFirstStart();

    void publish();
    bool isStale() const;
    void tick();  // the time moved on: shown again at the current moment
    void persist();
    void persistReading(bool recorded);
    void keepReading();
    void openTimeline();
    void armStaleness();
    bool claimEngine();
    void takeOver();
    bool keepUnreadableAside();
    void recordEvents(std::vector<ResetEvent> events);
    bool recordWarnings(const std::optional<UsageSnapshot>& previous);
    void adoptAccount(UsageSnapshot& reading);
    void loadWebhookConfiguration();
    Answer<FetchResult> fetch(CodexConfiguration configuration);
    Answer<Done> requestAuthorization();
    Answer<Done> refreshPermission();
    template <typename Work>
    void later(Work work);
    template <typename Appearance>
    void setAppearance(Appearance& published, Appearance value);
    template <typename Write>
    void writePreferences(Write write);

    MainLoop& loop_;
    WallClock& clock_;
    CodexSource& codex_;
    WebhookPort& webhooks_;
    NotificationCenter& notifications_;
    LoginItemService& loginItems_;
    SystemSignals& signals_;
    PreferencesStore& preferences_;
    EngineGuard& engine_;
    StateStore store_;
    std::filesystem::path dataDirectory_;
    WebhookConfigurationStore webhookStore_;
    std::unique_ptr<Observers> observers_;
    LocalNotifier notifier_;
    Announcer announcer_;
    const bool demo_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);

    Settings settings_;
    WarningPreferences warningPreferences_;
    MenuBarStyle menuBarStyle_ = MenuBarStyle::percentage;
    MenuBarScope menuBarScope_ = MenuBarScope::both;
    MonitorState state_;
    std::optional<UsageSnapshot> demoSnapshot_;
    bool isRefreshing_ = false;
    std::optional<LocalizedMessage> lastError_;
    SourceConnectionFeedback sourceConnection_;
    std::optional<LocalizedMessage> persistenceWarning_;
    std::optional<LocalizedMessage> preferencesWarning_;
    std::optional<LocalizedMessage> engineWarning_;
    std::optional<LocalizedMessage> stateNotice_;     // where an unreadable history was kept
    std::optional<LocalizedMessage> webhookWarning_;  // the configuration could not be used
    std::optional<Date> nextRefreshAt_;
    Date now_;
    bool isTestingWebhook_ = false;
    std::optional<LocalizedMessage> webhookFeedback_;
    std::optional<LocalizedMessage> notificationFeedback_;
    std::optional<LocalizedMessage> loginItemFeedback_;
    bool loginItemEnabled_ = false;

    long long failures_ = 0;
    long long settingsRevision_ = 0;
    bool stateSaved_ = true;
    bool engineHeld_ = false;
    bool unreadableInPlace_ = false;  // a state file nobody could read, not yet kept aside
    std::optional<Duration> refreshOverride_;
    bool stopped_ = false;
    std::optional<WebhookConfiguration> webhookConfiguration_;
    std::unique_ptr<TimerHandle> refreshTimer_;
    std::unique_ptr<TimerHandle> clockTimer_;
    std::unique_ptr<TimerHandle> staleTimer_;
    bool started_ = false;
    bool clockShown_ = false;
    std::optional<MonitorState> saved_;  // the reading the state file holds, without records
    TimelineKeeper timeline_;
    mutable std::optional<EngineReading> reading_;  // of the last published change
    Date savedAt_;
    std::vector<std::unique_ptr<Subscription>> observations_;
    std::unique_ptr<Subscription> localeObservation_;
};

}  // namespace quotalume
