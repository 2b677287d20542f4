#include "freedesktop_notification_center.hpp"

#include "notifications_proxy.h"

#include <quotalume/support/text.hpp>

#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QMetaObject>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QVariantMap>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <map>
#include <utility>

namespace quotalume {
namespace {

const QString serviceName = QStringLiteral("org.freedesktop.Notifications");
// The server's error name (at most 255 bytes on the bus) stands in for a platform code.
LocalizedMessage failureMessage(const QDBusError& error) {
    QString name = error.name().left(255);
    if (name.isEmpty()) {
        name = QDBusError::errorString(QDBusError::Failed);
    }
    return LocalizedMessage("error.system", {name.toStdString()});
}

// The call to the service was made: the bus starts an activatable one itself, so an unknown
// name or a service that fails to start means there is none to be had.
NotificationAuthorization refusal(const QDBusError& error) {
    const QString name = error.name();
    if (error.type() == QDBusError::ServiceUnknown ||
        name.startsWith(QLatin1String("org.freedesktop.DBus.Error.Spawn."))) {
        return NotificationAuthorization::unavailable;
    }
    return NotificationAuthorization::denied;
}

QString escapeMarkup(const QString& text) {
    QString escaped;
    escaped.reserve(text.size());
    for (QChar c : text) {
        switch (c.unicode()) {
            case '&':
                escaped += QLatin1String("&amp;");
                break;
            case '<':
                escaped += QLatin1String("&lt;");
                break;
            case '>':
                escaped += QLatin1String("&gt;");
                break;
            case '"':
                escaped += QLatin1String("&quot;");
                break;
            case '\'':
                escaped += QLatin1String("&#39;");
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

QVariantMap hints(bool sound) {
    QVariantMap hints{
        {QStringLiteral("desktop-entry"), QStringLiteral("quotalume")},
        // No standard category names a quota; a reset makes the account usable again, much as
        // a contact coming back online, and unlike "im.received" it is not filed as a chat.
        {QStringLiteral("category"), QStringLiteral("presence.online")},
        {QStringLiteral("urgency"), QVariant::fromValue<uchar>(1)},  // normal, sent as a byte
    };
    if (sound) {
        hints.insert(QStringLiteral("sound-name"), QStringLiteral("message-new-instant"));
    } else {
        hints.insert(QStringLiteral("suppress-sound"), true);
    }
    return hints;
}

}  // namespace

// Owns the proxy and every pending call: deleting it drops their callbacks.
class FreedesktopNotificationCenter::Session final : public QObject {
public:
    Session(const QDBusConnection& bus, std::chrono::milliseconds callTimeout)
        : proxy_(serviceName, QStringLiteral("/org/freedesktop/Notifications"), bus, this),
          owner_(serviceName, bus, QDBusServiceWatcher::WatchForOwnerChange, this) {
        proxy_.setTimeout(static_cast<int>(callTimeout.count()));
        connect(&proxy_, &NotificationsProxy::NotificationClosed, this, [this](uint id, uint) {
            std::erase_if(ids_, [id](auto& e) { return e.second == id; });
        });
        // Ids belong to the server that gave them; another one may have given them to others.
        connect(&owner_, &QDBusServiceWatcher::serviceOwnerChanged, this,
                [this] { forgetServer(); });
    }

    NotificationsProxy& proxy() { return proxy_; }

    // Calls `handler` with the reply later, on this thread, unless this object is gone first.
    template <typename Reply, typename Handler>
    void await(QDBusPendingCall call, Handler handler) {
        if (call.isFinished()) {  // a call that could not be sent (no bus) finished at once
            QMetaObject::invokeMethod(
                this, [call, handler = std::move(handler)]() mutable { handler(Reply(call)); },
                Qt::QueuedConnection);
            return;
        }
        auto* watcher = new QDBusPendingCallWatcher(call, this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [watcher, handler = std::move(handler)]() mutable {
                    watcher->deleteLater();
                    handler(Reply(*watcher));
                });
    }

    struct Post {
        NotificationRequest request;
        std::function<void(std::optional<LocalizedMessage>)> done;
    };

    // One post at a time, so a quick re-post of an event still knows the id it replaces.
    void enqueue(Post post) {
        queue_.push_back(std::move(post));
        if (!busy_) {
            next();
        }
    }

private:
    void next() {
        if (queue_.empty()) {
            return;
        }
        busy_ = true;
        if (bodyMarkup_) {
            notify();
            return;
        }
        await<QDBusPendingReply<QStringList>>(
            proxy_.GetCapabilities(), [this](const QDBusPendingReply<QStringList>& reply) {
                // A server that cannot say still gets the notification, as plain text.
                if (!reply.isError()) {
                    adopt(reply.reply().service());
                    bodyMarkup_ = reply.value().contains(QStringLiteral("body-markup"));
                }
                notify();
            });
    }

    void notify() {
        const NotificationRequest& request = queue_.front().request;
        QStringList lines;
        for (const std::string* part : {&request.subtitle, &request.body}) {
            if (!part->empty()) {
                lines.append(QString::fromStdString(*part));
            }
        }
        QString body = lines.join(QLatin1Char('\n'));
        if (bodyMarkup_.value_or(false)) {
            body = escapeMarkup(body);
        }
        const auto known = ids_.find(request.identifier);
        const uint replaces = known != ids_.end() ? known->second : 0;
        await<QDBusPendingReply<uint>>(
            proxy_.Notify(QStringLiteral("Quotalume"), replaces, QStringLiteral("quotalume"),
                          QString::fromStdString(request.title), body, {}, hints(request.sound),
                          -1),
            [this](const QDBusPendingReply<uint>& reply) {
                Post post = std::move(queue_.front());
                queue_.pop_front();
                busy_ = false;
                std::optional<LocalizedMessage> failure;
                if (reply.isError() && (reply.error().type() == QDBusError::NoReply ||
                                        reply.error().type() == QDBusError::Timeout)) {
                    // The call was sent; a slow server may show it after we stopped waiting.
                    failure = LocalizedMessage("notification.unconfirmed");
                } else if (reply.isError()) {
                    failure = failureMessage(reply.error());
                } else {
                    adopt(reply.reply().service());
                    if (reply.value() != 0) {
                        ids_[post.request.identifier] = reply.value();
                    }
                }
                next();
                post.done(std::move(failure));  // last: it may destroy this object
            });
    }

    // The unique name that answered; a different one than before is a new server.
    void adopt(const QString& sender) {
        if (sender.isEmpty() || sender == server_) {
            return;
        }
        if (!server_.isEmpty()) {
            forgetServer();
        }
        server_ = sender;
    }

    void forgetServer() {
        ids_.clear();
        bodyMarkup_.reset();
        server_.clear();
    }

    NotificationsProxy proxy_;
    QDBusServiceWatcher owner_;
    std::deque<Post> queue_;
    bool busy_ = false;
    QString server_;                   // unique name of the server the state below is from
    std::optional<bool> bodyMarkup_;   // asked once per server
    std::map<std::string, uint> ids_;  // request identifier → the server's notification id
};

FreedesktopNotificationCenter::FreedesktopNotificationCenter(QDBusConnection bus,
                                                             std::chrono::milliseconds callTimeout)
    : session_(std::make_unique<Session>(bus, callTimeout)) {}

FreedesktopNotificationCenter::~FreedesktopNotificationCenter() = default;

void FreedesktopNotificationCenter::authorization(
    std::function<void(NotificationAuthorization)> done) {
    using Reply = QDBusPendingReply<QString, QString, QString, QString>;
    session_->await<Reply>(
        session_->proxy().GetServerInformation(), [done = std::move(done)](const Reply& reply) {
            done(reply.isError() ? refusal(reply.error()) : NotificationAuthorization::authorized);
        });
}

void FreedesktopNotificationCenter::requestAuthorization(std::function<void()> done) {
    // Nothing to ask: a server either runs or not, and the caller checks again afterwards.
    QMetaObject::invokeMethod(session_.get(), std::move(done), Qt::QueuedConnection);
}

void FreedesktopNotificationCenter::post(
    const NotificationRequest& request, std::function<void(std::optional<LocalizedMessage>)> done) {
    session_->enqueue({request, std::move(done)});
}

namespace {

std::optional<FreedesktopNotificationCenter::Command> desktopSettingsCommand() {
    const char* desktops = std::getenv("XDG_CURRENT_DESKTOP");
    return FreedesktopNotificationCenter::settingsCommand(
        desktops != nullptr ? desktops : "", [](const std::string& name) {
            return QStandardPaths::findExecutable(QString::fromStdString(name)).toStdString();
        });
}

}  // namespace

void FreedesktopNotificationCenter::openSettings() {
    auto command = desktopSettingsCommand();
    if (!command) {
        return;
    }
    QStringList arguments;
    for (const auto& argument : command->arguments) {
        arguments.append(QString::fromStdString(argument));
    }
    QProcess::startDetached(QString::fromStdString(command->program), arguments);
}

bool FreedesktopNotificationCenter::canOpenSettings() const {
    return desktopSettingsCommand().has_value();
}

std::optional<FreedesktopNotificationCenter::Command>
FreedesktopNotificationCenter::settingsCommand(
    std::string_view desktops, const std::function<std::string(const std::string&)>& find) {
    struct Tool {
        std::string_view desktop;
        const char* program;
        const char* argument;  // may be null
    };
    static constexpr Tool tools[] = {
        {"GNOME", "gnome-control-center", "notifications"},
        {"Unity", "gnome-control-center", "notifications"},
        {"Budgie", "budgie-control-center", "notifications"},
        {"Budgie", "gnome-control-center", "notifications"},
        {"KDE", "systemsettings", "kcm_notifications"},
        {"KDE", "systemsettings5", "kcm_notifications"},
        {"XFCE", "xfce4-notifyd-config", nullptr},
        {"X-Cinnamon", "cinnamon-settings", "notifications"},
        {"Cinnamon", "cinnamon-settings", "notifications"},
    };
    for (const std::string& desktop : split(desktops, ':')) {
        for (const Tool& tool : tools) {
            if (asciiLowercased(tool.desktop) != asciiLowercased(desktop)) {
                continue;
            }
            if (std::string path = find(tool.program); !path.empty()) {
                Command command{std::move(path), {}};
                if (tool.argument != nullptr) {
                    command.arguments.emplace_back(tool.argument);
                }
                return command;
            }
        }
    }
    return std::nullopt;
}

}  // namespace quotalume
