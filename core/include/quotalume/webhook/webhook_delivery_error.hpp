#pragma once

#include <stdexcept>

#include <quotalume/l10n/localized_message.hpp>

namespace quotalume {

// A webhook send that did not succeed; retryable failures are tried again later.
class WebhookDeliveryError : public std::exception {
public:
    WebhookDeliveryError(LocalizedMessage message, bool retryable)
        : message_(std::move(message)), retryable_(retryable) {}

    const LocalizedMessage& message() const { return message_; }
    bool retryable() const { return retryable_; }
    const char* what() const noexcept override { return message_.key.c_str(); }

private:
    LocalizedMessage message_;
    bool retryable_;
};

}  // namespace quotalume
