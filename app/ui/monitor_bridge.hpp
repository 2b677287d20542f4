#pragma once

#include "usage_monitor.hpp"

#include <quotalume/app_language.hpp>
#include <quotalume/localized_message.hpp>

#include <QObject>

#include <memory>
#include <optional>

namespace quotalume {

// The widgets' one view of the monitor. However many changes the monitor publishes in one
// turn, `changed` is emitted once, on the next turn of the event loop, so readers see the state
// after the change is complete. A language switch goes through here too, so every open view
// retitles itself from the same signal.
class MonitorBridge final : public QObject {
    Q_OBJECT

public:
    explicit MonitorBridge(UsageMonitor& monitor, QObject* parent = nullptr);
    ~MonitorBridge() override;

    UsageMonitor& monitor() const { return monitor_; }

    // Stores the interface language; the failure when the preferences could not be written.
    std::optional<LocalizedMessage> setLanguage(AppLanguage language);

Q_SIGNALS:
    void changed();

private:
    void schedule();

    UsageMonitor& monitor_;
    std::unique_ptr<Subscription> subscription_;
    bool pending_ = false;
};

}  // namespace quotalume
