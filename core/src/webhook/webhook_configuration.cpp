#include <quotalume/webhook/webhook_configuration.hpp>

#include "../support/json_coding.hpp"
#include "curl_global.hpp"

#include <quotalume/l10n/l10n.hpp>
#include <quotalume/support/quotalume_error.hpp>
#include <quotalume/support/text.hpp>
#include <quotalume/usage/usage_snapshot.hpp>

#include <memory>
#include <new>

namespace quotalume {
namespace {

using namespace coding;

[[noreturn]] void refuse(const char* key) {
    throw QuotalumeError::webhook(LocalizedMessage(key));
}

struct URLDeleter {
    void operator()(CURLU* url) const { libcurl().url_cleanup(url); }
};
using URLHandle = std::unique_ptr<CURLU, URLDeleter>;

// The part, or nullopt when the URL has none (CURLUE_NO_USER, CURLUE_NO_FRAGMENT, …).
std::optional<std::string> part(CURLU* url, CURLUPart which) {
    char* value = nullptr;
    if (libcurl().url_get(url, which, &value, 0) != CURLUE_OK) {
        return std::nullopt;
    }
    std::string text = value != nullptr ? value : "";
    libcurl().free(value);
    return text;
}

// The host exactly as typed ("[::1]" with its brackets), or nothing when the text has no
// authority. libcurl reads "https:/host" and "https:///path" as having a host ("host",
// "path") where RFC 3986 sees none, and normalises "127.1" to "127.0.0.1", so the loopback
// rule looks at the text itself.
std::optional<std::string_view> typedHost(std::string_view text) {
    auto colon = text.find(':');
    if (colon == std::string_view::npos || text.substr(colon + 1, 2) != "//") {
        return std::nullopt;
    }
    std::string_view authority = text.substr(colon + 3);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    if (auto at = authority.rfind('@'); at != std::string_view::npos) {
        authority.remove_prefix(at + 1);
    }
    std::string_view host = authority.starts_with('[')
                                ? authority.substr(0, authority.find(']') + 1)
                                : authority.substr(0, authority.find(':'));
    if (host.empty() || host == "[" || host == "[]" ||
        (host.starts_with('[') && !host.ends_with(']'))) {
        return std::nullopt;
    }
    return host;
}

// Line feed, vertical tab, form feed, carriage return, U+0085, U+2028 and U+2029: anything
// that could end the Authorization header early. A NUL would cut the header short just as
// silently, so it is refused too.
bool breaksHeader(std::string_view token) {
    for (std::size_t i = 0; i < token.size(); ++i) {
        auto c = static_cast<unsigned char>(token[i]);
        if (c == 0 || (c >= 0x0A && c <= 0x0D)) {
            return true;
        }
        if (c == 0xC2 && i + 1 < token.size() && static_cast<unsigned char>(token[i + 1]) == 0x85) {
            return true;
        }
        if (c == 0xE2 && i + 2 < token.size() && static_cast<unsigned char>(token[i + 1]) == 0x80 &&
            (static_cast<unsigned char>(token[i + 2]) == 0xA8 ||
             static_cast<unsigned char>(token[i + 2]) == 0xA9)) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::string_view rawValue(WebhookFormat format) {
    switch (format) {
        case WebhookFormat::json:
            return "json";
        case WebhookFormat::slack:
            return "slack";
        case WebhookFormat::discord:
            return "discord";
        case WebhookFormat::feishu:
            return "feishu";
        case WebhookFormat::wecom:
            return "wecom";
    }
    return "json";
}

std::optional<WebhookFormat> webhookFormatFromRawValue(std::string_view raw) {
    for (WebhookFormat format : allWebhookFormats) {
        if (rawValue(format) == raw) {
            return format;
        }
    }
    return std::nullopt;
}

std::string title(WebhookFormat format, std::optional<AppLanguage> language) {
    switch (format) {
        case WebhookFormat::slack:
            return "Slack";
        case WebhookFormat::discord:
            return "Discord";
        case WebhookFormat::json:
            return L10n::render("webhook.json", {}, language);
        case WebhookFormat::feishu:
            return L10n::render("webhook.feishu", {}, language);
        case WebhookFormat::wecom:
            return L10n::render("webhook.wecom", {}, language);
    }
    return std::string(rawValue(format));
}

std::string WebhookConfiguration::validatedURL() const {
    const std::string text(trimmed(url));

    libcurl();  // loaded now, or the reason it cannot be is thrown
    URLHandle parsed(libcurl().url());
    if (!parsed) {
        throw std::bad_alloc();
    }
    // Every scheme parses, so that "ftp://…" is refused for its scheme, not as unreadable.
    if (hasControlCharacter(text) || libcurl().url_set(parsed.get(), CURLUPART_URL, text.c_str(),
                                                       CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
        refuse("error.url");
    }

    auto host = part(parsed.get(), CURLUPART_HOST);
    auto typed = typedHost(text);
    if (!host || host->empty() || !typed) {
        refuse("error.url");
    }

    auto address = part(parsed.get(), CURLUPART_URL);
    if (!address) {
        refuse("error.url");
    }

    // libcurl drops an empty fragment ("…/hook#"), so the number sign is looked for directly.
    if (part(parsed.get(), CURLUPART_USER) || part(parsed.get(), CURLUPART_PASSWORD) ||
        part(parsed.get(), CURLUPART_FRAGMENT) || text.find('#') != std::string::npos) {
        refuse("error.url");
    }

    const std::string scheme = asciiLowercased(part(parsed.get(), CURLUPART_SCHEME).value_or(""));
    const std::string loweredHost = asciiLowercased(std::string(*typed));
    const bool loopback = loweredHost == "localhost" || loweredHost == "127.0.0.1" ||
                          loweredHost == "::1" || loweredHost == "[::1]";
    if (scheme != "https" && !(scheme == "http" && loopback)) {
        refuse("error.https");
    }

    if (breaksHeader(bearerToken)) {
        refuse("error.token");
    }
    return *address;
}

std::string WebhookConfiguration::fingerprint() const {
    return UsageSnapshot::fingerprint(std::string(rawValue(format)) + ":" + url);
}

void to_json(json& out, const WebhookConfiguration& configuration) {
    out = {{"url", configuration.url},
           {"format", rawValue(configuration.format)},
           {"bearerToken", configuration.bearerToken},
           {"signingSecret", configuration.signingSecret}};
}

void from_json(const json& in, WebhookConfiguration& configuration) {
    object(in, "webhook configuration");
    std::string formatText = asString(required(in, "format"), "format");
    auto format = webhookFormatFromRawValue(formatText);
    if (!format) {
        fail(Kind::dataCorrupted, "format", "not a webhook format");
    }
    configuration = WebhookConfiguration{asString(required(in, "url"), "url"), *format,
                                         asString(required(in, "bearerToken"), "bearerToken"),
                                         asString(required(in, "signingSecret"), "signingSecret")};
}

}  // namespace quotalume
