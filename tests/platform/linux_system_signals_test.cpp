#include "linux/linux_system_signals.hpp"
#include "private_bus.hpp"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QEvent>

#include <gtest/gtest.h>

namespace quotalume {
namespace {

using namespace std::chrono_literals;
using test::flushEvents;
using test::PrivateBus;
using test::waitUntil;

// systemd-logind's manager, as far as sleeping goes.
class FakeLogind final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    explicit FakeLogind(QDBusConnection bus) : bus_(std::move(bus)) {
        bus_.registerObject(QStringLiteral("/org/freedesktop/login1"), this,
                            QDBusConnection::ExportAllSignals);
        registered_ = bus_.registerService(QStringLiteral("org.freedesktop.login1"));
    }
    bool registered_ = false;

signals:
    void PrepareForSleep(bool start);

private:
    QDBusConnection bus_;
};

// Clock readings the test moves by hand; counts how often they were read.
struct SuspendClock {
    std::chrono::nanoseconds suspended{};
    int reads = 0;
    SuspendPolling polling() {
        return {.period = 1ms, .threshold = 5s, .suspendedTime = [this] {
                    ++reads;
                    return suspended;
                }};
    }
};

TEST(LinuxSystemSignals, WakesWhenLogindSaysTheSleepEnded) {
    PrivateBus bus;  // stands in for the system bus
    ASSERT_FALSE(bus.address().isEmpty()) << "no dbus-daemon";
    FakeLogind logind(bus.connect());
    ASSERT_TRUE(logind.registered_);
    QDBusConnection system = bus.connect();
    SuspendClock clock;
    LinuxSystemSignals systemSignals(system, clock.polling());

    int kept = 0;
    int ended = 0;
    auto keptSubscription = systemSignals.onWake([&] { ++kept; });
    auto endedSubscription = systemSignals.onWake([&] { ++ended; });
    test::SignalProbe sleeps;
    ASSERT_TRUE(system.connect(QString(), QString(),
                               QStringLiteral("org.freedesktop.login1.Manager"),
                               QStringLiteral("PrepareForSleep"), &sleeps, SLOT(received())));
    // A round trip: the bus has taken every match rule asked for so far.
    system.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.login1"));

    emit logind.PrepareForSleep(true);
    emit logind.PrepareForSleep(false);
    ASSERT_TRUE(waitUntil([&] { return sleeps.count == 2; }));
    flushEvents();
    EXPECT_EQ(kept, 1);
    EXPECT_EQ(ended, 1);

    endedSubscription.reset();
    emit logind.PrepareForSleep(false);
    ASSERT_TRUE(waitUntil([&] { return sleeps.count == 3; }));
    flushEvents();
    EXPECT_EQ(kept, 2);
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(clock.reads, 0) << "polled the clocks although logind runs";
}

TEST(LinuxSystemSignals, WithoutLogindAJumpOfTheSuspendedTimeIsAWake) {
    PrivateBus bus;
    ASSERT_FALSE(bus.address().isEmpty()) << "no dbus-daemon";
    // A bus where logind has no owner, and no bus at all.
    for (const QDBusConnection& system :
         {bus.connect(), QDBusConnection(QStringLiteral("no-such-bus"))}) {
        SuspendClock clock;
        LinuxSystemSignals systemSignals(system, clock.polling());
        int wakes = 0;
        auto subscription = systemSignals.onWake([&] { ++wakes; });
        auto readsFromNow = [&](int more) {
            const int until = clock.reads + more;
            return waitUntil([&] { return clock.reads >= until; });
        };

        ASSERT_TRUE(readsFromNow(3));
        EXPECT_EQ(wakes, 0);
        clock.suspended += 6s;
        ASSERT_TRUE(waitUntil([&] { return wakes == 1; }));
        ASSERT_TRUE(readsFromNow(3));
        clock.suspended += 4s;  // below the threshold: a slow tick, not a sleep
        ASSERT_TRUE(readsFromNow(3));
        EXPECT_EQ(wakes, 1) << system.name().toStdString();
    }
}

TEST(LinuxSystemSignals, LocaleChangeOfTheApplicationUntilUnsubscribed) {
    LinuxSystemSignals systemSignals(QDBusConnection(QStringLiteral("no-such-bus")));
    int changes = 0;
    auto subscription = systemSignals.onLocaleChange([&] { ++changes; });
    QEvent change(QEvent::LocaleChange);
    QCoreApplication::sendEvent(QCoreApplication::instance(), &change);
    QObject other;
    QCoreApplication::sendEvent(&other, &change);  // one object's locale, not the system's
    EXPECT_EQ(changes, 1);
    subscription.reset();
    QCoreApplication::sendEvent(QCoreApplication::instance(), &change);
    EXPECT_EQ(changes, 1);
}

}  // namespace
}  // namespace quotalume

#include "linux_system_signals_test.moc"
