#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace quotalume::test {

// A socket listening on 127.0.0.1 at a port of the system's choosing, which goes to `port`.
int listenOnLoopback(std::uint16_t& port);

struct ReceivedRequest {
    std::string method;
    std::string target;
    std::vector<std::pair<std::string, std::string>> headers;  // in the order sent
    std::string body;

    // The first header of that name, compared without regard to case.
    std::optional<std::string> header(std::string_view name) const;
};

// What the receiver does with each request once it has read it whole.
struct ReceiverAnswer {
    enum class Kind {
        respond,      // after `delay`, the status, headers and body; then closes
        neverAnswer,  // keeps the connection open and silent until the receiver goes away
        closeAtOnce,  // closes the connection without a word
    };
    Kind kind = Kind::respond;
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    std::chrono::milliseconds delay{0};
    // Runs on the receiver's thread once the answer has been sent whole.
    std::function<void()> afterAnswer;

    static ReceiverAnswer withStatus(int status, std::string body = {}) {
        return {Kind::respond, status, {}, std::move(body)};
    }
    static ReceiverAnswer of(Kind kind) { return {kind}; }
};

// An HTTP/1.1 server on a loopback port, on a thread of its own: records requests, answers as told.
class HTTPReceiver {
public:
    explicit HTTPReceiver(ReceiverAnswer answer = {});
    ~HTTPReceiver();
    HTTPReceiver(const HTTPReceiver&) = delete;
    HTTPReceiver& operator=(const HTTPReceiver&) = delete;

    // For the requests that arrive from now on.
    void answer(ReceiverAnswer answer);

    // "http://127.0.0.1:<port><path>"
    std::string url(std::string_view path = "/hook") const;
    std::vector<ReceivedRequest> requests() const;

    // A loopback port nobody listens on: taken, then given back.
    static std::uint16_t refusedPort();

private:
    void serve();
    void handle(int client);

    int listener_ = -1;
    std::uint16_t port_ = 0;
    mutable std::mutex mutex_;
    bool stopping_ = false;
    int client_ = -1;  // the connection being served, shut down to stop
    ReceiverAnswer answer_;
    std::vector<ReceivedRequest> requests_;
    std::thread thread_;
};

}  // namespace quotalume::test
