#pragma once

#include <quotalume/webhook/webhook_request_builder.hpp>

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

namespace quotalume {

struct WebhookResponse {
    std::optional<int> statusCode;  // absent when the answer was not an HTTP response
    std::string body;
};

// Carries out one webhook request. The seam between judging answers and the network, so
// tests and the monitor can put a fake in its place.
class WebhookTransport {
public:
    virtual ~WebhookTransport() = default;
    // Throws when the request could not be carried out (no connection, time-out, TLS, …); the
    // sender reports such a failure as "error.webhook_network" unless it is a
    // WebhookDeliveryError, which says more ("error.webhook_tls": the certificate was refused).
    virtual WebhookResponse perform(const WebhookRequest& request) = 0;
};

// libcurl, with nothing shared between calls: a fresh handle each time, no cookie engine, no
// redirects followed (a 3xx is the answer), http and https only, no signals. A request gives
// up when no data has arrived for its `timeout` and after `totalTimeout` in all. Nothing is
// logged or printed, and no failure description carries the request's headers.
class CurlWebhookTransport final : public WebhookTransport {
public:
    static constexpr std::chrono::seconds totalTimeout{20};
    // Larger answers are cut here: bot results are small, other formats ignore the body.
    static constexpr std::size_t bodyLimit = 1 << 20;

    WebhookResponse perform(const WebhookRequest& request) override;
};

}  // namespace quotalume
