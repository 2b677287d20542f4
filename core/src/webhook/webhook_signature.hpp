#pragma once

#include <quotalume/date.hpp>

#include <array>
#include <string>
#include <string_view>

namespace quotalume {

// Whole seconds since 1970 (truncated toward zero) in decimal: the timestamp both signature
// schemes sign.
std::string webhookTimestamp(Date now);

// HMAC-SHA256 (RFC 2104) of `message` under `key`.
std::array<unsigned char, 32> hmacSHA256(std::string_view key, std::string_view message);

// "sha256=" is not included: 64 lower-case hexadecimal digits.
std::string hexadecimal(const std::array<unsigned char, 32>& bytes);
// Standard alphabet, with padding, no line breaks.
std::string base64(const std::array<unsigned char, 32>& bytes);

}  // namespace quotalume
