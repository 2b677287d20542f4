#include "setup.hpp"

#include <exception>

namespace quotalume {

Setup::Setup(Ports ports, const std::filesystem::path& dataDirectory, FileOperations operations,
             bool demo)
    : ports_(std::move(ports)), store_(dataDirectory, std::move(operations)), demo_(demo) {}

void Setup::feedback(std::optional<LocalizedMessage>& shown,
                     std::optional<LocalizedMessage> message) {
    shown = std::move(message);
    ports_.published();
}

void Setup::loadReceiver() {
    try {
        ports_.receiver.configuration = store_.loadForSending();
        ports_.receiver.warning.reset();
    } catch (const std::exception& error) {
        ports_.receiver.warning = LocalizedMessage::from(error);
        webhookFeedback_ = ports_.receiver.warning;
    }
}

bool Setup::saveWebhook(const WebhookConfiguration& configuration, bool enabled) {
    // Switching the webhook off with no address needs no valid address.
    if (enabled || !configuration.url.empty()) {
        try {
            (void)configuration.validatedURL();
        } catch (const std::exception& error) {
            feedback(webhookFeedback_, LocalizedMessage::from(error));
            return false;
        }
    }
    if (demo_) {
        feedback(webhookFeedback_, LocalizedMessage("webhook.demo"));
        return true;
    }
    try {
        store_.save(configuration);
    } catch (const std::exception& error) {
        feedback(webhookFeedback_, LocalizedMessage::from(error));
        return false;
    }
    ports_.receiver.configuration = configuration;
    ports_.receiver.warning.reset();
    Settings next = ports_.preferences.settings();
    next.webhookEnabled = enabled;
    ports_.preferences.setSettings(next);
    feedback(webhookFeedback_,
             LocalizedMessage(enabled ? "webhook.saved_on" : "webhook.saved_off"));
    return true;
}

WebhookConfiguration Setup::loadWebhook() {
    if (demo_) {
        return {};
    }
    if (ports_.receiver.configuration) {
        return *ports_.receiver.configuration;
    }
    try {
        WebhookConfiguration loaded = store_.load();
        if (!loaded.url.empty()) {
            ports_.receiver.configuration = loaded;
        }
        return loaded;
    } catch (const std::exception& error) {
        feedback(webhookFeedback_, LocalizedMessage::from(error));
        return {};
    }
}

Task Setup::runTestWebhook(WebhookConfiguration configuration) {
    if (demo_ || isTestingWebhook_) {
        co_return;
    }
    isTestingWebhook_ = true;
    feedback(webhookFeedback_, std::nullopt);
    auto sending =
        ports_.announcer.sendWebhook(ResetEvent::test(ports_.clock.now()), configuration, true);
    WebhookResult failure = co_await sending;
    isTestingWebhook_ = false;
    feedback(webhookFeedback_,
             failure ? failure->message : LocalizedMessage("webhook.test_success"));
}

Task Setup::runTestNotification() {
    if (demo_) {
        co_return;
    }
    if (ports_.notifier.authorization() == NotificationAuthorization::notDetermined) {
        auto asking = requestAuthorization();
        co_await asking;
        auto permission = refreshPermission();
        co_await permission;
    }
    auto notifying = ports_.announcer.notify(ResetEvent::test(ports_.clock.now()),
                                             ports_.preferences.settings().notificationSound, true);
    auto outcome = co_await notifying;
    feedback(notificationFeedback_, outcome ? *outcome : LocalizedMessage("notification.failed"));
}

Task Setup::runAskPermission() {
    auto permission = refreshPermission();
    co_await permission;
    if (ports_.notifier.authorization() == NotificationAuthorization::notDetermined &&
        ports_.preferences.settings().notificationsEnabled) {
        auto asking = requestAuthorization();
        co_await asking;
        auto again = refreshPermission();
        co_await again;
    }
}

void Setup::readLoginItem() {
    loginItemEnabled_ = ports_.loginItems.status() == LoginItemStatus::enabled;
}

void Setup::setLaunchAtLogin(bool enabled) {
    if (demo_) {
        return;
    }
    if (ports_.loginItems.setRegistered(enabled)) {
        const LoginItemStatus status = ports_.loginItems.status();
        loginItemEnabled_ = status == LoginItemStatus::enabled;
        feedback(loginItemFeedback_, status == LoginItemStatus::approvalRequired
                                         ? std::optional(LocalizedMessage("login.approval"))
                                         : std::nullopt);
    } else {
        feedback(loginItemFeedback_, LocalizedMessage("login.failed"));
    }
}

Answer<Done> Setup::requestAuthorization() {
    return {
        alive_, [this](std::function<void(Done)> done) {
            ports_.notifications.requestAuthorization([done = std::move(done)] { done(Done{}); });
        }};
}

Answer<Done> Setup::refreshPermission() {
    return {alive_, [this](std::function<void(Done)> done) {
                ports_.notifier.refreshPermission([done = std::move(done)] { done(Done{}); });
            }};
}

}  // namespace quotalume
