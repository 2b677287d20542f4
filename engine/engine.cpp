#include "engine.hpp"

#include "metrics_exposition.hpp"

#include <quotalume/codex/codex_locator.hpp>
#include <quotalume/schedule/demo_snapshot.hpp>
#include <quotalume/support/text.hpp>

#include <algorithm>
#include <chrono>
#include <exception>

namespace quotalume {
namespace {

constexpr Duration clockPeriod = std::chrono::seconds(1);

bool contains(std::span<const std::string_view> keys, std::string_view key) {
    return std::find(keys.begin(), keys.end(), key) != keys.end();
}

}  // namespace

Engine::Engine(EnginePorts ports, bool demo)
    : loop_(ports.loop),
      clock_(ports.clock),
      signals_(ports.signals),
      demo_(demo),
      preferences_(ports.preferences, !demo),
      keeper_(ports.dataDirectory, ports.fileOperations, ports.engine, ports.clock, demo),
      dataDirectory_(ports.dataDirectory),
      notifier_(ports.notifications, [this] { publish(); }),
      announcer_(ports.loop, ports.clock, ports.webhooks, notifier_,
                 {*this, preferences_.settings(), preferences_.warnings(), receiver_.configuration,
                  receiver_.warning}),
      queue_(ports.codex),
      readings_(roomsOf(0)),
      setup_({.clock = ports.clock,
              .notifications = ports.notifications,
              .loginItems = ports.loginItems,
              .notifier = notifier_,
              .announcer = announcer_,
              .preferences = preferences_,
              .receiver = receiver_,
              .published = [this] { publish(); }},
             ports.dataDirectory, ports.fileOperations, demo),
      metrics_(ports.fileOperations),
      now_(ports.clock.now()) {
    preferencesObservation_ = preferences_.subscribe(
        [this](std::span<const std::string_view> keys) { preferencesChanged(keys); });
    if (demo_) {
        // Nothing else of the user's is read: default settings, a fresh state, made-up figures.
        demoSnapshot_ = demoSnapshot(now_);
        return;
    }
    timeline_.open(dataDirectory_, keeper_.holdsEngine());
    placeSources();
}

ReadingLoop::Rooms Engine::roomsOf(std::size_t source, AccountSource placed) {
    return {.loop = loop_,
            .clock = clock_,
            .codex = queue_,
            .keeper = keeper_,
            .timeline = timeline_,
            .announcer = announcer_,
            .preferences = preferences_,
            .beforeReading = [this] { beforeReading(); },
            .published = [this] { readingMoved(); },
            .source = source,
            .placed = std::move(placed),
            .readBefore = [this](const UsageSnapshot& reading,
                                 std::size_t place) { return readBefore(reading, place); }};
}

std::optional<std::string> Engine::readBefore(const UsageSnapshot& reading,
                                              std::size_t place) const {
    // The same account is the same fingerprint (the same home), or the same account id in
    // another home.
    const auto same = [&](const std::optional<UsageSnapshot>& earlier) {
        return earlier && (earlier->accountFingerprint == reading.accountFingerprint ||
                           (reading.accountKey && earlier->accountKey == reading.accountKey));
    };
    if (same(keeper_.state().snapshot)) {
        return readings_.source().label;
    }
    for (const auto& other : others_) {
        const MonitorState* state = other->state();
        if (other->place() < place && !other->sameAs() && state && same(state->snapshot)) {
            return other->source().label;
        }
    }
    return std::nullopt;
}

void Engine::placeSources() {
    // A source whose home and executable stay (renamed or moved) keeps its room, with its
    // schedule and what it knows; a new one reads at once.
    std::vector<std::unique_ptr<ReadingLoop>> kept = std::move(others_);
    others_.clear();
    const AccountSources& sources = preferences_.current().sources;
    for (std::size_t i = 1; i <= sources.others.size(); ++i) {
        const AccountSource& wanted = sources.others[i - 1];
        const auto same = std::find_if(kept.begin(), kept.end(), [&](const auto& loop) {
            return loop && loop->source().codexHome == wanted.codexHome &&
                   loop->source().codexPath == wanted.codexPath;
        });
        if (same != kept.end()) {
            others_.push_back(std::move(*same));
            others_.back()->moveTo(i, wanted);
            if (!others_.back()->account().empty()) {
                keeper_.relabel(others_.back()->account(), wanted.label);
            }
            // The source it shared an account with may have gone or moved behind it.
            if (others_.back()->sameAs() && started_ && !stopped_) {
                others_.back()->refresh();
            }
            continue;
        }
        others_.push_back(std::make_unique<ReadingLoop>(roomsOf(i, wanted)));
        if (overriddenInterval_) {
            others_.back()->overrideInterval(*overriddenInterval_);
        }
        if (started_ && !stopped_) {
            others_.back()->refresh();
        }
    }
    for (const auto& gone : kept) {
        if (gone) {
            gone->stop();
        }
    }
}

void Engine::overrideRefreshInterval(Duration interval) {
    overriddenInterval_ = interval;
    readings_.overrideInterval(interval);
    for (const auto& other : others_) {
        other->overrideInterval(interval);
    }
}

bool Engine::isRefreshing() const {
    return readings_.isRefreshing() ||
           std::any_of(others_.begin(), others_.end(),
                       [](const auto& other) { return other->isRefreshing(); });
}

std::vector<Ledger> Engine::ledgers() {
    const bool several = preferences_.current().sources.several();
    const auto named = [&](const std::string& label) {
        return several && !label.empty() ? std::optional(label) : std::nullopt;
    };
    std::vector<Ledger> all{{&keeper_.state(), named(readings_.source().label)}};
    for (AccountState& account : keeper_.accounts()) {
        all.push_back({&account.state, named(account.label)});
    }
    return all;
}

Engine::~Engine() {
    alive_.reset();  // whatever answers from now on finds the engine gone
    stop();
}

void Engine::publish() {
    if (!metricsDue_ && (metrics_.active() || preferences_.current().metrics.offered())) {
        metricsDue_ = true;
        later([this] { exportMetrics(); });  // once for a burst of changes
    }
    reading_.reset();
    observers_.notify();
}

void Engine::exportMetrics() {
    metricsDue_ = false;
    const bool ours = !demo_ && started_ && !stopped_ && keeper_.holdsEngine();
    const std::vector<LocalizedMessage> before = metrics_.warnings();
    metrics_.configure(ours ? preferences_.current().metrics : MetricsPreferences());
    if (metrics_.active()) {
        metrics_.offer(metricsExposition(reading(), preferences_.current().sources.firstLabel));
    }
    if (metrics_.warnings() != before) {
        publish();
    }
}

const EngineReading& Engine::reading() const {
    if (!reading_) {
        const auto& shown = snapshot();
        reading_ = EngineReading{.snapshot = shown,
                                 .stale = lastError().has_value() || isStale(),
                                 .demo = demo_,
                                 .refreshing = isRefreshing(),
                                 .error = lastError(),
                                 .warnings = warnings(),
                                 .scope = preferences_.scope(),
                                 .forecasts = shown && !demo_
                                                  ? timeline_.forecasts(shown->accountFingerprint)
                                                  : TimelineKeeper::Forecasts()};
        if (!demo_) {
            reading_->counters = keeper_.state().counters;
        }
        if (!others_.empty()) {
            // Several sources: each is named, the first as the others.
            reading_->label = readings_.source().label;
            reading_->refreshing = readings_.isRefreshing();
            for (const auto& other : others_) {
                reading_->accounts.push_back(sourceReading(*other));
            }
        }
    }
    return *reading_;
}

EngineReading Engine::sourceReading(const ReadingLoop& loop) const {
    const MonitorState* state = loop.sameAs() ? nullptr : loop.state();
    const std::optional<UsageSnapshot> shown = state ? state->snapshot : std::nullopt;
    EngineReading reading{
        .snapshot = shown,
        .stale = loop.lastError().has_value() || isStale(shown, loop.lastError().has_value()),
        .refreshing = loop.isRefreshing(),
        .error = loop.lastError(),
        .scope = preferences_.scope(),
        .forecasts =
            shown ? timeline_.forecasts(shown->accountFingerprint) : TimelineKeeper::Forecasts(),
        .counters = state ? std::optional(state->counters) : std::nullopt};
    reading.label = loop.source().label;
    reading.sameAs = loop.sameAs();
    return reading;
}

template <typename Work>
void Engine::later(Work work) {
    loop_.post([alive = std::weak_ptr<int>(alive_), work = std::move(work)]() mutable {
        if (!alive.expired()) {
            work();
        }
    });
}

void Engine::start() {
    localeObservation_ = signals_.onLocaleChange([this] { publish(); });
    setup_.readLoginItem();
    started_ = true;
    showClock(clockShown_);
    notifier_.refreshPermission();
    if (!demo_) {
        if (settings().webhookEnabled) {
            setup_.loadReceiver();
        }
        observations_.push_back(signals_.onWake([this] { refresh(); }));
        announcer_.arm();
        armStaleness();
        refresh();
        setup_.askPermissionOnce();
    }
    publish();
}

void Engine::stop() {
    stopped_ = true;
    readings_.stop();
    for (const auto& other : others_) {
        other->stop();
    }
    clockTimer_.reset();
    announcer_.disarm();
    staleTimer_.reset();
    observations_.clear();
    localeObservation_.reset();
    keeper_.flush();         // so the next start compares against the latest reading
    metrics_.configure({});  // the address is free again once stop() returns
}

void Engine::refresh() {
    if (!demo_) {
        readings_.refresh();
        for (const auto& other : others_) {
            other->refresh();
        }
    }
}

void Engine::viewOpened() {
    if (!demo_ && started_ && !stopped_) {
        readings_.viewOpened();
        for (const auto& other : others_) {
            other->viewOpened();
        }
    }
}

void Engine::beforeReading() {
    if (keeper_.claim() == StateKeeper::Claim::takenNow && timeline_.isOpen()) {
        timeline_.open(dataDirectory_, true);  // the view's read-only one becomes the engine's
    }
    if (settings().webhookEnabled && !receiver_.configuration) {
        setup_.loadReceiver();  // the user may have mended the file since
    }
}

void Engine::readingMoved() {
    now_ = clock_.now();
    armStaleness();  // the threshold follows the reading and the interval
    publish();
}

void Engine::preferencesChanged(std::span<const std::string_view> keys) {
    if (!demo_) {
        if (contains(keys, "codex.path") || contains(keys, "codex.home")) {
            if (preferences_.current().sources.several()) {
                // Its account's history is kept apart, to come back when it is read again.
                keeper_.setAsideFirst(readings_.source().label);
                keeper_.persist();
            } else {
                keeper_.startAfresh();
            }
            readings_.sourceChanged();
            for (const auto& other : others_) {
                if (other->sameAs()) {
                    other->refresh();  // it may read an account of its own now
                }
            }
        } else if (contains(keys, "refresh.interval")) {
            readings_.scheduleNext();
            for (const auto& other : others_) {
                other->scheduleNext();
            }
        }
        if (contains(keys, AccountSources::listKey)) {
            placeSources();
            keeper_.flush();  // a renamed source's account under its new label
        }
        if (contains(keys, "webhook.enabled") && settings().webhookEnabled &&
            !receiver_.configuration) {
            setup_.loadReceiver();
        }
        later([this] { deliverPending(); });  // what is owed follows the new choices
    }
    publish();
}

void Engine::saveAndConnect(std::string_view executablePath, std::string_view homePath) {
    if (demo_) {
        readings_.refuseSource(LocalizedMessage("status.demo"));
        publish();
        return;
    }
    try {
        (void)CodexLocator::executable(executablePath, std::vector<std::string>{});
        (void)CodexLocator::home(homePath);
    } catch (const std::exception& error) {
        readings_.refuseSource(LocalizedMessage::from(error));
        publish();
        return;
    }
    Settings next = settings();
    next.codexPath = std::string(trimmed(executablePath));
    next.codexHome = std::string(trimmed(homePath));
    preferences_.setSettings(next);
    readings_.connecting();
    publish();
    later([this] { refresh(); });
}

void Engine::testWebhook(const WebhookConfiguration& configuration) {
    setup_.testWebhook(configuration);
}

void Engine::testNotification() {
    setup_.testNotification();
}

void Engine::showClock(bool shown) {
    clockShown_ = shown;
    clockTimer_.reset();
    if (!shown || !started_ || stopped_) {
        return;
    }
    clockTimer_ = loop_.startTimer(clockPeriod, true, [this] { tick(); });
    tick();
}

void Engine::tick() {
    now_ = clock_.now();
    publish();
}

void Engine::armStaleness() {
    staleTimer_.reset();
    const auto& reading = keeper_.state().snapshot;
    if (demo_ || stopped_ || !reading || isStale()) {
        return;
    }
    // The moment isStale() turns true, so the badge shows on time with no clock ticking.
    const Date when = reading->observedAt + staleAfter(settings()) + Duration(1);
    const Duration wait =
        std::max(Duration(0), std::chrono::duration_cast<Duration>(when - clock_.now()));
    staleTimer_ = loop_.startTimer(wait, false, [this] { tick(); });
}

const std::vector<UsagePoint>& Engine::series(const std::optional<UsageSnapshot>& reading,
                                              QuotaWindow which) {
    return timeline_.series(demo_ || !reading ? nullptr : &*reading, which);
}

std::vector<LocalizedMessage> Engine::warnings() const {
    std::vector<LocalizedMessage> standing;
    for (const std::optional<LocalizedMessage>* warning :
         {&keeper_.persistenceWarning(), &keeper_.stateNotice(), &keeper_.engineWarning(),
          settings().webhookEnabled ? &receiver_.warning : nullptr, &preferences_.warning(),
          &timeline_.warning()}) {
        if (warning != nullptr && *warning) {
            standing.push_back(**warning);
        }
    }
    for (LocalizedMessage& warning : metrics_.warnings()) {
        standing.push_back(std::move(warning));
    }
    if (snapshot()) {
        for (std::int64_t length : snapshot()->unusableWindowLengths()) {
            standing.push_back(LocalizedMessage("quota.window_unusable", {std::to_string(length)}));
        }
    }
    return standing;
}

Duration Engine::staleAfter(const Settings& settings) {
    return std::chrono::duration_cast<Duration>(
        std::chrono::duration<double>(std::max(2 * settings.refreshInterval, 90.0)));
}

bool Engine::isStale(const std::optional<UsageSnapshot>& reading, bool failed) const {
    if (!reading) {
        return false;
    }
    if (failed) {
        return true;
    }
    return now_ - reading->observedAt > staleAfter(settings());
}

}  // namespace quotalume
