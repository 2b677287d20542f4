#pragma once

#include "engine.hpp"

#include <quotalume/l10n/app_language.hpp>
#include <quotalume/l10n/localized_message.hpp>

#include <QObject>

#include <memory>
#include <optional>

namespace quotalume {

// The widgets' one view of the monitor. However many changes the monitor publishes in one
// turn, `changed` is emitted once, on the next turn of the event loop, so readers see the state
// after the change is complete. A language switch is published by the engine like any other
// change, so every open view retitles itself from the same signal.
class MonitorBridge final : public QObject {
    Q_OBJECT

public:
    explicit MonitorBridge(Engine& monitor, QObject* parent = nullptr);
    ~MonitorBridge() override;

    Engine& monitor() const { return monitor_; }

Q_SIGNALS:
    void changed();

private:
    void schedule();

    Engine& monitor_;
    std::unique_ptr<Subscription> subscription_;
    bool pending_ = false;
};

}  // namespace quotalume
