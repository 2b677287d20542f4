#include "linux_system_signals.hpp"

#include "login_manager_proxy.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QEvent>
#include <QObject>
#include <QTimer>

#include <time.h>

namespace quotalume {
namespace {

const QString logindName = QStringLiteral("org.freedesktop.login1");

std::chrono::nanoseconds clockReading(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

std::chrono::nanoseconds suspendedTime() {
    return clockReading(CLOCK_BOOTTIME) - clockReading(CLOCK_MONOTONIC);
}

// A Subscription that owns the Qt object doing the observing.
class ObjectSubscription final : public Subscription {
public:
    explicit ObjectSubscription(std::unique_ptr<QObject> observer)
        : observer_(std::move(observer)) {}

private:
    std::unique_ptr<QObject> observer_;
};

// Listens to logind while it has an owner on the bus, and polls the clocks while it has not.
class WakeObserver final : public QObject {
public:
    WakeObserver(const QDBusConnection& bus, const SuspendPolling& polling,
                 std::function<void()> wake)
        : wake_(std::move(wake)),
          threshold_(polling.threshold),
          suspendedTime_(polling.suspendedTime ? polling.suspendedTime : suspendedTime) {
        poll_.setInterval(polling.period);
        connect(&poll_, &QTimer::timeout, this, [this] { checkClocks(); });
        if (!bus.isConnected() || bus.interface() == nullptr) {  // no bus, or a peer-to-peer one
            setLogind(false);
            return;
        }
        auto* logind =
            new LoginManagerProxy(logindName, QStringLiteral("/org/freedesktop/login1"), bus, this);
        connect(logind, &LoginManagerProxy::PrepareForSleep, this, [this](bool start) {
            if (!start) {
                notify();
            }
        });
        auto* owner = new QDBusServiceWatcher(logindName, bus,
                                              QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(owner, &QDBusServiceWatcher::serviceOwnerChanged, this,
                [this](const QString&, const QString&, const QString& newOwner) {
                    setLogind(!newOwner.isEmpty());
                });
        // A question to the bus itself, not to a peer that could keep us waiting.
        setLogind(bus.interface()->isServiceRegistered(logindName).value());
    }

private:
    void setLogind(bool present) {
        if (present) {
            poll_.stop();
        } else if (!poll_.isActive()) {
            lastSuspended_ = suspendedTime_();
            poll_.start();
        }
    }

    void checkClocks() {
        const auto suspended = suspendedTime_();
        const bool slept = suspended - lastSuspended_ > threshold_;
        lastSuspended_ = suspended;
        if (slept) {
            notify();
        }
    }

    // The callback may end the subscription, and with it this object.
    void notify() {
        auto wake = wake_;
        wake();
    }

    std::function<void()> wake_;
    std::chrono::nanoseconds threshold_;
    std::function<std::chrono::nanoseconds()> suspendedTime_;
    QTimer poll_;
    std::chrono::nanoseconds lastSuspended_{};
};

// The toolkit announces a new system locale to the application object.
class LocaleObserver final : public QObject {
public:
    explicit LocaleObserver(std::function<void()> change) : change_(std::move(change)) {
        if (auto* application = QCoreApplication::instance()) {
            application->installEventFilter(this);
        }
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == QCoreApplication::instance() && event->type() == QEvent::LocaleChange) {
            auto change = change_;  // may end the subscription
            change();
        }
        return false;
    }

private:
    std::function<void()> change_;
};

}  // namespace

LinuxSystemSignals::LinuxSystemSignals(QDBusConnection systemBus, SuspendPolling polling)
    : bus_(std::move(systemBus)), polling_(std::move(polling)) {}

std::unique_ptr<Subscription> LinuxSystemSignals::onWake(std::function<void()> wake) {
    return std::make_unique<ObjectSubscription>(
        std::make_unique<WakeObserver>(bus_, polling_, std::move(wake)));
}

std::unique_ptr<Subscription> LinuxSystemSignals::onLocaleChange(std::function<void()> change) {
    return std::make_unique<ObjectSubscription>(
        std::make_unique<LocaleObserver>(std::move(change)));
}

}  // namespace quotalume
