#include "private_bus.hpp"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>

namespace quotalume::test {

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds bound) {
    const QDeadlineTimer deadline(bound);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
    }
    return true;
}

void flushEvents() {
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

PrivateBus::PrivateBus() {
    const QString config = directory_.filePath(QStringLiteral("bus.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly)) {
        return;
    }
    file.write(
        QStringLiteral(
            R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)")
            .arg(directory_.path())
            .toUtf8());
    file.close();
    daemon_.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                   QStringLiteral("--print-address")});
    QByteArray output;
    while (!output.contains('\n') && daemon_.waitForReadyRead(10'000)) {
        output += daemon_.readAllStandardOutput();
    }
    address_ = QString::fromUtf8(output).trimmed();
}

PrivateBus::~PrivateBus() {
    for (const QString& name : connections_) {
        QDBusConnection::disconnectFromBus(name);
    }
    daemon_.terminate();
    daemon_.waitForFinished(10'000);
}

QDBusConnection PrivateBus::connect() {
    static int count = 0;
    const QString name = QStringLiteral("quotalume-test-%1").arg(++count);
    connections_.append(name);
    return QDBusConnection::connectToBus(address_, name);
}

FakeStatusNotifierWatcher::FakeStatusNotifierWatcher(QDBusConnection bus, bool host)
    : hostRegistered(host), bus_(std::move(bus)) {
    bus_.registerObject(QStringLiteral("/StatusNotifierWatcher"), this,
                        QDBusConnection::ExportAllProperties | QDBusConnection::ExportAllSlots);
    bus_.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
}

}  // namespace quotalume::test
