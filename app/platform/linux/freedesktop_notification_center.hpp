#pragma once

#include "ports.hpp"

#include <QDBusConnection>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quotalume {

// Desktop notifications through the notification server on the session bus
// (org.freedesktop.Notifications). Permission means that a server answers. Every call is
// asynchronous; what is still pending when this object goes away is dropped uncalled.
class FreedesktopNotificationCenter final : public NotificationCenter {
public:
    // A server that hangs must not hold a notification back for the bus's default 25 s; one
    // that answers after `callTimeout` is reported as "notification.unconfirmed".
    static constexpr std::chrono::milliseconds defaultCallTimeout{10'000};

    explicit FreedesktopNotificationCenter(
        QDBusConnection bus = QDBusConnection::sessionBus(),
        std::chrono::milliseconds callTimeout = defaultCallTimeout);
    ~FreedesktopNotificationCenter() override;
    FreedesktopNotificationCenter(const FreedesktopNotificationCenter&) = delete;
    FreedesktopNotificationCenter& operator=(const FreedesktopNotificationCenter&) = delete;

    void authorization(std::function<void(NotificationAuthorization)> done) override;
    void requestAuthorization(std::function<void()> done) override;
    void post(const NotificationRequest& request,
              std::function<void(std::optional<LocalizedMessage>)> done) override;
    void openSettings() override;
    bool canOpenSettings() const override;

    // Runs when the user activates one of the notifications this center posted, with the
    // desktop's activation token for the window it opens (empty when none came, or not a valid
    // one). Until it is set, notifications carry no action: nothing would answer it.
    using Activated = std::function<void(const std::string& activationToken)>;
    void setActivated(Activated activated);

    struct Command {
        std::string program;  // absolute path
        std::vector<std::string> arguments;
        friend bool operator==(const Command&, const Command&) = default;
    };
    // The desktop's notification settings tool for XDG_CURRENT_DESKTOP (a colon list), when
    // `find` (a name → its path, empty when missing) finds it.
    static std::optional<Command> settingsCommand(
        std::string_view desktops, const std::function<std::string(const std::string&)>& find);

private:
    class Session;
    std::unique_ptr<Session> session_;
};

}  // namespace quotalume
