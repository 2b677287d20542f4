#include "webhook_signature.hpp"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <stdexcept>

namespace quotalume {

std::string webhookTimestamp(Date now) {
    return std::to_string(
        std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count());
}

std::array<unsigned char, 32> hmacSHA256(std::string_view key, std::string_view message) {
    // OpenSSL wants non-null pointers even for empty input (the Feishu message is empty).
    static const unsigned char nothing = 0;
    const auto* keyBytes =
        key.empty() ? &nothing : reinterpret_cast<const unsigned char*>(key.data());
    const auto* messageBytes =
        message.empty() ? &nothing : reinterpret_cast<const unsigned char*>(message.data());
    std::array<unsigned char, 32> code{};
    unsigned int length = 0;
    if (HMAC(EVP_sha256(), keyBytes, static_cast<int>(key.size()), messageBytes, message.size(),
             code.data(), &length) == nullptr ||
        length != code.size()) {
        throw std::runtime_error("HMAC-SHA256 unavailable");
    }
    return code;
}

}  // namespace quotalume
