#include <quotalume/webhook/webhook_sender.hpp>

#include <quotalume/support/bounded_json.hpp>
#include <quotalume/webhook/webhook_delivery_error.hpp>
#include <quotalume/webhook/webhook_request_builder.hpp>

#include "../support/json_coding.hpp"

#include <nlohmann/json.hpp>

#include <cstdint>

namespace quotalume {
namespace {

using nlohmann::json;

// The member as decimal text when it is an integral JSON number; 0.0 counts as 0.
std::optional<std::string> integralCode(const json& member) {
    if (member.is_number_unsigned()) {
        return std::to_string(member.get<std::uint64_t>());
    }
    if (auto code = coding::integral(member)) {
        return std::to_string(*code);
    }
    return std::nullopt;
}

}  // namespace

WebhookSender::WebhookSender()
    : WebhookSender(std::make_shared<CurlWebhookTransport>(),
                    [] { return std::chrono::system_clock::now(); }) {}

WebhookSender::WebhookSender(std::shared_ptr<WebhookTransport> transport, Clock clock)
    : transport_(std::move(transport)), clock_(std::move(clock)) {}

void WebhookSender::send(const Announcement& announcement,
                         const WebhookConfiguration& configuration, bool isTest) const {
    WebhookRequest request =
        WebhookRequestBuilder::build(announcement, configuration, isTest, clock_());
    WebhookResponse response;
    try {
        response = transport_->perform(request);
    } catch (const WebhookDeliveryError&) {
        throw;  // a transport that judged the failure itself
    } catch (...) {
        // The transport's own description is dropped: only the key reaches the user.
        throw WebhookDeliveryError(LocalizedMessage("error.webhook_network"), true);
    }
    judge(configuration.format, response);
}

void WebhookSender::judge(WebhookFormat format, const WebhookResponse& response) {
    if (!response.statusCode) {
        throw WebhookDeliveryError(LocalizedMessage("error.webhook_response"), true);
    }
    const int status = *response.statusCode;
    if (status < 200 || status > 299) {
        throw WebhookDeliveryError(LocalizedMessage("error.webhook_http", {std::to_string(status)}),
                                   status == 429 || status > 499);
    }
    if (format != WebhookFormat::feishu && format != WebhookFormat::wecom) {
        return;
    }
    // Bots answer 200 and put their verdict in the body.
    json answer = parseBoundedJSON(response.body);
    if (answer.is_discarded() || !answer.is_object()) {
        throw WebhookDeliveryError(LocalizedMessage("error.bot_response"), false);
    }
    for (const char* key : {"code", "errcode", "StatusCode"}) {
        auto member = answer.find(key);
        if (member == answer.end()) {
            continue;
        }
        if (auto code = integralCode(*member)) {
            if (*code != "0") {
                throw WebhookDeliveryError(LocalizedMessage("error.bot_rejected", {*code}), false);
            }
            return;
        }
    }
    throw WebhookDeliveryError(LocalizedMessage("error.bot_response"), false);
}

}  // namespace quotalume
