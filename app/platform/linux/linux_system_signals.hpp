#pragma once

#include "ports.hpp"

#include <QDBusConnection>

#include <chrono>
#include <functional>
#include <memory>

namespace quotalume {

// Without logind the wake is inferred from the clocks: CLOCK_BOOTTIME counts the time spent
// suspended and CLOCK_MONOTONIC does not, so their gap grows by the length of each sleep.
// Half a minute: a reading follows a wake soon enough, and the poll costs two wakeups a minute.
struct SuspendPolling {
    std::chrono::milliseconds period = std::chrono::seconds(30);
    std::chrono::milliseconds threshold = std::chrono::seconds(5);
    // CLOCK_BOOTTIME minus CLOCK_MONOTONIC when absent.
    std::function<std::chrono::nanoseconds()> suspendedTime;
};

// Wake from systemd-logind's PrepareForSleep(false) on the system bus, or from the clocks when
// logind does not run; locale changes from the application's LocaleChange event.
class LinuxSystemSignals final : public SystemSignals {
public:
    explicit LinuxSystemSignals(QDBusConnection systemBus = QDBusConnection::systemBus(),
                                SuspendPolling polling = {});

    std::unique_ptr<Subscription> onWake(std::function<void()> wake) override;
    std::unique_ptr<Subscription> onLocaleChange(std::function<void()> change) override;

private:
    QDBusConnection bus_;
    SuspendPolling polling_;
};

}  // namespace quotalume
