#include <quotalume/webhook/webhook_payload.hpp>

#include "webhook_json_writer.hpp"
#include "webhook_signature.hpp"

#include <quotalume/l10n/l10n.hpp>

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
                     : reset.notificationTitle() + "\n" + L10n::render("reset.full") + "\n" +
                           announcedName(reset.bucketId, reset.bucketName, reset.window)),
      accountLabel(reset.accountLabel) {}

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
    if (accountLabel) {
        object["account_label"] = *accountLabel;
    }
    return writeWebhookJSON(object, SlashEscaping::none);
}

WarningPayload::WarningPayload(LimitWarning warning)
    : warning(std::move(warning)), message(this->warning.message()) {}

std::string WarningPayload::encoded() const {
    json object = {
        {"schema_version", WebhookPayload::schemaVersion},
        {"event", event},
        {"event_id", warning.id},
        {"observed_at", iso8601(warning.observedAt)},
        {"bucket_id", warning.bucketId},
        {"bucket_name", warning.bucketName},
        {"reason", rawValue(warning.reason)},
        {"message", message},
    };
    if (warning.window) {
        object["window"] = apiName(*warning.window);
        object["window_duration_mins"] = minutes(*warning.window);
    }
    for (const auto& [key, share] : {std::pair("used_percent", &warning.usedPercent),
                                     std::pair("remaining_percent", &warning.remainingPercent)}) {
        if (*share) {
            object[key] = **share;
        }
    }
    for (const auto& [key, date] :
         {std::pair("reset_at", &warning.resetAt), std::pair("runs_out_at", &warning.runsOutAt),
          std::pair("credit_expires_at", &warning.creditExpiresAt)}) {
        if (*date) {
            object[key] = iso8601(**date);
        }
    }
    if (warning.levelPercent) {
        object["level_percent"] = *warning.levelPercent;
    }
    if (warning.detail) {
        object["detail"] = *warning.detail;
    }
    if (warning.creditTitle) {
        object["credit_title"] = *warning.creditTitle;
    }
    if (warning.accountLabel) {
        object["account_label"] = *warning.accountLabel;
    }
    // A moved reset names both times, as a reset's payload does.
    if (warning.previousResetAt) {
        object["previous_reset_at"] = iso8601(*warning.previousResetAt);
        if (warning.resetAt) {
            object["next_reset_at"] = iso8601(*warning.resetAt);
        }
    }
    return writeWebhookJSON(object, SlashEscaping::none);
}

namespace {

// The chat formats carry only the message.
std::string chatBody(const std::string& message, const WebhookConfiguration& configuration,
                     Date now) {
    json body;
    switch (configuration.format) {
        case WebhookFormat::json:
            break;  // the caller's own payload
        case WebhookFormat::slack:
            body = {{"text", message}};
            break;
        case WebhookFormat::discord:
            // A message must never ping anyone, whatever its text contains.
            body = {{"allowed_mentions", {{"parse", json::array()}}}, {"content", message}};
            break;
        case WebhookFormat::feishu:
            body = {{"content", {{"text", message}}}, {"msg_type", "text"}};
            if (!configuration.signingSecret.empty()) {
                std::string timestamp = webhookTimestamp(now);
                body["timestamp"] = timestamp;
                body["sign"] =
                    base64(hmacSHA256(timestamp + "\n" + configuration.signingSecret, ""));
            }
            break;
        case WebhookFormat::wecom:
            body = {{"msgtype", "text"}, {"text", {{"content", message}}}};
            break;
    }
    return writeWebhookJSON(body, SlashEscaping::backslash);
}

}  // namespace

std::string webhookBody(const WebhookPayload& payload, const WebhookConfiguration& configuration,
                        Date now) {
    return configuration.format == WebhookFormat::json
               ? payload.encoded()
               : chatBody(payload.message, configuration, now);
}

std::string webhookBody(const WarningPayload& payload, const WebhookConfiguration& configuration,
                        Date now) {
    return configuration.format == WebhookFormat::json
               ? payload.encoded()
               : chatBody(payload.message, configuration, now);
}

}  // namespace quotalume
