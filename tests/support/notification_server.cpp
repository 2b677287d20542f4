#include "notification_server.hpp"

namespace quotalume::test {

namespace {

const QString serviceName = QStringLiteral("org.freedesktop.Notifications");
const QString objectPath = QStringLiteral("/org/freedesktop/Notifications");

}  // namespace

NotificationServer::NotificationServer(QDBusConnection bus, QStringList capabilities)
    : bus_(std::move(bus)), capabilities_(std::move(capabilities)) {
    bus_.registerObject(objectPath, this,
                        QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals);
    registered_ = bus_.registerService(serviceName);
}

NotificationServer::~NotificationServer() {
    bus_.unregisterService(serviceName);
    bus_.unregisterObject(objectPath);
}

void NotificationServer::release() {
    for (const QDBusMessage& reply : held_) {
        bus_.send(reply);
    }
    held_.clear();
}

uint NotificationServer::Notify(const QString& appName, uint replacesId, const QString& appIcon,
                                const QString& summary, const QString& body,
                                const QStringList& actions, const QVariantMap& hints,
                                int expireTimeout) {
    calls.push_back({appName, replacesId, appIcon, summary, body, actions, hints, expireTimeout});
    if (!failWith.isEmpty()) {
        sendErrorReply(failWith, QStringLiteral("refused"));
        return 0;
    }
    const uint id = replacesId != 0 ? replacesId : nextId_++;
    calls.back().id = id;
    if (holdNotify) {
        setDelayedReply(true);
        held_.push_back(message().createReply(QVariant::fromValue(id)));
    }
    return id;
}

QString NotificationServer::GetServerInformation(QString& vendor, QString& version,
                                                 QString& specVersion) {
    vendor = QStringLiteral("Tests");
    version = QStringLiteral("1");
    specVersion = QStringLiteral("1.2");
    if (holdServerInformation) {
        setDelayedReply(true);
        held_.push_back(
            message().createReply({QStringLiteral("test-server"), vendor, version, specVersion}));
    }
    return QStringLiteral("test-server");
}

}  // namespace quotalume::test
