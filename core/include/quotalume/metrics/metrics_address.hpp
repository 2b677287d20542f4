#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quotalume {

// Where the scrape endpoint listens. Only numeric addresses and "localhost", so that what the
// user wrote is what gets bound: no name lookup, no address chosen by a resolver.
struct MetricsAddress {
    std::string host;  // numeric, canonical ("127.0.0.1", "::1")
    std::uint16_t port = 0;

    // 127.0.0.0/8 or ::1: reachable from this machine only.
    bool loopback() const;
    // "127.0.0.1:9464", "[::1]:9464"; parse() reads it back.
    std::string text() const;

    // "9464" (127.0.0.1), "127.0.0.1:9464", "[::1]:9464", "0.0.0.0:9464", "[::]:9464",
    // "localhost:9464" (127.0.0.1). Ports 1 to 65535: port 0 (any free port) is for a caller
    // that builds the address itself. Throws std::invalid_argument with an English message
    // that names what is accepted and never repeats the value. An empty value (no endpoint)
    // is the caller's to handle.
    static MetricsAddress parse(std::string_view value);
};

}  // namespace quotalume
