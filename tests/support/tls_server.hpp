#pragma once

#include <cstdint>
#include <string>
#include <thread>

namespace quotalume::test {

// A TLS server on 127.0.0.1 with a fresh self-signed certificate; it closes each connection.
class UntrustedTLSServer {
public:
    UntrustedTLSServer();
    ~UntrustedTLSServer();
    UntrustedTLSServer(const UntrustedTLSServer&) = delete;
    UntrustedTLSServer& operator=(const UntrustedTLSServer&) = delete;

    // "https://127.0.0.1:<port>/hook"
    std::string url() const;

private:
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
};

}  // namespace quotalume::test
