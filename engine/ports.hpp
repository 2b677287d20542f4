#pragma once

#include <quotalume/codex/codex_client.hpp>
#include <quotalume/codex/codex_configuration.hpp>
#include <quotalume/l10n/localized_message.hpp>
#include <quotalume/reset/announcement.hpp>
#include <quotalume/support/date.hpp>
#include <quotalume/usage/usage_snapshot.hpp>
#include <quotalume/webhook/webhook_configuration.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>

// The engine's view of the world. Every callback given to a port runs exactly once, later, on
// the main loop: never inside the call that takes it, and never after the port has been
// destroyed (a destroyed port drops its callbacks uncalled).
namespace quotalume {

using Duration = std::chrono::milliseconds;

// What a timer, a signal or an observer gives back: it runs until this handle is destroyed.
class Subscription {
public:
    virtual ~Subscription() = default;
};
using TimerHandle = Subscription;

class MainLoop {
public:
    virtual ~MainLoop() = default;
    // Runs `work` on the main loop soon; callable from any thread.
    virtual void post(std::function<void()> work) = 0;
    virtual std::unique_ptr<TimerHandle> startTimer(Duration delay, bool repeating,
                                                    std::function<void()> fire) = 0;
};

class WallClock {
public:
    virtual ~WallClock() = default;
    virtual Date now() const = 0;
};

// One reading of the limits, or the message of its failure.
using FetchResult = std::variant<UsageSnapshot, LocalizedMessage>;

class CodexSource {
public:
    virtual ~CodexSource() = default;
    virtual void fetch(const CodexConfiguration& configuration, CodexClient::Depth depth,
                       std::function<void(FetchResult)> done) = 0;
};

// Absent on success; otherwise the message and whether the receiver may be tried again.
struct WebhookFailure {
    LocalizedMessage message;
    bool retryable = false;
};
using WebhookResult = std::optional<WebhookFailure>;

class WebhookPort {
public:
    virtual ~WebhookPort() = default;
    virtual void send(const Announcement& announcement, const WebhookConfiguration& configuration,
                      bool isTest, std::function<void(WebhookResult)> done) = 0;
};

// `unavailable`: no notification service runs, and the bus cannot start one.
enum class NotificationAuthorization {
    notDetermined,
    denied,
    authorized,
    provisional,
    ephemeral,
    unavailable,
};

// A test notification shows as a reset's would.
enum class NotificationKind { reset, warning };
// Critical asks the desktop to keep it on screen: the user must act now.
enum class NotificationUrgency { normal, critical };

struct NotificationRequest {
    std::string identifier;  // the event id: posting it again replaces the earlier one
    std::string title;
    std::string subtitle;
    std::string body;
    bool sound = true;
    std::string threadIdentifier;
    NotificationKind kind = NotificationKind::reset;
    NotificationUrgency urgency = NotificationUrgency::normal;
    friend bool operator==(const NotificationRequest&, const NotificationRequest&) = default;
};

class NotificationCenter {
public:
    virtual ~NotificationCenter() = default;
    virtual void authorization(std::function<void(NotificationAuthorization)> done) = 0;
    // Failures are ignored by every caller; done runs either way.
    virtual void requestAuthorization(std::function<void()> done) = 0;
    // Absent on success, else the platform's failure; "notification.unconfirmed" when the server
    // did not answer in time and may have shown it all the same.
    virtual void post(const NotificationRequest& request,
                      std::function<void(std::optional<LocalizedMessage>)> done) = 0;
    virtual void openSettings() = 0;
    // Whether openSettings has a settings tool to open on this desktop.
    virtual bool canOpenSettings() const = 0;
};

enum class LoginItemStatus { disabled, enabled, approvalRequired };

class LoginItemService {
public:
    virtual ~LoginItemService() = default;
    virtual LoginItemStatus status() const = 0;
    // False when the platform refused.
    virtual bool setRegistered(bool registered) = 0;
};

// Wake from sleep and a change of the system's locale.
class SystemSignals {
public:
    virtual ~SystemSignals() = default;
    virtual std::unique_ptr<Subscription> onWake(std::function<void()> wake) = 0;
    virtual std::unique_ptr<Subscription> onLocaleChange(std::function<void()> change) = 0;
};

// The right to be the engine for the data folder: only its holder detects, records and
// announces resets, so two processes never announce one reset twice.
class EngineGuard {
public:
    virtual ~EngineGuard() = default;
    // Takes the right when it can; nothing once held (and from then on), otherwise why not.
    virtual std::optional<LocalizedMessage> claim() = 0;
};

}  // namespace quotalume
