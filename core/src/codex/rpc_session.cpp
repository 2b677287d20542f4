#include <quotalume/rpc_session.hpp>

#include <quotalume/bounded_json.hpp>
#include <quotalume/child_process.hpp>
#include <quotalume/codex_read_only_policy.hpp>
#include <quotalume/quotalume_error.hpp>
#include <quotalume/text.hpp>

#include "../support/json_coding.hpp"

#include <nlohmann/json.hpp>

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

extern char** environ;

namespace quotalume {
namespace {

using Clock = std::chrono::steady_clock;
using nlohmann::json;

constexpr std::size_t readChunkBytes = 8192;
constexpr std::size_t largeLineBytes = 64 * 1024;
// What a pipe holds by default: all a child can have written that is still unread at its end.
constexpr std::size_t pipeCapacityBytes = 64 * 1024;
constexpr std::int64_t methodNotFound = -32601;

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

// Whether a line that failed to parse would, with its invalid UTF-8 repaired, be the answer
// to request `id`.
bool answersRequest(const std::string& line, std::int64_t id) {
    auto repaired = repairingUTF8(line);
    if (!repaired) {
        return false;
    }
    json answer = parseBoundedJSON(*repaired);
    if (!answer.is_object() || answer.contains("method")) {
        return false;
    }
    auto found = answer.find("id");
    return found != answer.end() && coding::integral(*found) == id;
}

}  // namespace

RPCSession::RPCSession(const std::string& executable, const std::string& home, double timeout)
    : deadline_(deadlineAfter(timeout)) {
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
        const std::string line = nextLine();
        json answer = parseBoundedJSON(line);
        if (answer.is_discarded()) {
            // Our answer with bytes that are not UTF-8 has still arrived: waiting on would
            // only turn a broken answer into a timeout.
            if (answersRequest(line, requestID_)) {
                throw QuotalumeError(QuotalumeError::Case::invalidResponse);
            }
            continue;
        }
        if (!answer.is_object()) {
            continue;  // log lines and non-object values
        }
        auto id = answer.find("id");
        if (answer.contains("method")) {
            if (id != answer.end()) {
                send({{"id", *id},
                      {"error",
                       {{"code", methodNotFound},
                        {"message", "This client only reads usage limits."}}}});
            }
            continue;  // notifications need no reply
        }
        if (id == answer.end() || coding::integral(*id) != requestID_) {
            continue;
        }
        if (auto error = answer.find("error"); error != answer.end() && error->is_object()) {
            auto code = error->find("code");
            throw QuotalumeError::rpc(
                std::string(method),
                code != error->end() ? coding::integral(*code).value_or(-1) : -1);
        }
        auto result = answer.find("result");
        if (result == answer.end() || !result->is_object()) {
            throw QuotalumeError(QuotalumeError::Case::invalidResponse);
        }
        return std::move(*result);
    }
}

bool RPCSession::takeBufferedLine(std::string& line) {
    const std::size_t from = std::max(lineStart_, scanned_);
    const void* feed = std::memchr(buffer_.data() + from, '\n', buffer_.size() - from);
    if (feed == nullptr) {
        scanned_ = buffer_.size();
        return false;
    }
    auto end = static_cast<std::size_t>(static_cast<const char*>(feed) - buffer_.data());
    line.assign(buffer_, lineStart_, end - lineStart_);
    lineStart_ = scanned_ = end + 1;
    if (lineStart_ == buffer_.size()) {
        buffer_.clear();
        lineStart_ = scanned_ = 0;
    }
    return true;
}

std::string RPCSession::nextLine() {
    std::string line;
    if (takeBufferedLine(line)) {
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
        pollfd ready[2] = {{process_->output(), POLLIN, 0},
                           {process_->exitDescriptor(), POLLIN, 0}};
        int polled = ::poll(ready, 2, sliceMs);
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

        // Drop returned lines from the front before growing, so the buffer stays bounded by
        // the unread bytes and cutting many lines stays linear.
        if (lineStart_ > 0) {
            buffer_.erase(0, lineStart_);
            scanned_ -= lineStart_;
            lineStart_ = 0;
        }
        std::size_t used = buffer_.size();
        // A long line gets room up to the ceiling at once: the pages are only touched as bytes
        // arrive, and the buffer is never copied again on the way to 4 MiB.
        if (used >= largeLineBytes && buffer_.capacity() < maximumBufferedBytes + readChunkBytes) {
            buffer_.reserve(maximumBufferedBytes + readChunkBytes);
        }
        buffer_.resize(used + readChunkBytes);
        ssize_t count;
        do {
            count = ::read(process_->output(), buffer_.data() + used, readChunkBytes);
        } while (count < 0 && errno == EINTR);
        buffer_.resize(used + static_cast<std::size_t>(std::max<ssize_t>(count, 0)));
        if (count <= 0) {
            throw QuotalumeError(QuotalumeError::Case::serverExited);
        }
        if (ready[1].revents != 0) {
            readAfterExit_ += static_cast<std::size_t>(count);
        }
        if (buffer_.size() > maximumBufferedBytes) {
            throw QuotalumeError(QuotalumeError::Case::invalidResponse);
        }
        if (takeBufferedLine(line)) {
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
