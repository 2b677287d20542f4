// Feeds arbitrary bytes as a typed receiver address; after the first line feed comes the
// bearer token, which must not be able to split its header.

#include <quotalume/support/quotalume_error.hpp>
#include <quotalume/webhook/webhook_configuration.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    quotalume::WebhookConfiguration configuration;
    auto split = input.find('\n');
    configuration.url = std::string(input.substr(0, split));
    if (split != std::string_view::npos) {
        configuration.bearerToken = std::string(input.substr(split + 1));
    }
    try {
        (void)configuration.validatedURL();
    } catch (const quotalume::QuotalumeError&) {
    }
    return 0;
}
