#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>

// A client of the metrics endpoint, as Prometheus scrapes it.
namespace quotalume::test {

// A plain TCP client, as a scraper opens one. Reads give up after 5 s, so a server that hangs
// fails the test instead of stalling it.
class ScrapeSocket {
public:
    explicit ScrapeSocket(std::uint16_t port, const std::string& host = "127.0.0.1",
                          std::optional<int> receiveBuffer = {}) {
        sockaddr_storage storage{};
        socklen_t length = sizeof(sockaddr_in);
        auto& v4 = reinterpret_cast<sockaddr_in&>(storage);
        auto& v6 = reinterpret_cast<sockaddr_in6&>(storage);
        if (inet_pton(AF_INET, host.c_str(), &v4.sin_addr) == 1) {
            v4.sin_family = AF_INET;
            v4.sin_port = htons(port);
        } else if (inet_pton(AF_INET6, host.c_str(), &v6.sin6_addr) == 1) {
            v6.sin6_family = AF_INET6;
            v6.sin6_port = htons(port);
            length = sizeof(sockaddr_in6);
        }
        fd_ = ::socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const timeval limit{5, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        if (receiveBuffer) {
            ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &*receiveBuffer, sizeof *receiveBuffer);
        }
        if (::connect(fd_, reinterpret_cast<const sockaddr*>(&storage), length) != 0) {
            throw std::runtime_error(std::string("connect: ") + std::strerror(errno));
        }
    }
    ~ScrapeSocket() { ::close(fd_); }
    ScrapeSocket(const ScrapeSocket&) = delete;
    ScrapeSocket& operator=(const ScrapeSocket&) = delete;

    // The server may close early (an oversized request): what it refused is not an error here.
    void send(const std::string& bytes) {
        for (std::size_t sent = 0; sent < bytes.size();) {
            const auto n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) {
                return;
            }
            sent += static_cast<std::size_t>(n);
        }
    }
    // Everything until the server closes; timedOut when it went silent instead.
    std::string readAll(bool* timedOut = nullptr) {
        std::string raw;
        char chunk[65536];
        for (;;) {
            const auto n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n > 0) {
                raw.append(chunk, static_cast<std::size_t>(n));
                continue;
            }
            if (timedOut != nullptr) {
                *timedOut = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
            }
            return raw;
        }
    }

private:
    int fd_ = -1;
};

inline std::string scrapeRequest(const std::string& method, const std::string& target) {
    return method + " " + target + " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n";
}

struct ScrapeReply {
    int status = 0;                              // 0: closed without an answer
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
    // The body is as long as Content-Length says (HEAD: no body at all).
    bool complete(bool head = false) const {
        const auto length = headers.find("content-length");
        return status != 0 && length != headers.end() &&
               (head ? body.empty() : std::to_string(body.size()) == length->second);
    }
    std::string header(const std::string& name) const {
        const auto found = headers.find(name);
        return found == headers.end() ? "" : found->second;
    }
};

inline ScrapeReply parseScrapeReply(const std::string& raw) {
    ScrapeReply reply;
    const auto end = raw.find("\r\n\r\n");
    if (raw.rfind("HTTP/1.", 0) != 0 || end == std::string::npos) {
        return reply;
    }
    reply.status = std::stoi(raw.substr(9, 3));
    for (auto line = raw.find("\r\n") + 2; line < end;) {
        const auto next = raw.find("\r\n", line);
        const auto colon = raw.find(':', line);
        std::string name = raw.substr(line, colon - line);
        for (auto& c : name) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        reply.headers[name] = raw.substr(colon + 2, next - colon - 2);
        line = next + 2;
    }
    reply.body = raw.substr(end + 4);
    return reply;
}

inline ScrapeReply scrape(std::uint16_t port,
                          const std::string& request = scrapeRequest("GET", "/metrics"),
                          const std::string& host = "127.0.0.1") {
    ScrapeSocket client(port, host);
    client.send(request);
    return parseScrapeReply(client.readAll());
}

}  // namespace quotalume::test
