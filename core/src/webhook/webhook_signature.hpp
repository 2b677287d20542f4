#pragma once

#include "../support/encoding.hpp"

#include <quotalume/support/date.hpp>

#include <array>
#include <string>
#include <string_view>

namespace quotalume {

// Whole seconds since 1970 (truncated toward zero) in decimal: the timestamp both signature
// schemes sign.
std::string webhookTimestamp(Date now);

// HMAC-SHA256 (RFC 2104) of `message` under `key`.
std::array<unsigned char, 32> hmacSHA256(std::string_view key, std::string_view message);

}  // namespace quotalume
