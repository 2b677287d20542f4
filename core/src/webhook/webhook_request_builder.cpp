#include "webhook_signature.hpp"

#include <quotalume/webhook_payload.hpp>
#include <quotalume/webhook_request_builder.hpp>

#include <strings.h>

namespace quotalume {

const std::string* WebhookRequest::header(std::string_view name) const {
    for (const auto& [headerName, value] : headers) {
        if (headerName.size() == name.size() &&
            ::strncasecmp(headerName.data(), name.data(), name.size()) == 0) {
            return &value;
        }
    }
    return nullptr;
}

WebhookRequest WebhookRequestBuilder::build(const ResetEvent& event,
                                            const WebhookConfiguration& configuration, bool isTest,
                                            Date now) {
    std::string body = webhookBody(WebhookPayload(event, isTest), configuration, now);
    WebhookRequest request{"POST", configuration.validatedURL(), {}, std::move(body)};
    request.headers = {
        {"Content-Type", "application/json; charset=utf-8"},
        {"User-Agent", "Quotalume/1.0.0"},
        {"Idempotency-Key", event.id},
        {"X-Quotalume-Event-ID", event.id},
    };
    if (!configuration.bearerToken.empty()) {
        request.headers.emplace_back("Authorization", "Bearer " + configuration.bearerToken);
    }
    if (configuration.format == WebhookFormat::json && !configuration.signingSecret.empty()) {
        std::string timestamp = webhookTimestamp(now);
        std::string signature =
            hexadecimal(hmacSHA256(configuration.signingSecret, timestamp + "." + request.body));
        request.headers.emplace_back("X-Quotalume-Timestamp", timestamp);
        request.headers.emplace_back("X-Quotalume-Signature", "sha256=" + signature);
    }
    return request;
}

}  // namespace quotalume
