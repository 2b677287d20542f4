#include <quotalume/webhook/webhook_request_builder.hpp>

#include "webhook_signature.hpp"

#include <quotalume/webhook/webhook_payload.hpp>

#include <quotalume/support/text.hpp>
#include <quotalume/version.hpp>

#include <strings.h>

#include <cerrno>
#include <system_error>
#include <type_traits>

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

WebhookRequest WebhookRequestBuilder::build(const Announcement& announcement,
                                            const WebhookConfiguration& configuration, bool isTest,
                                            Date now) {
    std::string body = std::visit(
        [&](const auto& what) {
            if constexpr (std::is_same_v<std::decay_t<decltype(what)>, ResetEvent>) {
                return webhookBody(WebhookPayload(what, isTest), configuration, now);
            } else {
                return webhookBody(WarningPayload(what), configuration, now);
            }
        },
        announcement);
    const std::string& id = announcementId(announcement);
    WebhookRequest request{"POST", configuration.validatedURL(), {}, std::move(body)};
    request.headers = {
        {"Content-Type", "application/json; charset=utf-8"},
        {"User-Agent", std::string("Quotalume/") + quotalumeVersion},
        {"Idempotency-Key", id},
        {"X-Quotalume-Event-ID", id},
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
    // A line break in any value would end the header and start one of the caller's choosing.
    for (const auto& [name, value] : request.headers) {
        if (hasControlCharacter(value)) {
            throw std::system_error(EINVAL, std::generic_category(), "header " + name);
        }
    }
    return request;
}

}  // namespace quotalume
