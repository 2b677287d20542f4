#pragma once

#include "engine.hpp"
#include "monitor_bridge.hpp"
#include "monitor_fakes.hpp"
#include "test_support.hpp"

#include <QCoreApplication>
#include <QLabel>

namespace quotalume::test {

// The child called `name`; a missing one fails the test rather than crashing it.
template <typename Widget = QWidget>
Widget* find(const QObject& root, const char* name) {
    auto* found = root.findChild<Widget*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}
inline QString labelText(const QObject& root, const char* name) {
    const auto* label = find<QLabel>(root, name);
    return label ? label->text() : QString();
}
// Not hidden: the widgets under test are never on a screen.
inline bool shown(const QObject& root, const char* name) {
    const QWidget* widget = find(root, name);
    return widget != nullptr && !widget->isHidden();
}
inline QString text(std::string_view key) {
    return QString::fromStdString(L10n::text(key));
}

// A monitor for widget tests: the engine on the fakes' manual loop, the widgets on Qt's.
class MonitorHarness {
public:
    MonitorHarness() {
        monitor = std::make_unique<Engine>(
            EnginePorts{loop, clock, codex, webhooks, center, loginItems, signals, preferences,
                        engine, dir.path() / "data" / "Quotalume"},
            false);
        bridge = std::make_unique<MonitorBridge>(*monitor);
    }
    ~MonitorHarness() {
        bridge.reset();
        monitor->stop();
    }

    // Starts or refreshes, answering the fetch with `reading`; without one it stays in flight.
    void start(std::optional<FetchResult> reading = std::nullopt) {
        monitor->start();
        answer(std::move(reading));
    }
    void refresh(std::optional<FetchResult> reading = std::nullopt) {
        monitor->refresh();
        answer(std::move(reading));
    }
    void answer(std::optional<FetchResult> reading) {
        loop.drain();
        if (reading) {
            codex.calls.answer(std::move(*reading));
            loop.drain();
        }
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
    static std::string codexIn(const TempDir& folder) {
        const std::filesystem::path codex = folder.write("codex", "#!/bin/sh\n");
        std::filesystem::permissions(codex, std::filesystem::perms::owner_all);
        return codex.string();
    }

    InterfaceLanguage language;
    TempDir dir;
    FakeClock clock;
    ManualLoop loop{clock};
    FakeCodex codex{loop};
    FakeWebhooks webhooks{loop};
    FakeNotificationCenter center{loop};
    FakeLoginItems loginItems;
    FakeSignals signals;
    FakeEngine engine;
    // The standard store the interface language is read from, as in the application.
    PreferencesStore& preferences = *PreferencesStore::standard();
    std::unique_ptr<Engine> monitor;
    std::unique_ptr<MonitorBridge> bridge;
};

}  // namespace quotalume::test
