// Feeds arbitrary bytes as webhook.json, then checks the address of whatever was read.

#include <quotalume/support/bounded_json.hpp>
#include <quotalume/support/json_decoding_error.hpp>
#include <quotalume/support/quotalume_error.hpp>
#include <quotalume/webhook/webhook_configuration.hpp>

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto value =
        quotalume::parseBoundedJSON(std::string_view(reinterpret_cast<const char*>(data), size));
    if (value.is_discarded()) {
        return 0;
    }
    quotalume::WebhookConfiguration configuration;
    try {
        configuration = value.get<quotalume::WebhookConfiguration>();
    } catch (const quotalume::JSONDecodingError&) {
        return 0;
    }
    (void)configuration.fingerprint();
    try {
        (void)configuration.validatedURL();
    } catch (const quotalume::QuotalumeError&) {
    }
    return 0;
}
