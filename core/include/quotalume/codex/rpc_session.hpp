#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

namespace quotalume {

class ChildProcess;
class LineBuffer;

// What Codex says when it cannot reach its servers, matched in its error's message
// (ASCII case-insensitive): such an answer is `offline`, not a fault of the request.
std::span<const std::string_view> offlineFailures();
bool saysOffline(std::string_view said);

// One `codex app-server --listen stdio://` child spoken to in line-delimited JSON-RPC.
// Blocking, confined to one thread, and bounded by a single deadline for its whole life.
class RPCSession {
public:
    // Unread bytes beyond this fail the read: the child is flooding us without line breaks.
    static constexpr std::size_t maximumBufferedBytes = 4 * 1024 * 1024;

    // Starts the child. A launch failure is thrown as std::system_error with its errno.
    RPCSession(const std::string& executable, const std::string& home, double timeout);
    ~RPCSession();
    RPCSession(const RPCSession&) = delete;
    RPCSession& operator=(const RPCSession&) = delete;

    // Sends a request and returns the object-valued "result" of its answer.
    nlohmann::json request(std::string_view method);
    nlohmann::json request(std::string_view method, const nlohmann::json& params);
    // Writes one message (request, notification or reply) as one line.
    void send(const nlohmann::json& message);
    // Ends the child: end of input, then SIGTERM after 0.5 s, SIGKILL after another 0.5 s.
    // Idempotent; never fails.
    void close() noexcept;

    std::int64_t requestID() const { return requestID_; }

private:
    nlohmann::json request(std::string_view method, const nlohmann::json* params);
    std::string nextLine();

    std::unique_ptr<ChildProcess> process_;
    std::chrono::steady_clock::time_point deadline_;
    std::unique_ptr<LineBuffer> lines_;
    std::int64_t requestID_ = 0;
    std::size_t readAfterExit_ = 0;  // bytes read after the child was seen to end
    bool closed_ = false;
};

}  // namespace quotalume
