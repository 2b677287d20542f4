#include "freedesktop_notification_center.hpp"

#include "notifications_proxy.h"

#include <quotalume/coordination/local_protocol.hpp>
#include <quotalume/l10n/l10n.hpp>
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
#include <ranges>
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

const QString dashboardActionKey = QStringLiteral("default");

QVariantMap hints(const NotificationRequest& request) {
    // No standard category names a quota, and a borrowed one files it as something it is not.
    const bool warning = request.kind == NotificationKind::warning;
    QVariantMap hints{
        {QStringLiteral("desktop-entry"), QStringLiteral("quotalume")},
        {QStringLiteral("category"),
         warning ? QStringLiteral("x-quotalume.warning") : QStringLiteral("x-quotalume.reset")},
        {QStringLiteral("urgency"), QVariant::fromValue<uchar>(1)},  // normal, sent as a byte
    };
    if (request.urgency == NotificationUrgency::critical) {
        hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(2));
    }
    if (request.sound) {
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
        // Servers tell of an action before they close its notification, so an id is ours until
        // then.
        connect(&proxy_, &NotificationsProxy::NotificationClosed, this, [this](uint id, uint) {
            std::erase_if(ids_, [id](auto& e) { return e.second == id; });
        });
        connect(&proxy_, &NotificationsProxy::ActivationToken, this,
                [this](uint id, const QString& token) {
                    if (posted(id) && local_protocol::isValidToken(token.toStdString())) {
                        token_ = {id, token.toStdString()};
                    }
                });
        connect(&proxy_, &NotificationsProxy::ActionInvoked, this,
                [this](uint id, const QString& key) { invoked(id, key); });
        // Ids belong to the server that gave them; another one may have given them to others.
        connect(&owner_, &QDBusServiceWatcher::serviceOwnerChanged, this,
                [this] { forgetServer(); });
    }

    NotificationsProxy& proxy() { return proxy_; }
    Activated activated;

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
        if (capabilities_) {
            notify();
            return;
        }
        await<QDBusPendingReply<QStringList>>(
            proxy_.GetCapabilities(), [this](const QDBusPendingReply<QStringList>& reply) {
                // A server that cannot say still gets the notification, as plain text.
                if (!reply.isError()) {
                    adopt(reply.reply().service());
                    Capabilities offered;
                    offered.bodyMarkup = reply.value().contains(QStringLiteral("body-markup"));
                    offered.actions = reply.value().contains(QStringLiteral("actions"));
                    capabilities_ = offered;
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
        const Capabilities capabilities = capabilities_.value_or(Capabilities{});
        if (capabilities.bodyMarkup) {
            body = escapeMarkup(body);
        }
        // A server without actions may show the pair as text, or refuse it.
        QStringList actions;
        if (capabilities.actions && activated) {
            actions = {dashboardActionKey,
                       QString::fromStdString(L10n::text("notification.open_dashboard"))};
        }
        const auto known = ids_.find(request.identifier);
        const uint replaces = known != ids_.end() ? known->second : 0;
        await<QDBusPendingReply<uint>>(
            proxy_.Notify(QStringLiteral("Quotalume"), replaces, QStringLiteral("quotalume"),
                          QString::fromStdString(request.title), body, actions, hints(request), -1),
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
        capabilities_.reset();
        token_.reset();
        server_.clear();
    }

    bool posted(uint id) const {
        const auto given = std::views::values(ids_);
        return std::ranges::find(given, id) != given.end();
    }

    // Others' notifications come from the same server, and their ids mean nothing to us.
    void invoked(uint id, const QString& key) {
        if (key != dashboardActionKey || !posted(id) || !activated) {
            return;
        }
        std::string token;
        if (token_ && token_->first == id) {
            token = std::move(token_->second);
        }
        token_.reset();
        activated(token);  // last: it may open windows, or start a process
    }

    struct Capabilities {
        bool bodyMarkup = false;
        bool actions = false;
    };

    NotificationsProxy proxy_;
    QDBusServiceWatcher owner_;
    std::deque<Post> queue_;
    bool busy_ = false;
    QString server_;                            // unique name of the server the state below is from
    std::optional<Capabilities> capabilities_;  // asked once per server
    std::map<std::string, uint> ids_;  // request identifier → the server's notification id
    std::optional<std::pair<uint, std::string>> token_;  // the last valid one for an id of ours
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

void FreedesktopNotificationCenter::setActivated(Activated activated) {
    session_->activated = std::move(activated);
}

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
