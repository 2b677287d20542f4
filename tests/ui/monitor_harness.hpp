#pragma once

#include "monitor_bridge.hpp"
#include "monitor_fakes.hpp"
#include "test_support.hpp"
#include "usage_monitor.hpp"

#include <quotalume/l10n.hpp>
#include <quotalume/preferences_store.hpp>

#include <QCoreApplication>

#include <filesystem>
#include <memory>

// A monitor for widget tests: the engine runs on the fakes' manual loop, the widgets on Qt's.
// Readings are handed in by the test; nothing leaves the process.
namespace quotalume::test {

class MonitorHarness {
public:
    explicit MonitorHarness(bool demo = false) {
        L10n::setPreference(AppLanguage::english);
        monitor = std::make_unique<UsageMonitor>(
            MonitorPorts{loop, clock, codex, webhooks, center, loginItems, signals, preferences,
                         engine, dir.path() / "data" / "Quotalume"},
            demo);
        bridge = std::make_unique<MonitorBridge>(*monitor);
    }
    ~MonitorHarness() {
        bridge.reset();
        monitor->stop();
    }

    // Starts the monitor and answers its first fetch with `reading` (a snapshot or an error).
    void start(FetchResult reading) {
        monitor->start();
        loop.drain();
        answer(std::move(reading));
    }
    void answer(FetchResult reading) {
        codex.calls.answer(std::move(reading));
        loop.drain();
        settle();
    }
    // Lets the bridge tell the widgets.
    static void settle() { QCoreApplication::processEvents(); }

    // One bucket with a five-hour and a weekly window, `plan` as its plan type.
    UsageSnapshot reading(double fiveHourUsed, double weeklyUsed,
                          std::optional<std::string> plan = "pro") const {
        RateBucket bucket{"codex", std::nullopt, RateWindow{fiveHourUsed, 300, 1'800'003'600.0},
                          RateWindow{weeklyUsed, 10080, 1'800'300'000.0}};
        bucket.planType = std::move(plan);
        return UsageSnapshot{clock.now_, UsageSnapshot::fingerprint("account"), {bucket}};
    }

    ScopedStandardPreferences language{std::make_shared<MemoryPreferencesStore>()};
    TempDir dir;
    FakeClock clock;
    ManualLoop loop{clock};
    FakeCodex codex{loop};
    FakeWebhooks webhooks{loop};
    FakeNotificationCenter center{loop};
    FakeLoginItems loginItems;
    FakeSignals signals;
    FakeEngine engine;
    MemoryPreferencesStore preferences;
    std::unique_ptr<UsageMonitor> monitor;
    std::unique_ptr<MonitorBridge> bridge;
};

}  // namespace quotalume::test
