#include <quotalume/support/uuid.hpp>

#include <sys/random.h>

#include <cerrno>
#include <cstdio>
#include <stdexcept>

namespace quotalume {

std::string randomUUID() {
    // The kernel's generator: OpenSSL's would set up its providers and keep some 2 MB for the
    // life of the process.
    unsigned char bytes[16];
    std::size_t filled = 0;
    while (filled < sizeof bytes) {
        const ssize_t count = ::getrandom(bytes + filled, sizeof bytes - filled, 0);
        if (count < 0 && errno != EINTR) {
            throw std::runtime_error("no random bytes");
        }
        filled += count > 0 ? static_cast<std::size_t>(count) : 0;
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0f) | 0x40);
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3f) | 0x80);
    char text[37];
    std::snprintf(text, sizeof text,
                  "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", bytes[0],
                  bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
                  bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return text;
}

}  // namespace quotalume
