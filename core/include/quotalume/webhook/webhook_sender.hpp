#pragma once

#include <quotalume/reset/announcement.hpp>
#include <quotalume/support/date.hpp>
#include <quotalume/webhook/webhook_configuration.hpp>
#include <quotalume/webhook/webhook_transport.hpp>

#include <functional>
#include <memory>

namespace quotalume {

// Sends one reset or warning to the receiver once and judges the answer. Keeps nothing between
// sends.
class WebhookSender {
public:
    using Clock = std::function<Date()>;

    // libcurl and the system clock.
    WebhookSender();
    WebhookSender(std::shared_ptr<WebhookTransport> transport, Clock clock);

    // Returns when the receiver accepted the event. Throws the builder's errors unchanged
    // (nothing is sent then), or WebhookDeliveryError:
    //   "error.webhook_network"  the request could not be carried out       retryable
    //   "error.webhook_response" the answer was not an HTTP response          retryable
    //   "error.webhook_http" {status}  status outside 200–299   retryable for 429 and ≥ 500
    //   "error.bot_response"     feishu/wecom: no integral result code          final
    //   "error.bot_rejected" {code}    feishu/wecom: result code other than 0   final
    void send(const Announcement& announcement, const WebhookConfiguration& configuration,
              bool isTest) const;

    // The judging part of `send`, for callers that carry the request out themselves.
    static void judge(WebhookFormat format, const WebhookResponse& response);

private:
    std::shared_ptr<WebhookTransport> transport_;
    Clock clock_;
};

}  // namespace quotalume
