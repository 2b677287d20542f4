#include <quotalume/metrics/metrics_address.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <array>
#include <charconv>
#include <stdexcept>

namespace quotalume {
namespace {

// "[" + the longest IPv6 text + "]:65535", with room to spare.
constexpr std::size_t longestMetricsAddress = 64;

[[noreturn]] void refuseMetricsAddress(std::string_view reason) {
    throw std::invalid_argument(
        std::string(reason) +
        "; expected a port (9464) or a numeric address and port (127.0.0.1:9464, [::1]:9464, "
        "0.0.0.0:9464, localhost:9464)");
}

std::uint16_t parsePort(std::string_view text) {
    unsigned value = 0;
    const auto* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.size() > 5 || error != std::errc() || stop != end || value < 1 || value > 65535) {
        refuseMetricsAddress("the port must be a number from 1 to 65535");
    }
    return static_cast<std::uint16_t>(value);
}

// The canonical text of a numeric address of the family, or empty when it is not one.
std::string canonicalHost(int family, const std::string& host) {
    std::array<unsigned char, sizeof(in6_addr)> bytes{};
    std::array<char, INET6_ADDRSTRLEN> text{};
    if (inet_pton(family, host.c_str(), bytes.data()) != 1 ||
        inet_ntop(family, bytes.data(), text.data(), text.size()) == nullptr) {
        return {};
    }
    return text.data();
}

}  // namespace

bool MetricsAddress::loopback() const {
    in_addr v4{};
    in6_addr v6{};
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1) {
        return (ntohl(v4.s_addr) >> 24) == 127;
    }
    return inet_pton(AF_INET6, host.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

std::string MetricsAddress::text() const {
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

MetricsAddress MetricsAddress::parse(std::string_view value) {
    if (value.size() > longestMetricsAddress) {
        refuseMetricsAddress("the address is too long");
    }
    const auto colon = value.rfind(':');
    if (colon == std::string_view::npos) {
        return {"127.0.0.1", parsePort(value)};
    }
    std::string host(value.substr(0, colon));
    const auto port = parsePort(value.substr(colon + 1));
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        auto v6 = canonicalHost(AF_INET6, host.substr(1, host.size() - 2));
        if (v6.empty()) {
            refuseMetricsAddress("the address in brackets is not a numeric IPv6 address");
        }
        return {std::move(v6), port};
    }
    if (host == "localhost") {
        return {"127.0.0.1", port};
    }
    if (host.find_first_of("[]:") != std::string::npos) {
        refuseMetricsAddress("an IPv6 address is written in brackets, closed before the port");
    }
    auto v4 = canonicalHost(AF_INET, host);
    if (v4.empty()) {
        refuseMetricsAddress("the host must be a numeric IPv4 address or localhost");
    }
    return {std::move(v4), port};
}

}  // namespace quotalume
