#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>
#include <functional>

namespace quotalume::test {

// Runs the event loop until `condition` holds or `bound` has passed; true when it held.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds bound = std::chrono::seconds(20));

// Delivers what the event loop already holds (signals queued by the bus thread).
void flushEvents();

// Counts a bus signal; once it has, flushEvents() delivers that signal to every other receiver.
class SignalProbe final : public QObject {
    Q_OBJECT

public:
    int count = 0;

public Q_SLOTS:
    void received() { ++count; }
};

// A bus daemon of the test's own: any name may be owned, nothing is activated.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    const QString& address() const { return address_; }
    // A new connection with a unique name of its own; closed with the bus.
    QDBusConnection connect();

private:
    QTemporaryDir directory_;
    QProcess daemon_;
    QString address_;
    QStringList connections_;
};

// A panel's StatusNotifierWatcher, as far as Qt asks it: it takes every item's registration.
class FakeStatusNotifierWatcher final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered MEMBER hostRegistered)
    Q_PROPERTY(int ProtocolVersion MEMBER protocolVersion)

public:
    FakeStatusNotifierWatcher(QDBusConnection bus, bool host);
    bool hostRegistered;
    int protocolVersion = 0;
    QStringList items;

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString& service) { items.append(service); }
    void RegisterStatusNotifierHost(const QString&) {}

private:
    QDBusConnection bus_;
};

}  // namespace quotalume::test
