#pragma once

#include <quotalume/reset/announcement.hpp>
#include <quotalume/support/date.hpp>
#include <quotalume/webhook/webhook_configuration.hpp>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace quotalume {

// One HTTP request, ready for a transport. Headers go out in the order listed.
struct WebhookRequest {
    std::string method;
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    std::chrono::seconds timeout{15};  // longest wait for data to arrive

    // The value of the first header named `name` (ASCII case-insensitive), if any.
    const std::string* header(std::string_view name) const;
};

struct WebhookRequestBuilder {
    // POST of the format's body to the validated address with Content-Type, User-Agent,
    // Idempotency-Key and X-Quotalume-Event-ID (both the event id, so repeated attempts are
    // recognisable as one event), then Authorization when there is a bearer token, then for
    // `json` with a signing secret X-Quotalume-Timestamp and X-Quotalume-Signature
    // ("sha256=" + hex HMAC-SHA256 of "<timestamp>.<body>"). `now` dates both signatures.
    // Throws what validatedURL throws, and the body writer's std::system_error.
    static WebhookRequest build(const Announcement& announcement,
                                const WebhookConfiguration& configuration, bool isTest, Date now);
};

}  // namespace quotalume
