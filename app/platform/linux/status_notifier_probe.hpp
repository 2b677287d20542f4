#pragma once

#include <QDBusConnection>
#include <QObject>

#include <chrono>
#include <functional>

namespace quotalume {

// Qt decides once per process, when the first tray icon is made, whether it speaks
// StatusNotifierItem (a host registered with org.kde.StatusNotifierWatcher) or falls back to
// XEmbed. Started at login, the panel may not have registered yet, so this waits a little for
// it, without blocking the event loop, before any tray icon exists.
class StatusNotifierProbe final : public QObject {
    Q_OBJECT

public:
    // `done(true)` as soon as a host is registered; `done(false)` after `patience` without one,
    // or at once without a session bus. Never calls back after `context` (required) is gone.
    static void await(QDBusConnection bus, std::chrono::milliseconds patience, QObject* context,
                      std::function<void(bool hostRegistered)> done);

private:
    StatusNotifierProbe(QDBusConnection bus, std::chrono::milliseconds patience, QObject* context,
                        std::function<void(bool)> done);
    void ask();
    void finish(bool hostRegistered);

    QDBusConnection bus_;
    std::function<void(bool)> done_;
    std::chrono::steady_clock::time_point deadline_;
    bool finished_ = false;
};

}  // namespace quotalume
