#include "status_notifier_probe.hpp"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QTimer>

namespace quotalume {
namespace {

constexpr auto pollInterval = std::chrono::milliseconds(100);
// A call that hangs must not hold the start-up past the deadline.
constexpr int callTimeoutMs = 500;

}  // namespace

void StatusNotifierProbe::await(QDBusConnection bus, std::chrono::milliseconds patience,
                                QObject* context, std::function<void(bool)> done) {
    auto* probe = new StatusNotifierProbe(std::move(bus), patience, context, std::move(done));
    probe->ask();
}

StatusNotifierProbe::StatusNotifierProbe(QDBusConnection bus, std::chrono::milliseconds patience,
                                         QObject* context, std::function<void(bool)> done)
    : QObject(context),
      bus_(std::move(bus)),
      done_(std::move(done)),
      deadline_(std::chrono::steady_clock::now() + patience) {}

void StatusNotifierProbe::ask() {
    if (!bus_.isConnected()) {
        finish(false);
        return;
    }
    // The property Qt itself reads; it fails while no watcher owns the name.
    auto message = QDBusMessage::createMethodCall(
        QStringLiteral("org.kde.StatusNotifierWatcher"), QStringLiteral("/StatusNotifierWatcher"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    message << QStringLiteral("org.kde.StatusNotifierWatcher")
            << QStringLiteral("IsStatusNotifierHostRegistered");
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message, callTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        QDBusPendingReply<QDBusVariant> reply = *watcher;
        if (!reply.isError() && reply.value().variant().toBool()) {
            finish(true);
        } else if (std::chrono::steady_clock::now() + pollInterval >= deadline_) {
            finish(false);
        } else {
            QTimer::singleShot(pollInterval, this, &StatusNotifierProbe::ask);
        }
    });
}

void StatusNotifierProbe::finish(bool hostRegistered) {
    if (finished_) {
        return;
    }
    finished_ = true;
    // Later, so the caller never runs inside `await`, and this object is gone before it does.
    QTimer::singleShot(0, parent(),
                       [done = std::move(done_), hostRegistered] { done(hostRegistered); });
    deleteLater();
}

}  // namespace quotalume
