#include "usage_monitor.hpp"

#include <quotalume/codex_locator.hpp>
#include <quotalume/demo_snapshot.hpp>
#include <quotalume/l10n.hpp>
#include <quotalume/menu_bar_presentation.hpp>
#include <quotalume/quotalume_error.hpp>
#include <quotalume/refresh_schedule.hpp>
#include <quotalume/text.hpp>

#include <algorithm>
#include <chrono>
#include <exception>
#include <map>
#include <system_error>

namespace quotalume {
namespace {

using std::chrono::duration;
using std::chrono::duration_cast;
using std::chrono::seconds;

constexpr Duration clockPeriod = seconds(1);
// A reading that changes nothing a restart needs is still written this often, so the stored
// one is never older.
constexpr Duration savedReadingAge = std::chrono::minutes(15);

LocalizedMessage message(const char* key) {
    return LocalizedMessage(key);
}

// The history of one account or source goes when another's begins, but not what it still owes.
// Warnings stay: they say what was warned of already, and another account's never match.
void dropSettled(MonitorState& state) {
    std::erase_if(state.records, [](const EventRecord& record) {
        return !record.localPending && !record.webhookPending;
    });
}

}  // namespace

// Subscribers to published changes. A subscription may end at any time, even while the
// monitor is telling its subscribers, and may outlive the monitor.
class UsageMonitor::Observers {
public:
    std::unique_ptr<Subscription> add(std::function<void()> changed) {
        const long long id = nextID_++;
        list_->emplace(id, std::move(changed));
        return std::make_unique<Handle>(list_, id);
    }

    void notify() const {
        // Copies of the list and of its entries: subscribers may come and go while they are
        // told, and one of them may even destroy the monitor and these observers with it.
        const std::shared_ptr<List> list = list_;
        const List current = *list;
        for (const auto& [id, changed] : current) {
            if (list->contains(id)) {
                changed();
            }
        }
    }

private:
    using List = std::map<long long, std::function<void()>>;

    class Handle final : public Subscription {
    public:
        Handle(std::weak_ptr<List> list, long long id) : list_(std::move(list)), id_(id) {}
        ~Handle() override {
            if (auto list = list_.lock()) {
                list->erase(id_);
            }
        }

    private:
        std::weak_ptr<List> list_;
        long long id_;
    };

