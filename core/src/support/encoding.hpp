#pragma once

#include <span>
#include <string>

namespace quotalume {

// Lower-case hexadecimal, two digits a byte, no separators.
std::string hexadecimal(std::span<const unsigned char> bytes);
// Standard alphabet, with padding, no line breaks.
std::string base64(std::span<const unsigned char> bytes);

}  // namespace quotalume
