// Feeds arbitrary bytes as a receiver's answer. The first byte picks the body format and the
// HTTP status; the rest is the body.

#include <quotalume/webhook/webhook_configuration.hpp>
#include <quotalume/webhook/webhook_delivery_error.hpp>
#include <quotalume/webhook/webhook_sender.hpp>
#include <quotalume/webhook/webhook_transport.hpp>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    static constexpr std::array<std::optional<int>, 8> statuses = {200, 200, 204, 299,
                                                                   429, 500, 404, std::nullopt};
    const auto format = quotalume::allWebhookFormats[(data[0] & 7) % 5];
    quotalume::WebhookResponse response{
        statuses[data[0] >> 5], std::string(reinterpret_cast<const char*>(data) + 1, size - 1)};
    try {
        quotalume::WebhookSender::judge(format, response);
    } catch (const quotalume::WebhookDeliveryError&) {
    }
    return 0;
}
