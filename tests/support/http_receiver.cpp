#include "http_receiver.hpp"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <strings.h>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>

namespace quotalume::testing {
namespace {

[[noreturn]] void fail(const char* what) {
    throw std::system_error(errno, std::system_category(), what);
}

int boundLoopbackSocket(std::uint16_t& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        fail("socket");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        fail("bind");
    }
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        fail("getsockname");
    }
    port = ntohs(address.sin_port);
    return fd;
}

std::string_view trimmedSpaces(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

void sendAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t sent = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return;  // the client went away; nothing to report to it
        }
        data.remove_prefix(static_cast<std::size_t>(sent));
    }
}

}  // namespace

std::optional<std::string> ReceivedRequest::header(std::string_view name) const {
    for (const auto& [headerName, value] : headers) {
        if (headerName.size() == name.size() &&
            ::strncasecmp(headerName.data(), name.data(), name.size()) == 0) {
            return value;
        }
    }
    return std::nullopt;
}

std::vector<std::string> ReceivedRequest::headerNames() const {
    std::vector<std::string> names;
    for (const auto& header : headers) {
        names.push_back(header.first);
    }
    return names;
}

HTTPReceiver::HTTPReceiver(ReceiverAnswer answer) : answer_(std::move(answer)) {
    listener_ = boundLoopbackSocket(port_);
    if (::listen(listener_, 16) != 0) {
        ::close(listener_);
        fail("listen");
    }
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC) != 0) {
        ::close(listener_);
        fail("pipe2");
    }
    wakeRead_ = wake[0];
    wakeWrite_ = wake[1];
    thread_ = std::thread([this] { serve(); });
}

HTTPReceiver::~HTTPReceiver() {
    char stop = 's';
    (void)!::write(wakeWrite_, &stop, 1);
    thread_.join();
    ::close(listener_);
    ::close(wakeRead_);
    ::close(wakeWrite_);
}

void HTTPReceiver::answer(ReceiverAnswer answer) {
    std::lock_guard lock(mutex_);
    answer_ = std::move(answer);
}

std::string HTTPReceiver::url(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::vector<ReceivedRequest> HTTPReceiver::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::uint16_t HTTPReceiver::refusedPort() {
    std::uint16_t port = 0;
    ::close(boundLoopbackSocket(port));
    return port;
}

bool HTTPReceiver::waitReadable(int fd, std::chrono::milliseconds timeout) const {
    pollfd fds[2] = {{wakeRead_, POLLIN, 0}, {fd, POLLIN, 0}};
    for (;;) {
        int ready = ::poll(fds, 2, static_cast<int>(timeout.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        return ready > 0 && fds[0].revents == 0;
    }
}

void HTTPReceiver::serve() {
    for (;;) {
        if (!waitReadable(listener_, std::chrono::milliseconds(-1))) {
            return;
        }
        int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            continue;
        }
        handle(client);
        ::close(client);
    }
}

void HTTPReceiver::handle(int client) {
    const auto patience = std::chrono::milliseconds(30000);
    std::string data;
    char chunk[8192];
    auto readMore = [&] {
        if (!waitReadable(client, patience)) {
            return false;
        }
        ssize_t count = ::recv(client, chunk, sizeof chunk, 0);
        if (count <= 0) {
            return false;
        }
        data.append(chunk, static_cast<std::size_t>(count));
        return true;
    };

    std::size_t headerEnd;
    while ((headerEnd = data.find("\r\n\r\n")) == std::string::npos) {
        if (!readMore()) {
            return;
        }
    }
    ReceivedRequest request;
    std::string_view head(data.data(), headerEnd);
    std::size_t lineEnd = head.find("\r\n");
    std::string_view requestLine = head.substr(0, lineEnd);
    std::size_t firstSpace = requestLine.find(' ');
    std::size_t secondSpace = requestLine.find(' ', firstSpace + 1);
    request.method = std::string(requestLine.substr(0, firstSpace));
    request.target = std::string(requestLine.substr(firstSpace + 1, secondSpace - firstSpace - 1));
    std::size_t contentLength = 0;
    while (lineEnd != std::string_view::npos) {
        std::size_t start = lineEnd + 2;
        lineEnd = head.find("\r\n", start);
        std::string_view line = head.substr(
            start, lineEnd == std::string_view::npos ? std::string_view::npos : lineEnd - start);
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) {
            continue;
        }
        std::string name(line.substr(0, colon));
        std::string value(trimmedSpaces(line.substr(colon + 1)));
        if (::strcasecmp(name.c_str(), "Content-Length") == 0) {
            contentLength = std::strtoul(value.c_str(), nullptr, 10);
        }
        request.headers.emplace_back(std::move(name), std::move(value));
    }
    while (data.size() < headerEnd + 4 + contentLength) {
        if (!readMore()) {
            break;
        }
    }
    request.body = data.substr(headerEnd + 4, contentLength);

    ReceiverAnswer answer;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(std::move(request));
        answer = answer_;
    }

    switch (answer.kind) {
        case ReceiverAnswer::Kind::closeAtOnce:
            return;
        case ReceiverAnswer::Kind::neverAnswer:
            // Drains whatever else arrives and waits for the receiver to stop or the client
            // to give up.
            while (waitReadable(client, std::chrono::milliseconds(-1)) &&
                   ::recv(client, chunk, sizeof chunk, 0) > 0) {
            }
            return;
        case ReceiverAnswer::Kind::respond:
            break;
    }
    if (answer.delay.count() > 0) {
        pollfd wake{wakeRead_, POLLIN, 0};
        if (::poll(&wake, 1, static_cast<int>(answer.delay.count())) > 0) {
            return;  // stopping
        }
    }
    std::string response = "HTTP/1.1 " + std::to_string(answer.status) +
                           (answer.status < 300 ? " OK" : " Status") + "\r\n";
    for (const auto& [name, value] : answer.headers) {
        response += name + ": " + value + "\r\n";
    }
    // 1xx, 204 and 304 answers carry no body and no length.
    if (answer.status >= 200 && answer.status != 204 && answer.status != 304) {
        response += "Content-Length: " + std::to_string(answer.body.size()) + "\r\n";
    }
    response += "Connection: close\r\n\r\n";
    response += answer.body;
    sendAll(client, response);
    ::shutdown(client, SHUT_WR);
}

}  // namespace quotalume::testing
