#include "engine.hpp"

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
                 {*this, keeper_.state(), preferences_.settings(), preferences_.warnings(),
                  receiver_.configuration, receiver_.warning}),
      readings_({.loop = ports.loop,
                 .clock = ports.clock,
                 .codex = ports.codex,
                 .keeper = keeper_,
                 .timeline = timeline_,
                 .announcer = announcer_,
                 .preferences = preferences_,
                 .beforeReading = [this] { beforeReading(); },
                 .published = [this] { readingMoved(); }}),
      setup_({.clock = ports.clock,
              .notifications = ports.notifications,
              .loginItems = ports.loginItems,
              .notifier = notifier_,
              .announcer = announcer_,
              .preferences = preferences_,
              .receiver = receiver_,
              .published = [this] { publish(); }},
             ports.dataDirectory, ports.fileOperations, demo),
      now_(ports.clock.now()) {
    preferencesObservation_ = preferences_.subscribe(
        [this](std::span<const std::string_view> keys) { preferencesChanged(keys); });
    if (demo_) {
        // Nothing else of the user's is read: default settings, a fresh state, made-up figures.
        demoSnapshot_ = demoSnapshot(now_);
        return;
    }
    timeline_.open(dataDirectory_, keeper_.holdsEngine());
}

Engine::~Engine() {
    alive_.reset();  // whatever answers from now on finds the engine gone
    stop();
}

void Engine::publish() {
    reading_.reset();
    observers_.notify();
}

const EngineReading& Engine::reading() const {
    if (!reading_) {
        reading_ = EngineReading{.snapshot = snapshot(),
                                 .stale = lastError().has_value() || isStale(),
                                 .demo = demo_,
                                 .refreshing = isRefreshing(),
                                 .error = lastError(),
                                 .warnings = warnings(),
                                 .scope = preferences_.scope(),
                                 .forecasts = timeline_.forecasts()};
    }
    return *reading_;
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
    clockTimer_.reset();
    announcer_.disarm();
    staleTimer_.reset();
    observations_.clear();
    localeObservation_.reset();
    keeper_.flush();  // so the next start compares against the latest reading
}

void Engine::refresh() {
    if (!demo_) {
        readings_.refresh();
    }
}

void Engine::viewOpened() {
    if (!demo_ && started_ && !stopped_) {
        readings_.viewOpened();
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
            keeper_.startAfresh();
            readings_.sourceChanged();
        } else if (contains(keys, "refresh.interval")) {
            readings_.scheduleNext();
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

const std::vector<UsagePoint>& Engine::series(QuotaWindow which) {
    return timeline_.series(demo_ ? nullptr : (snapshot() ? &*snapshot() : nullptr), which);
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

bool Engine::isStale() const {
    if (!snapshot()) {
        return false;
    }
    if (lastError()) {
        return true;
    }
    return now_ - snapshot()->observedAt > staleAfter(settings());
}

}  // namespace quotalume
