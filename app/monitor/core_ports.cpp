#include "core_ports.hpp"

#include <quotalume/codex_client.hpp>
#include <quotalume/webhook_delivery_error.hpp>
#include <quotalume/webhook_sender.hpp>

#include <exception>

namespace quotalume {

void CodexClientSource::fetch(const CodexConfiguration& configuration,
                              std::function<void(FetchResult)> done) {
    work_.run<FetchResult>(
        [configuration]() -> FetchResult {
            try {
                return CodexClient().fetch(configuration);
            } catch (...) {
                return LocalizedMessage::from(std::current_exception());
            }
        },
        [](std::exception_ptr error) -> FetchResult { return LocalizedMessage::from(error); },
        std::move(done));
}

void WebhookSenderPort::send(const ResetEvent& event, const WebhookConfiguration& configuration,
                             bool isTest, std::function<void(WebhookResult)> done) {
    work_.run<WebhookResult>(
        [event, configuration, isTest]() -> WebhookResult {
            try {
                WebhookSender().send(event, configuration, isTest);
                return std::nullopt;
            } catch (const WebhookDeliveryError& error) {
                return WebhookFailure{error.message(), error.retryable()};
            } catch (...) {
                // A request that cannot even be built is never retried.
                return WebhookFailure{LocalizedMessage::from(std::current_exception()), false};
            }
        },
        [](std::exception_ptr error) -> WebhookResult {
            return WebhookFailure{LocalizedMessage::from(error), true};  // try again later
        },
        std::move(done));
}

}  // namespace quotalume
