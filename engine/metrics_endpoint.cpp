#include "metrics_endpoint.hpp"

#include "metrics_exposition.hpp"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>
#include <string_view>
#include <system_error>
#include <utility>

namespace quotalume {
namespace {

// A scrape comes from one or two Prometheus servers: these bound what a crowd of clients, a
// client that never reads or a slow one can take, and the memory limit bounds a request's
// line and headers (a longer one is answered with an error and closed).
constexpr unsigned metricsConnectionLimit = 64;
constexpr unsigned metricsConnectionTimeoutSeconds = 10;
constexpr std::size_t metricsConnectionMemory = 32 * 1024;
// Connections beyond the limit wait in the kernel's queue until one is closed, not refused.
constexpr int metricsListenBacklog = 256;

// Closes a socket not yet handed to libmicrohttpd.
struct MetricsSocket {
    int fd = -1;
    ~MetricsSocket() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

[[noreturn]] void refuseToListen(const MetricsAddress& address, int error) {
    std::string what = "cannot listen at " + address.text();
    switch (error) {
        case EADDRINUSE:
            what += " (the port is in use)";
            break;
        case EADDRNOTAVAIL:
            what += " (not an address of this machine)";
            break;
        case EACCES:
            what += " (ports below 1024 need privileges)";
            break;
        default:
            break;
    }
    throw std::system_error(error, std::generic_category(), what);
}

// A bound, listening socket, made here rather than by libmicrohttpd so that a failure says why.
int listenForScrapes(const MetricsAddress& address, bool v6, std::uint16_t& boundPort) {
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (v6) {
        auto& in = reinterpret_cast<sockaddr_in6&>(storage);
        in.sin6_family = AF_INET6;
        in.sin6_port = htons(address.port);
        length = sizeof in;
        if (inet_pton(AF_INET6, address.host.c_str(), &in.sin6_addr) != 1) {
            refuseToListen(address, EINVAL);
        }
    } else {
        auto& in = reinterpret_cast<sockaddr_in&>(storage);
        in.sin_family = AF_INET;
        in.sin_port = htons(address.port);
        length = sizeof in;
        if (inet_pton(AF_INET, address.host.c_str(), &in.sin_addr) != 1) {
            refuseToListen(address, EINVAL);
        }
    }
    MetricsSocket socket{
        ::socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)};
    const int on = 1;
    // Lets a restarted engine listen again while the last one's connections linger in TIME_WAIT;
    // a second listener on the port is still refused.
    if (socket.fd < 0 || ::setsockopt(socket.fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(socket.fd, reinterpret_cast<const sockaddr*>(&storage), length) != 0 ||
        ::listen(socket.fd, metricsListenBacklog) != 0 ||
        ::getsockname(socket.fd, reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
        refuseToListen(address, errno);
    }
    boundPort = ntohs(v6 ? reinterpret_cast<const sockaddr_in6&>(storage).sin6_port
                         : reinterpret_cast<const sockaddr_in&>(storage).sin_port);
    return std::exchange(socket.fd, -1);
}

}  // namespace

struct MetricsEndpoint::Served {
    using Text = std::shared_ptr<const std::string>;

    std::mutex mutex;
    Text text = std::make_shared<const std::string>();
    const Text notFound = std::make_shared<const std::string>("Not found: try /metrics\n");
    const Text notAllowed = std::make_shared<const std::string>("Only GET and HEAD\n");
    std::uint16_t port = 0;
    MHD_Daemon* daemon = nullptr;

    Text current() {
        std::lock_guard lock(mutex);
        return text;
    }

    // The response holds its own reference to the text, so a publish during a long send frees
    // nothing the send still reads, and the text is never copied per scrape.
    static MHD_Result respond(MHD_Connection* connection, unsigned status, const Text& body,
                              const char* contentType, const char* allow = nullptr) {
        auto* held = new (std::nothrow) Text(body);
        if (held == nullptr) {
            return MHD_NO;
        }
        // The buffer is only read: 0.9.75's signature merely lacks the const.
        MHD_Response* response = MHD_create_response_from_buffer_with_free_callback_cls(
            body->size(), const_cast<char*>(body->data()),
            [](void* text) { delete static_cast<Text*>(text); }, held);
        if (response == nullptr) {
            delete held;
            return MHD_NO;
        }
        MHD_Result queued = MHD_NO;
        if (MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, contentType) ==
                MHD_YES &&
            (allow == nullptr ||
             MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, allow) == MHD_YES)) {
            queued = MHD_queue_response(connection, status, response);
        }
        MHD_destroy_response(response);
        return queued;
    }

    // Answers on the first call, with the request line and headers: a request body is never
    // read, and libmicrohttpd closes the connection instead of reading what follows.
    static MHD_Result answer(void* cls, MHD_Connection* connection, const char* url,
                             const char* method, const char*, const char*, std::size_t*, void**) {
        auto& served = *static_cast<Served*>(cls);
        constexpr const char* plain = "text/plain; charset=utf-8";
        if (std::string_view(url) != "/metrics") {
            return respond(connection, MHD_HTTP_NOT_FOUND, served.notFound, plain);
        }
        const std::string_view verb(method);
        if (verb != MHD_HTTP_METHOD_GET && verb != MHD_HTTP_METHOD_HEAD) {
            return respond(connection, MHD_HTTP_METHOD_NOT_ALLOWED, served.notAllowed, plain,
                           "GET, HEAD");
        }
        return respond(connection, MHD_HTTP_OK, served.current(), metricsContentType.data());
    }
};

MetricsEndpoint::MetricsEndpoint(const MetricsAddress& address)
    : served_(std::make_unique<Served>()) {
    const bool v6 = address.host.find(':') != std::string::npos;
    MetricsSocket socket{listenForScrapes(address, v6, served_->port)};
    // No MHD_USE_ERROR_LOG: nothing reaches stderr. On Linux libmicrohttpd sends with
    // MSG_NOSIGNAL, so a client that goes away mid-answer raises no SIGPIPE.
    unsigned flags = MHD_USE_AUTO_INTERNAL_THREAD | MHD_USE_ITC;
    if (v6) {
        flags |= MHD_USE_IPv6;
    }
    errno = 0;
    served_->daemon = MHD_start_daemon(
        flags, 0, nullptr, nullptr, &Served::answer, served_.get(), MHD_OPTION_LISTEN_SOCKET,
        static_cast<MHD_socket>(socket.fd), MHD_OPTION_CONNECTION_LIMIT, metricsConnectionLimit,
        MHD_OPTION_CONNECTION_TIMEOUT, metricsConnectionTimeoutSeconds,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, metricsConnectionMemory, MHD_OPTION_END);
    if (served_->daemon == nullptr) {
        throw std::system_error(errno != 0 ? errno : EIO, std::generic_category(),
                                "cannot serve metrics at " + address.text());
    }
    // The daemon closes the socket when it stops.
    socket.fd = -1;
}

MetricsEndpoint::~MetricsEndpoint() {
    MHD_stop_daemon(served_->daemon);
}

void MetricsEndpoint::publish(std::string text) {
    Served::Text next = std::make_shared<const std::string>(std::move(text));
    {
        std::lock_guard lock(served_->mutex);
        served_->text.swap(next);
    }
    // The text replaced is freed here, or by the last scrape still sending it.
}

std::uint16_t MetricsEndpoint::port() const {
    return served_->port;
}

}  // namespace quotalume
