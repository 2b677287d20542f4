#include <quotalume/webhook_payload.hpp>

#include "webhook_json_writer.hpp"
#include "webhook_signature.hpp"

#include <quotalume/l10n.hpp>

#include <nlohmann/json.hpp>

namespace quotalume {

using nlohmann::json;

WebhookPayload::WebhookPayload(const ResetEvent& reset, bool isTest)
    : event(isTest ? "codex.webhook.test" : "codex.limit.reset"),
      eventId(reset.id),
      observedAt(reset.observedAt),
      bucketId(reset.bucketId),
      bucketName(reset.bucketName),
      window(apiName(reset.window)),
      windowDurationMins(minutes(reset.window)),
      previousUsedPercent(reset.previousUsedPercent),
      remainingPercent(reset.remainingPercent),
      previousResetAt(reset.previousResetAt),
      nextResetAt(reset.nextResetAt),
      reason(rawValue(reset.reason)),
      message(isTest ? L10n::render("webhook.test_message")
                     : L10n::render("reset.headline") + "\n" + L10n::render("reset.full") + "\n" +
                           L10n::render(titleKey(reset.window))) {}

std::string WebhookPayload::encoded() const {
    json object = {
        {"schema_version", schemaVersion},
        {"event", event},
        {"event_id", eventId},
        {"observed_at", iso8601(observedAt)},
        {"bucket_id", bucketId},
        {"bucket_name", bucketName},
        {"window", window},
        {"window_duration_mins", windowDurationMins},
        {"previous_used_percent", previousUsedPercent},
        {"remaining_percent", remainingPercent},
        {"reason", reason},
        {"message", message},
    };
    if (previousResetAt) {
        object["previous_reset_at"] = iso8601(*previousResetAt);
    }
    if (nextResetAt) {
        object["next_reset_at"] = iso8601(*nextResetAt);
    }
    return writeWebhookJSON(object, SlashEscaping::none);
}

std::string webhookBody(const WebhookPayload& payload, const WebhookConfiguration& configuration,
                        Date now) {
    json body;
    switch (configuration.format) {
        case WebhookFormat::json:
            return payload.encoded();
        case WebhookFormat::slack:
            body = {{"text", payload.message}};
            break;
        case WebhookFormat::discord:
            // A reset message must never ping anyone, whatever its text contains.
            body = {{"allowed_mentions", {{"parse", json::array()}}}, {"content", payload.message}};
            break;
        case WebhookFormat::feishu:
            body = {{"content", {{"text", payload.message}}}, {"msg_type", "text"}};
            if (!configuration.signingSecret.empty()) {
                std::string timestamp = webhookTimestamp(now);
                body["timestamp"] = timestamp;
                body["sign"] =
                    base64(hmacSHA256(timestamp + "\n" + configuration.signingSecret, ""));
            }
            break;
        case WebhookFormat::wecom:
            body = {{"msgtype", "text"}, {"text", {{"content", payload.message}}}};
            break;
    }
    return writeWebhookJSON(body, SlashEscaping::backslash);
}

}  // namespace quotalume