    std::shared_ptr<List> list_ = std::make_shared<List>();
    long long nextID_ = 0;
};

UsageMonitor::UsageMonitor(MonitorPorts ports, bool demo)
    : loop_(ports.loop),
      clock_(ports.clock),
      codex_(ports.codex),
      webhooks_(ports.webhooks),
      notifications_(ports.notifications),
      loginItems_(ports.loginItems),
      signals_(ports.signals),
      preferences_(ports.preferences),
      engine_(ports.engine),
      store_(ports.dataDirectory, ports.fileOperations),
      dataDirectory_(ports.dataDirectory),
      webhookStore_(ports.dataDirectory, ports.fileOperations),
      observers_(std::make_unique<Observers>()),
      notifier_(ports.notifications, [this] { publish(); }),
      announcer_(
          ports.loop, ports.clock, ports.webhooks, notifier_,
          {*this, state_, settings_, warningPreferences_, webhookConfiguration_, webhookWarning_}),
      demo_(demo),
      now_(ports.clock.now()) {
    // The look is the user's even in demonstration, which shows what the tray would show.
    menuBarStyle_ = loadMenuBarStyle(preferences_);
    menuBarScope_ = loadMenuBarScope(preferences_);
    if (demo_) {
        // Nothing else of the user's is read: default settings, a fresh state, made-up figures.
        demoSnapshot_ = demoSnapshot(now_);
        return;
    }
    settings_ = Settings::load(preferences_);
    warningPreferences_ = WarningPreferences::load(preferences_);
    if (auto unreadable = preferences_.unreadableFile()) {
        preferencesWarning_ =
            LocalizedMessage("error.preferences_unreadable", {unreadable->string()});
    }
    if (!claimEngine()) {
        // Only shown: an unreadable file is the holder's to keep aside, not ours.
        LoadedState loaded = store_.load();
        state_ = std::move(loaded.state);
        persistenceWarning_ = std::move(loaded.warning);
    }
    openTimeline();
}

void UsageMonitor::openTimeline() {
    timeline_.open(dataDirectory_, engineHeld_);
}

UsageMonitor::~UsageMonitor() {
    alive_.reset();  // whatever answers from now on finds the monitor gone
    stop();
}

std::unique_ptr<Subscription> UsageMonitor::subscribe(std::function<void()> changed) {
    return observers_->add(std::move(changed));
}

void UsageMonitor::publish() {
    reading_.reset();
    observers_->notify();
}

const EngineReading& UsageMonitor::reading() const {
    if (!reading_) {
        reading_ = EngineReading{.snapshot = snapshot(),
                                 .stale = lastError_.has_value() || isStale(),
                                 .demo = demo_,
                                 .refreshing = isRefreshing_,
                                 .error = lastError_,
                                 .warnings = warnings(),
                                 .scope = menuBarScope_,
                                 .forecasts = timeline_.forecasts()};
    }
    return *reading_;
}

template <typename Work>
void UsageMonitor::later(Work work) {
    loop_.post([alive = std::weak_ptr<int>(alive_), work = std::move(work)]() mutable {
        if (!alive.expired()) {
            work();
        }
    });
}

void UsageMonitor::start() {
    localeObservation_ = signals_.onLocaleChange([this] { publish(); });
    loginItemEnabled_ = loginItems_.status() == LoginItemStatus::enabled;
    started_ = true;
    showClock(clockShown_);
    notifier_.refreshPermission();
    if (!demo_) {
        if (settings_.webhookEnabled) {
            loadWebhookConfiguration();
        }
        observations_.push_back(signals_.onWake([this] { refresh(); }));
        announcer_.arm();
        armStaleness();
        runFirstStart();
    }
    publish();
}

void UsageMonitor::showClock(bool shown) {
    clockShown_ = shown;
    clockTimer_.reset();
    if (!shown || !started_ || stopped_) {
        return;
    }
    clockTimer_ = loop_.startTimer(clockPeriod, true, [this] { tick(); });
    tick();
}

void UsageMonitor::tick() {
    now_ = clock_.now();
    publish();
}

void UsageMonitor::armStaleness() {
    staleTimer_.reset();
    if (demo_ || stopped_ || !state_.snapshot || isStale()) {
        return;
    }
    // The moment isStale() turns true, so the badge shows on time with no clock ticking.
    const Date when = state_.snapshot->observedAt + staleAfter(settings_) + Duration(1);
    const Duration wait = std::max(Duration(0), duration_cast<Duration>(when - clock_.now()));
    staleTimer_ = loop_.startTimer(wait, false, [this] { tick(); });
}

void UsageMonitor::stop() {
    stopped_ = true;  // a refresh still running must not arm a new timer
    refreshTimer_.reset();
    clockTimer_.reset();
    announcer_.disarm();
    staleTimer_.reset();
    observations_.clear();
    localeObservation_.reset();
    // A last try if the disk refused the state, and the latest reading if one was skipped, so
    // the next start compares against it.
    if (!stateSaved_ ||
        (saved_ && (saved_->snapshot != state_.snapshot || saved_->detector != state_.detector))) {
        persist();
    }
}

void UsageMonitor::persistReading(bool recorded) {
    // A reading that changes nothing a restart needs is not worth a write (and an fsync) every
    // few seconds: only its time would change on disk. It is written at least this often all
    // the same.
    if (!recorded && stateSaved_ && saved_ && saved_->restartsAlike(state_) &&
        clock_.now() - savedAt_ < savedReadingAge) {
        return;
    }
    persist();
}

bool UsageMonitor::claimEngine() {
    if (demo_) {
        return false;
    }
    if (engineHeld_) {
        (void)engine_.claim();  // held until we go; this only puts a deleted lock file back
        return true;
    }
    engineWarning_ = engine_.claim();
    if (engineWarning_) {
        return false;
    }
    engineHeld_ = true;
    takeOver();
    return true;
}

void UsageMonitor::takeOver() {
    // What an earlier holder left is ours now: its unfinished saves go, its history is read
    // afresh (it may have changed while we only watched).
    store_.removeLeftovers();
    if (timeline_.isOpen()) {
        openTimeline();  // the view's read-only one becomes the engine's
    }
    LoadedState loaded = store_.load();
    state_ = std::move(loaded.state);
    persistenceWarning_ = std::move(loaded.warning);
    unreadableInPlace_ = loaded.unreadable;
    keepUnreadableAside();
    // A holder that ended while the server had a notification cannot know whether it was shown.
    auto unconfirmed = [](Delivery& record) {
        if (record.localStatus == message("notification.submitting")) {
            record.localStatus = message("notification.unconfirmed");
        }
    };
    std::for_each(state_.records.begin(), state_.records.end(), unconfirmed);
    std::for_each(state_.warnings.begin(), state_.warnings.end(), unconfirmed);
}

bool UsageMonitor::keepUnreadableAside() {
    if (!unreadableInPlace_) {
        return true;
    }
    try {
        if (auto kept = store_.keepUnreadable()) {
            stateNotice_ = LocalizedMessage("error.state_kept", {kept->string()});
        }
        unreadableInPlace_ = false;
        persistenceWarning_.reset();
        return true;
    } catch (const std::system_error& error) {
        // Never saved over: until it can be moved, nothing is recorded in its place.
        persistenceWarning_ = LocalizedMessage(
            "error.state_stuck", {store_.url().string(), std::to_string(error.code().value())});
        return false;
    }
}

void UsageMonitor::loadWebhookConfiguration() {
    try {
        webhookConfiguration_ = webhookStore_.loadForSending();
        webhookWarning_.reset();
    } catch (const std::exception& error) {
        webhookWarning_ = LocalizedMessage::from(error);
        webhookFeedback_ = webhookWarning_;
    }
}

Task UsageMonitor::runFirstStart() {
    refresh();
    auto permission = refreshPermission();
    co_await permission;
    // Asked at most once per start, and only of a user who has not answered yet.
    if (notifier_.authorization() == NotificationAuthorization::notDetermined &&
        settings_.notificationsEnabled) {
        auto asking = requestAuthorization();
        co_await asking;
        auto again = refreshPermission();
        co_await again;
    }
}

// ---- Refresh loop

void UsageMonitor::refresh() {
    runRefresh();
}

Task UsageMonitor::runRefresh() {
    // Refreshes never overlap: a request during one is dropped, not queued.
    if (demo_ || isRefreshing_) {
        co_return;
    }
    refreshTimer_.reset();
    isRefreshing_ = true;
    const long long revision = settingsRevision_;
    claimEngine();
    if (settings_.webhookEnabled && !webhookConfiguration_) {
        loadWebhookConfiguration();  // the user may have mended the file since
    }
    publish();

    // Awaited through named values throughout: GCC 12 mishandles temporaries that live across
    // a co_await.
    auto fetching =
        fetch({settings_.codexPath, settings_.codexHome, CodexConfiguration::defaultTimeout});
    FetchResult result = co_await fetching;

    // A result for a source the user has since replaced belongs to nobody.
    if (settingsRevision_ == revision) {
        bool recorded = false;
        if (auto* reading = std::get_if<UsageSnapshot>(&result)) {
            std::optional<UsageSnapshot> previous;
            if (engineHeld_) {
                adoptAccount(*reading);
                std::vector<ResetEvent> events = state_.detector.observe(*reading);
                recorded = !events.empty();
                if (state_.snapshot &&
                    state_.snapshot->accountFingerprint == reading->accountFingerprint) {
                    previous = std::move(state_.snapshot);
                }
                state_.snapshot = std::move(*reading);
                recordEvents(std::move(events));
            } else {
                reading->legacyFingerprint.reset();
                state_.snapshot = std::move(*reading);  // shown, never saved
                // The engine's history as it stands, for the view; an unreadable one is the
                // engine's to keep aside.
                if (LoadedState loaded = store_.load(); !loaded.unreadable) {
                    state_.records = std::move(loaded.state.records);
                    state_.warnings = std::move(loaded.state.warnings);
                }
            }
            lastError_.reset();
            sourceConnection_.complete(revision, std::nullopt);
            failures_ = 0;
            keepReading();
            if (engineHeld_ && recordWarnings(previous)) {
                recorded = true;
            }
            persistReading(recorded);
        } else {
            failures_ += 1;
            lastError_ = std::get<LocalizedMessage>(std::move(result));
            sourceConnection_.complete(revision, lastError_);
        }
    }
    isRefreshing_ = false;
    now_ = clock_.now();
    if (settingsRevision_ == revision) {
        scheduleNextRefresh();
        publish();
        deliverPending();
    } else {
        publish();
        later([this] { refresh(); });
    }
}

void UsageMonitor::adoptAccount(UsageSnapshot& reading) {
    const std::optional<std::string> legacy = std::move(reading.legacyFingerprint);
    reading.legacyFingerprint.reset();
    if (legacy) {
        state_.detector.renameAccount(*legacy, reading.accountFingerprint);
    }
    if (!state_.snapshot || state_.snapshot->accountFingerprint == reading.accountFingerprint) {
        return;
    }
    if (legacy && state_.snapshot->accountFingerprint == *legacy) {
        return;  // the same account as an earlier version named it
    }
    dropSettled(state_);  // the history belongs to one account
}

void UsageMonitor::recordEvents(std::vector<ResetEvent> events) {
    for (ResetEvent& event : events) {
        if (event.bucketId == "codex") {
            state_.records.insert(state_.records.begin(), announcer_.owe(std::move(event), true));
        }
    }
    if (state_.records.size() > MonitorState::maximumRecords) {
        state_.records.resize(MonitorState::maximumRecords);
    }
}

bool UsageMonitor::recordWarnings(const std::optional<UsageSnapshot>& previous) {
    std::vector<LimitWarning> issued;
    issued.reserve(state_.warnings.size());
    for (const WarningRecord& record : state_.warnings) {
        issued.push_back(record.event);
    }
    std::map<QuotaWindow, Date> lastResets;
    for (const EventRecord& record : state_.records) {
        lastResets.try_emplace(record.event.window, record.event.observedAt);  // newest first
    }
    std::map<QuotaWindow, Date> heldResets;
    for (QuotaWindow which : allQuotaWindows) {
        if (const std::optional<Date> held = state_.detector.heldReset(which)) {
            heldResets.emplace(which, *held);
        }
    }
    std::vector<LimitWarning> owed = detectWarnings({.reading = *state_.snapshot,
                                                     .previous = previous ? &*previous : nullptr,
                                                     .forecasts = timeline_.forecasts(),
                                                     .preferences = warningPreferences_,
                                                     .issued = issued,
                                                     .lastResets = std::move(lastResets),
                                                     .heldResets = std::move(heldResets),
                                                     .now = clock_.now()});
    for (LimitWarning& warning : owed) {
        state_.warnings.insert(state_.warnings.begin(),
                               announcer_.owe(std::move(warning), warningPreferences_.webhook));
    }
    // The oldest go first, but not while what they warned of lasts: a week's warnings would
    // otherwise be pushed out by the five-hour windows' and given again.
    const Date now = clock_.now();
    while (state_.warnings.size() > MonitorState::maximumWarnings) {
        const auto past = std::find_if(
            state_.warnings.rbegin(), state_.warnings.rend(), [&](const WarningRecord& record) {
                return !record.event.resetAt || *record.event.resetAt <= now;
            });
        if (past == state_.warnings.rend()) {
            state_.warnings.pop_back();
        } else {
            state_.warnings.erase(std::next(past).base());
        }
    }
    return !owed.empty();
}

void UsageMonitor::scheduleNextRefresh() {
    refreshTimer_.reset();
    if (demo_ || stopped_) {
        return;
    }
    const Date current = clock_.now();
    const double delay =
        RefreshSchedule::delay(snapshot(), current, settings_.refreshInterval, failures_);
    const auto wait = refreshOverride_.value_or(duration_cast<Duration>(duration<double>(delay)));
    nextRefreshAt_ = current + wait;
    // Posted, so the refresh that replaces this timer runs outside the timer's own callback.
    refreshTimer_ = loop_.startTimer(wait, false, [this] { later([this] { refresh(); }); });
    armStaleness();  // the threshold follows the interval
    publish();
}

void UsageMonitor::updateSettings(const Settings& next) {
    const bool sourceChanged =
        next.codexPath != settings_.codexPath || next.codexHome != settings_.codexHome;
    settings_ = next;
    if (demo_) {
        publish();
        return;
    }
    writePreferences([&] { settings_.save(preferences_); });
    if (sourceChanged) {
        settingsRevision_ += 1;
        MonitorState fresh;
        fresh.records = std::move(state_.records);
        fresh.warnings = std::move(state_.warnings);
        dropSettled(fresh);
        state_ = std::move(fresh);
        lastError_.reset();
        persist();
        later([this] { refresh(); });
    } else {
        scheduleNextRefresh();
    }
    publish();
    later([this] { deliverPending(); });
}

void UsageMonitor::saveAndConnect(std::string_view executablePath, std::string_view homePath) {
    if (demo_) {
        sourceConnection_.reject(message("status.demo"));
        publish();
        return;
    }
    try {
        (void)CodexLocator::executable(executablePath, std::vector<std::string>{});
        (void)CodexLocator::home(homePath);
    } catch (const std::exception& error) {
        sourceConnection_.reject(LocalizedMessage::from(error));
        publish();
        return;
    }
    Settings next = settings_;
    next.codexPath = std::string(trimmed(executablePath));
    next.codexHome = std::string(trimmed(homePath));
    updateSettings(next);
    sourceConnection_.begin(settingsRevision_);
    publish();
    later([this] { refresh(); });
}

template <typename Appearance>
void UsageMonitor::setAppearance(Appearance& published, Appearance value) {
    if (value == published) {
        return;  // an unchanged choice writes nothing
    }
    published = value;
    if (!demo_) {
        writePreferences([&] { save(value, preferences_); });
    }
    publish();
}

void UsageMonitor::setMenuBarStyle(MenuBarStyle style) {
    setAppearance(menuBarStyle_, style);
}

void UsageMonitor::setMenuBarScope(MenuBarScope scope) {
    setAppearance(menuBarScope_, scope);
}

void UsageMonitor::setWarningPreferences(const WarningPreferences& preferences) {
    if (preferences == warningPreferences_) {
        return;
    }
    warningPreferences_ = preferences;
    if (!demo_) {
        writePreferences([&] { warningPreferences_.save(preferences_); });
        later([this] { deliverPending(); });
    }
    publish();
}

void UsageMonitor::reloadPreferences() {
    setWarningPreferences(WarningPreferences::load(preferences_));
    setMenuBarStyle(loadMenuBarStyle(preferences_));
    setMenuBarScope(loadMenuBarScope(preferences_));
    updateSettings(Settings::load(preferences_));
}

template <typename Write>
void UsageMonitor::writePreferences(Write write) {
    // A choice that cannot be stored still applies for this run; the warning says it will not
    // survive a restart, and stays until every choice is stored: while it stands, all are
    // written, not only the one that changed.
    try {
        if (preferencesWarning_) {
            settings_.save(preferences_);
            warningPreferences_.save(preferences_);
            save(menuBarStyle_, preferences_);
            save(menuBarScope_, preferences_);
        } else {
            write();
        }
        preferencesWarning_.reset();
    } catch (const std::exception& error) {
        preferencesWarning_ = LocalizedMessage::from(error);
    }
}

void UsageMonitor::persist() {
    if (demo_ || !engineHeld_) {
        return;
    }
    if (!keepUnreadableAside()) {
        stateSaved_ = false;
        return;
    }
    try {
        store_.save(state_);
        // The reading only: records are written whenever they change, and a second copy of the
        // whole history would double what the engine keeps.
        saved_.emplace();
        saved_->detector = state_.detector;
        saved_->snapshot = state_.snapshot;
        savedAt_ = clock_.now();
        stateSaved_ = true;
        persistenceWarning_.reset();
    } catch (const std::exception&) {
        stateSaved_ = false;
        persistenceWarning_ = message("error.state_write");
    }
}

// ---- Delivery

void UsageMonitor::deliverPending() {
    announcer_.deliverPending();
}

void UsageMonitor::testWebhook(const WebhookConfiguration& configuration) {
    runTestWebhook(configuration);
}

Task UsageMonitor::runTestWebhook(WebhookConfiguration configuration) {
    if (demo_ || isTestingWebhook_) {
        co_return;
    }
    isTestingWebhook_ = true;
    webhookFeedback_.reset();
    publish();
    auto sending = announcer_.sendWebhook(ResetEvent::test(clock_.now()), configuration, true);
    WebhookResult failure = co_await sending;
    webhookFeedback_ = failure ? failure->message : message("webhook.test_success");
    isTestingWebhook_ = false;
    publish();
}

void UsageMonitor::testNotification() {
    runTestNotification();
}

Task UsageMonitor::runTestNotification() {
    if (demo_) {
        co_return;
    }
    if (notifier_.authorization() == NotificationAuthorization::notDetermined) {
        auto asking = requestAuthorization();
        co_await asking;
        auto permission = refreshPermission();
        co_await permission;
    }
    auto notifying =
        announcer_.notify(ResetEvent::test(clock_.now()), settings_.notificationSound, true);
    auto outcome = co_await notifying;
    notificationFeedback_ = outcome ? *outcome : message("notification.failed");
    publish();
}

bool UsageMonitor::saveWebhook(const WebhookConfiguration& configuration, bool enabled) {
    // Switching the webhook off with no address needs no valid address.
    if (enabled || !configuration.url.empty()) {
        try {
            (void)configuration.validatedURL();
        } catch (const std::exception& error) {
            webhookFeedback_ = LocalizedMessage::from(error);
            publish();
            return false;
        }
    }
    if (demo_) {
        webhookFeedback_ = message("webhook.demo");
        publish();
        return true;
    }
    try {
        webhookStore_.save(configuration);
    } catch (const std::exception& error) {
        webhookFeedback_ = LocalizedMessage::from(error);
        publish();
        return false;
    }
    webhookConfiguration_ = configuration;
    webhookWarning_.reset();
    Settings next = settings_;
    next.webhookEnabled = enabled;
    updateSettings(next);
    webhookFeedback_ = message(enabled ? "webhook.saved_on" : "webhook.saved_off");
    publish();
    return true;
}

WebhookConfiguration UsageMonitor::loadWebhook() {
    if (demo_) {
        return {};
    }
    if (webhookConfiguration_) {
        return *webhookConfiguration_;
    }
    try {
        WebhookConfiguration loaded = webhookStore_.load();
        if (!loaded.url.empty()) {
            webhookConfiguration_ = loaded;
        }
        return loaded;
    } catch (const std::exception& error) {
        webhookFeedback_ = LocalizedMessage::from(error);
        publish();
        return {};
    }
}

void UsageMonitor::setLaunchAtLogin(bool enabled) {
    if (demo_) {
        return;
    }
    if (loginItems_.setRegistered(enabled)) {
        const LoginItemStatus status = loginItems_.status();
        loginItemEnabled_ = status == LoginItemStatus::enabled;
        loginItemFeedback_ = status == LoginItemStatus::approvalRequired
                                 ? std::optional(message("login.approval"))
                                 : std::nullopt;
    } else {
        loginItemFeedback_ = message("login.failed");
    }
    publish();
}

// ---- Awaiting the ports

Answer<FetchResult> UsageMonitor::fetch(CodexConfiguration configuration) {
    return {alive_, [this, configuration](std::function<void(FetchResult)> done) {
                codex_.fetch(configuration, std::move(done));
            }};
}

Answer<Done> UsageMonitor::requestAuthorization() {
    return {alive_, [this](std::function<void(Done)> done) {
                notifications_.requestAuthorization([done = std::move(done)] { done(Done{}); });
            }};
}

Answer<Done> UsageMonitor::refreshPermission() {
    return {alive_, [this](std::function<void(Done)> done) {
                notifier_.refreshPermission([done = std::move(done)] { done(Done{}); });
            }};
}

// ---- Derived values

const std::vector<UsagePoint>& UsageMonitor::series(QuotaWindow which) {
    return timeline_.series(demo_ ? nullptr : (snapshot() ? &*snapshot() : nullptr), which);
}

void UsageMonitor::keepReading() {
    if (!state_.snapshot) {
        timeline_.clear();
        return;
    }
    timeline_.keep(*state_.snapshot, clock_.now(), engineHeld_);
}

std::vector<LocalizedMessage> UsageMonitor::warnings() const {
    std::vector<LocalizedMessage> standing;
    for (const std::optional<LocalizedMessage>* warning :
         {&persistenceWarning_, &stateNotice_, &engineWarning_,
          settings_.webhookEnabled ? &webhookWarning_ : nullptr, &preferencesWarning_,
          &timeline_.warning()}) {
        if (warning != nullptr && *warning) {
            standing.push_back(**warning);
        }
    }
    if (snapshot()) {
        for (std::int64_t length : snapshot()->unusableWindowLengths()) {
            standing.push_back(LocalizedMessage("quota.window_unusable", {std::to_string(length)}));
        }
    }
    return standing;
}

Duration UsageMonitor::staleAfter(const Settings& settings) {
    return std::chrono::duration_cast<Duration>(
        duration<double>(std::max(2 * settings.refreshInterval, 90.0)));
}

bool UsageMonitor::isStale() const {
    if (!snapshot()) {
        return false;
    }
    if (lastError_) {
        return true;
    }
    return now_ - snapshot()->observedAt > staleAfter(settings_);
}

}  // namespace quotalume
