#include "http_receiver.hpp"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sstream>
#include <strings.h>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>

namespace quotalume::test {

int listenOnLoopback(std::uint16_t& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::listen(fd, 16) != 0) {
        throw std::system_error(errno, std::system_category(), "loopback socket");
    }
    port = ntohs(address.sin_port);
    return fd;
}

std::optional<std::string> ReceivedRequest::header(std::string_view name) const {
    for (const auto& [headerName, value] : headers) {
        if (::strcasecmp(headerName.c_str(), std::string(name).c_str()) == 0) {
            return value;
        }
    }
    return std::nullopt;
}

HTTPReceiver::HTTPReceiver(ReceiverAnswer answer) : answer_(std::move(answer)) {
    listener_ = listenOnLoopback(port_);
    thread_ = std::thread([this] { serve(); });
}

HTTPReceiver::~HTTPReceiver() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        if (client_ >= 0) {
            ::shutdown(client_, SHUT_RDWR);
        }
    }
    // Wakes the accept() the thread may be waiting in.
    ::shutdown(listener_, SHUT_RDWR);
    thread_.join();
    ::close(listener_);
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
    ::close(listenOnLoopback(port));
    return port;
}

void HTTPReceiver::serve() {
    for (;;) {
        int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        std::unique_lock lock(mutex_);
        if (stopping_) {
            if (client >= 0) {
                ::close(client);
            }
            return;
        }
        if (client < 0) {
            continue;
        }
        client_ = client;
        lock.unlock();
        handle(client);
        lock.lock();
        ::close(client);
        client_ = -1;
    }
}

void HTTPReceiver::handle(int client) {
    std::string data;
    char chunk[8192];
    auto readMore = [&] {
        ssize_t count = ::recv(client, chunk, sizeof chunk, 0);
        if (count > 0) {
            data.append(chunk, static_cast<std::size_t>(count));
        }
        return count > 0;
    };
    std::size_t headerEnd;
    while ((headerEnd = data.find("\r\n\r\n")) == std::string::npos) {
        if (!readMore()) {
            return;
        }
    }
    ReceivedRequest request;
    std::istringstream head(data.substr(0, headerEnd));
    std::string line;
    std::getline(head, line);
    std::istringstream(line) >> request.method >> request.target;
    std::size_t contentLength = 0;
    while (std::getline(head, line)) {
        std::size_t colon = line.find(':');
        if (colon == std::string::npos) {
            continue;
        }
        std::string name = line.substr(0, colon);
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(" \t"));
        value.erase(value.find_last_not_of(" \t\r") + 1);
        if (::strcasecmp(name.c_str(), "Content-Length") == 0) {
            contentLength = std::stoul(value);
        }
        request.headers.emplace_back(std::move(name), std::move(value));
    }
    while (data.size() < headerEnd + 4 + contentLength && readMore()) {
    }
    request.body = data.substr(headerEnd + 4, contentLength);

    ReceiverAnswer answer;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(std::move(request));
        answer = answer_;
    }
    if (answer.kind == ReceiverAnswer::Kind::neverAnswer) {
        // Until the client gives up or the receiver shuts the connection down.
        while (::recv(client, chunk, sizeof chunk, 0) > 0) {
        }
    }
    if (answer.kind != ReceiverAnswer::Kind::respond) {
        return;
    }
    std::this_thread::sleep_for(answer.delay);
    std::string response = "HTTP/1.1 " + std::to_string(answer.status) + " Status\r\n";
    for (const auto& [name, value] : answer.headers) {
        response += name + ": " + value + "\r\n";
    }
    // A 204 carries no body and no length.
    if (answer.status != 204) {
        response += "Content-Length: " + std::to_string(answer.body.size()) + "\r\n";
    }
    response += "Connection: close\r\n\r\n" + answer.body;
    for (std::string_view rest = response; !rest.empty();) {
        ssize_t sent = ::send(client, rest.data(), rest.size(), MSG_NOSIGNAL);
        if (sent <= 0) {
            return;  // the client went away
        }
        rest.remove_prefix(static_cast<std::size_t>(sent));
    }
    ::shutdown(client, SHUT_WR);
    if (answer.afterAnswer) {
        answer.afterAnswer();
    }
}

}  // namespace quotalume::test
