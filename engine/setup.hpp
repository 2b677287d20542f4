#pragma once

#include "announcer.hpp"
#include "local_notifier.hpp"
#include "ports.hpp"
#include "preferences_model.hpp"
#include "task.hpp"

#include <quotalume/l10n/localized_message.hpp>
#include <quotalume/webhook/webhook_configuration.hpp>
#include <quotalume/webhook/webhook_configuration_store.hpp>

#include <functional>
#include <memory>
#include <optional>

namespace quotalume {

// The webhook receiver the engine sends to: the configuration loaded for sending, or why it
// could not be used.
struct Receiver {
    std::optional<WebhookConfiguration> configuration;
    std::optional<LocalizedMessage> warning;
};

// What the settings pages do besides choosing preferences: the receiver's configuration, the
// test sends, the notification permission and the login item, each with the feedback it shows.
class Setup {
public:
    struct Ports {
        WallClock& clock;
        NotificationCenter& notifications;
        LoginItemService& loginItems;
        LocalNotifier& notifier;
        Announcer& announcer;
        PreferencesModel& preferences;
        Receiver& receiver;
        std::function<void()> published;
    };

    Setup(Ports ports, const std::filesystem::path& dataDirectory, FileOperations operations,
          bool demo);
    Setup(const Setup&) = delete;
    Setup& operator=(const Setup&) = delete;

    // Loads the receiver for sending; a file that cannot be used is said, and tried again later.
    void loadReceiver();
    bool saveWebhook(const WebhookConfiguration& configuration, bool enabled);
    WebhookConfiguration loadWebhook();
    void testWebhook(const WebhookConfiguration& configuration) { runTestWebhook(configuration); }
    void testNotification() { runTestNotification(); }
    // Asked at most once a start, and only of a user who has not answered yet.
    void askPermissionOnce() { runAskPermission(); }
    void readLoginItem();
    void setLaunchAtLogin(bool enabled);

    bool isTestingWebhook() const { return isTestingWebhook_; }
    const std::optional<LocalizedMessage>& webhookFeedback() const { return webhookFeedback_; }
    const std::optional<LocalizedMessage>& notificationFeedback() const {
        return notificationFeedback_;
    }
    const std::optional<LocalizedMessage>& loginItemFeedback() const { return loginItemFeedback_; }
    bool loginItemEnabled() const { return loginItemEnabled_; }

private:
    Task runTestWebhook(WebhookConfiguration configuration);
    Task runTestNotification();
    Task runAskPermission();
    Answer<Done> requestAuthorization();
    Answer<Done> refreshPermission();
    void feedback(std::optional<LocalizedMessage>& shown, std::optional<LocalizedMessage> message);

    Ports ports_;
    WebhookConfigurationStore store_;
    const bool demo_;
    bool isTestingWebhook_ = false;
    std::optional<LocalizedMessage> webhookFeedback_;
    std::optional<LocalizedMessage> notificationFeedback_;
    std::optional<LocalizedMessage> loginItemFeedback_;
    bool loginItemEnabled_ = false;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace quotalume
