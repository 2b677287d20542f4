#pragma once

#include <quotalume/l10n/app_language.hpp>

#include <nlohmann/json_fwd.hpp>

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace quotalume {

// The body formats a receiver can ask for, in picker order.
enum class WebhookFormat { json, slack, discord, feishu, wecom };

inline constexpr std::array<WebhookFormat, 5> allWebhookFormats = {
    WebhookFormat::json, WebhookFormat::slack, WebhookFormat::discord, WebhookFormat::feishu,
    WebhookFormat::wecom};

// "json", "slack", "discord", "feishu", "wecom": the stored form and the id.
std::string_view rawValue(WebhookFormat format);
// nullopt for anything that is not exactly a raw value.
std::optional<WebhookFormat> webhookFormatFromRawValue(std::string_view rawValue);
// The display name: "Slack" and "Discord" as they are, the others translated into `language`
// (the current interface language when absent).
std::string title(WebhookFormat format, std::optional<AppLanguage> language = std::nullopt);

// The user's webhook receiver. The token and the secret are the user's own values; empty text
// means none.
struct WebhookConfiguration {
    std::string url;  // as typed, surrounding white space included
    WebhookFormat format = WebhookFormat::json;
    std::string bearerToken;    // sent as "Authorization: Bearer …" with every format
    std::string signingSecret;  // signs `json` requests and `feishu` bodies

    // The receiver's address ready for a request: trimmed, RFC 3986 (libcurl's parser), with
    // a host, no user, password or fragment, https (http only for localhost, 127.0.0.1 and
    // [::1]), and a bearer token that cannot split its header. Throws QuotalumeError::webhook
    // with "error.url", "error.https" or "error.token", the first failing check deciding.
    std::string validatedURL() const;

    // SHA-256 of "<format>:<url as stored>" in hex; the credentials do not enter it, so a new
    // token keeps pending deliveries aimed at the same receiver.
    std::string fingerprint() const;

    friend bool operator==(const WebhookConfiguration&, const WebhookConfiguration&) = default;
};

// {"bearerToken", "format", "signingSecret", "url"}: all four written, all four required when
// reading (JSONDecodingError otherwise), the format as its raw value.
void to_json(nlohmann::json& json, const WebhookConfiguration& configuration);
void from_json(const nlohmann::json& json, WebhookConfiguration& configuration);

}  // namespace quotalume
