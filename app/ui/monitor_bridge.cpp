#include "monitor_bridge.hpp"

#include <QMetaObject>

#include <exception>

namespace quotalume {

MonitorBridge::MonitorBridge(Engine& monitor, QObject* parent)
    : QObject(parent),
      monitor_(monitor),
      subscription_(monitor.subscribe([this] { schedule(); })) {}

MonitorBridge::~MonitorBridge() = default;

void MonitorBridge::schedule() {
    if (pending_) {
        return;
    }
    pending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            pending_ = false;
            Q_EMIT changed();
        },
        Qt::QueuedConnection);
}

}  // namespace quotalume
