#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <vector>

namespace quotalume::test {

// Records Notify calls on the test's bus; can refuse them, or hold them or the permission check,
// and tells of actions as a user's click would.
class NotificationServer final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Call {
        QString appName;
        uint replacesId;
        QString appIcon, summary, body;
        QStringList actions;
        QVariantMap hints;
        int expireTimeout;
        uint id = 0;  // the one given back
    };

    NotificationServer(QDBusConnection bus, QStringList capabilities);
    ~NotificationServer() override;

    bool registered_ = false;
    std::vector<Call> calls;
    QString failWith;                    // an error name Notify answers with
    bool holdNotify = false;             // Notify calls wait in `held` for release()
    bool holdServerInformation = false;  // so do GetServerInformation calls

    std::size_t heldCount() const { return held_.size(); }
    // Answers every held call, in order.
    void release();

public slots:
    uint Notify(const QString& appName, uint replacesId, const QString& appIcon,
                const QString& summary, const QString& body, const QStringList& actions,
                const QVariantMap& hints, int expireTimeout);
    QStringList GetCapabilities() { return capabilities_; }
    QString GetServerInformation(QString& vendor, QString& version, QString& specVersion);

signals:
    void NotificationClosed(uint id, uint reason);
    void ActionInvoked(uint id, const QString& actionKey);
    void ActivationToken(uint id, const QString& activationToken);

private:
    QDBusConnection bus_;
    QStringList capabilities_;
    uint nextId_ = 1;
    std::vector<QDBusMessage> held_;  // replies ready to send
};

}  // namespace quotalume::test
