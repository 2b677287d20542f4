#include "monitor_bridge.hpp"

#include <quotalume/l10n.hpp>

#include <QMetaObject>

#include <exception>

namespace quotalume {

MonitorBridge::MonitorBridge(UsageMonitor& monitor, QObject* parent)
    : QObject(parent),
      monitor_(monitor),
      subscription_(monitor.subscribe([this] { schedule(); })) {}

MonitorBridge::~MonitorBridge() = default;

std::optional<LocalizedMessage> MonitorBridge::setLanguage(AppLanguage language) {
    std::optional<LocalizedMessage> failure;
    try {
        L10n::setPreference(language);
    } catch (const std::exception& error) {
        failure = LocalizedMessage::from(error);
    }
    schedule();
    return failure;
}

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
