#include <quotalume/codex/rpc_session.hpp>

#include <quotalume/codex/codex_read_only_policy.hpp>
#include <quotalume/support/cancellation.hpp>
#include <quotalume/support/child_process.hpp>
#include <quotalume/support/quotalume_error.hpp>
#include <quotalume/support/text.hpp>

#include "line_buffer.hpp"
#include "response_match.hpp"

#include <nlohmann/json.hpp>

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>

extern char** environ;

namespace quotalume {
namespace {

using Clock = std::chrono::steady_clock;
using nlohmann::json;

// What a pipe holds by default: all a child can have written that is still unread at its end.
constexpr std::size_t pipeCapacityBytes = 64 * 1024;

// Our own environment with the three entries the child needs set (replacing inherited ones).
std::vector<std::string> childEnvironment(const std::string& executable, const std::string& home) {
    const char* inheritedPath = std::getenv("PATH");
    std::string directory = std::filesystem::path(executable).parent_path().string();
    std::vector<std::string> environment;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        std::string_view text(*entry);
        if (text.starts_with("PATH=") || text.starts_with("CODEX_HOME=") ||
            text.starts_with("RUST_LOG=")) {
            continue;
        }
        environment.emplace_back(text);
    }
    environment.push_back(
        "PATH=" + directory + ":" +
        (inheritedPath != nullptr ? inheritedPath : "/usr/bin:/bin:/usr/sbin:/sbin"));
    environment.push_back("CODEX_HOME=" + home);
    environment.push_back("RUST_LOG=error");
    return environment;
}

Clock::time_point deadlineAfter(double timeout) {
    // At least one second, whatever was asked (NaN and negative values included); the upper
    // bound only keeps the clock arithmetic finite.
    double seconds = timeout > 1.0 ? std::min(timeout, 1.0e9) : 1.0;
    return Clock::now() +
           std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

constexpr std::string_view offlineWords[] = {
    "workspace routing discovery failed",    "error sending request for url",
    "failed to lookup address information",  "network is unreachable",
    "stream disconnected before completion",
};

}  // namespace

std::span<const std::string_view> offlineFailures() {
    return offlineWords;
}

bool saysOffline(std::string_view said) {
    const std::string lowered = asciiLowercased(said);
    return std::any_of(
        std::begin(offlineWords), std::end(offlineWords),
        [&](std::string_view words) { return lowered.find(words) != std::string::npos; });
}

RPCSession::RPCSession(const std::string& executable, const std::string& home, double timeout)
    : deadline_(deadlineAfter(timeout)),
      lines_(std::make_unique<LineBuffer>(maximumBufferedBytes)) {
    process_ = std::make_unique<ChildProcess>(ChildProcess::Options{
        .executable = executable,
        .arguments = {"app-server", "--listen", "stdio://"},
        .environment = childEnvironment(executable, home),
        // The Codex home exists (the locator checked it); $HOME may not.
        .workingDirectory = home,
    });
}

RPCSession::~RPCSession() {
    close();
}

void RPCSession::send(const json& message) {
    if (message.is_object()) {
        auto method = message.find("method");
        if (method != message.end() && method->is_string()) {
            auto params = message.find("params");
            const json* object =
                params != message.end() && params->is_object() ? &*params : nullptr;
            if (!CodexReadOnlyPolicy::permits(method->get_ref<const std::string&>(), object)) {
                throw QuotalumeError(QuotalumeError::Case::readOnlyViolation);
            }
        }
    }
    std::string line = message.dump();
    line.push_back('\n');
    if (closed_ || !process_->running()) {
        throw QuotalumeError(QuotalumeError::Case::serverExited);
    }
    if (!writeAll(process_->input(), line, deadline_)) {
        throw QuotalumeError(QuotalumeError::Case::timeout);
    }
}

json RPCSession::request(std::string_view method) {
    return request(method, nullptr);
}

json RPCSession::request(std::string_view method, const json& params) {
    return request(method, &params);
}

json RPCSession::request(std::string_view method, const json* params) {
    ++requestID_;
    json message = {{"id", requestID_}, {"method", method}};
    if (params != nullptr) {
        message["params"] = *params;
    }
    send(message);

    for (;;) {
        ResponseMatch match = matchResponse(nextLine(), requestID_);
        switch (match.action) {
            case ResponseMatch::Action::skip:
                continue;
            case ResponseMatch::Action::refuse:
                send(refusalReply(match.value));
                continue;
            case ResponseMatch::Action::result:
                return std::move(match.value);
            case ResponseMatch::Action::rpcError: {
                std::string said =
                    match.value.is_string() ? match.value.get<std::string>() : std::string();
                if (saysOffline(said)) {
                    throw QuotalumeError::offline(std::move(said));
                }
                throw QuotalumeError::rpc(std::string(method), match.code, std::move(said));
            }
            case ResponseMatch::Action::invalid:
                throw QuotalumeError(QuotalumeError::Case::invalidResponse);
            case ResponseMatch::Action::unreadable:
                throw QuotalumeError(QuotalumeError::Case::unreadableAnswer);
        }
    }
}

std::string RPCSession::nextLine() {
    std::string line;
    if (lines_->takeLine(line)) {
        return line;
    }
    for (;;) {
        auto remaining = std::chrono::duration<double>(deadline_ - Clock::now()).count();
        if (!(remaining > 0)) {
            throw QuotalumeError(QuotalumeError::Case::timeout);
        }
        // Slices of at most a second; the last one cut to what is left of the deadline.
        int sliceMs = static_cast<int>(std::clamp(remaining * 1000.0, 1.0, 1000.0));
        // The child's end, not the pipe's, ends the session: a grandchild may hold the pipe
        // open long after the child has gone. poll skips the exit entry when it is -1.
        // A quitting program does not wait for Codex: its child is killed with the session.
        const Cancellation* cancellation = Cancellation::current();
        pollfd ready[3] = {{process_->output(), POLLIN, 0},
                           {process_->exitDescriptor(), POLLIN, 0},
                           {cancellation ? cancellation->descriptor() : -1, POLLIN, 0}};
        int polled = ::poll(ready, 3, sliceMs);
        if (Cancellation::requested()) {
            throw QuotalumeError(QuotalumeError::Case::timeout);
        }
        if (polled < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw QuotalumeError(QuotalumeError::Case::serverExited);
        }
        if (ready[0].revents == 0) {
            // Nothing left to read: either the child has ended or, without a pidfd to tell,
            // we look once per slice.
            if (ready[1].revents != 0 || (polled == 0 && ready[1].fd < 0 && !process_->running())) {
                throw QuotalumeError(QuotalumeError::Case::serverExited);
            }
            continue;
        }
        // After the child's end only what it left in the pipe counts; a grandchild that goes
        // on writing does not keep the session alive.
        if (ready[1].revents != 0 && readAfterExit_ > pipeCapacityBytes) {
            throw QuotalumeError(QuotalumeError::Case::serverExited);
        }

        char* room = lines_->prepare();
        ssize_t count;
        do {
            count = ::read(process_->output(), room, LineBuffer::readChunkBytes);
        } while (count < 0 && errno == EINTR);
        lines_->commit(static_cast<std::size_t>(std::max<ssize_t>(count, 0)));
        if (count <= 0) {
            throw QuotalumeError(QuotalumeError::Case::serverExited);
        }
        if (ready[1].revents != 0) {
            readAfterExit_ += static_cast<std::size_t>(count);
        }
        if (lines_->overflowing()) {
            throw QuotalumeError(QuotalumeError::Case::invalidResponse);
        }
        if (lines_->takeLine(line)) {
            return line;
        }
    }
}

void RPCSession::close() noexcept {
    if (closed_) {
        return;
    }
    closed_ = true;
    process_->closeInput();
    using std::chrono::milliseconds;
    if (!process_->waitForExit(milliseconds(500))) {
        process_->signal(SIGTERM);
        if (!process_->waitForExit(milliseconds(500))) {
            process_->killAndReap();
        }
    }
    process_->closeOutput();
}

}  // namespace quotalume
