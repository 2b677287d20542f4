#pragma once

#include <quotalume/reset/limit_warning.hpp>
#include <quotalume/reset/reset_event.hpp>
#include <quotalume/support/date.hpp>
#include <quotalume/webhook/webhook_configuration.hpp>

#include <cstdint>
#include <optional>
#include <string>

namespace quotalume {

// What a `json` receiver gets for one reset; the other formats carry only `message`.
struct WebhookPayload {
    static constexpr std::int64_t schemaVersion = 1;
    std::string event;  // "codex.limit.reset", or "codex.webhook.test" for a test delivery
    std::string eventId;
    Date observedAt;
    std::string bucketId;
    std::string bucketName;
    std::string window;  // "five_hour" or "weekly"
    std::int64_t windowDurationMins = 0;
    double previousUsedPercent = 0;
    double remainingPercent = 0;
    std::optional<Date> previousResetAt;
    std::optional<Date> nextResetAt;
    std::string reason;                       // "new_window" or "restored_to_full"
    std::string message;                      // in the current interface language
    std::optional<std::string> accountLabel;  // with several sources only

    // The message is "webhook.test_message" for a test, else the headline, "reset.full" and
    // the window's name on three lines.
    WebhookPayload(const ResetEvent& reset, bool isTest);

    // The `json` body: snake-case members in key order, dates as ISO 8601 UTC whole seconds,
    // absent dates left out, "/" not escaped. Throws std::system_error (EILSEQ) for text that
    // is not UTF-8.
    std::string encoded() const;
};

// What a `json` receiver gets for one warning: "codex.limit.warning", the members that apply to
// it, and the headline, detail and window's name as `message`. Written as a reset's payload.
struct WarningPayload {
    static constexpr const char* event = "codex.limit.warning";
    LimitWarning warning;
    std::string message;

    explicit WarningPayload(LimitWarning warning);
    std::string encoded() const;
};

// The request body for the configuration's format. Feishu bodies carry "timestamp" (whole
// seconds of `now`, as a string) and "sign" when the signing secret is set; no other format
// puts credentials in the body. Every format but `json` escapes "/" as "\/".
std::string webhookBody(const WebhookPayload& payload, const WebhookConfiguration& configuration,
                        Date now);
std::string webhookBody(const WarningPayload& payload, const WebhookConfiguration& configuration,
                        Date now);

}  // namespace quotalume
