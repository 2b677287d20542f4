// Feeds arbitrary bytes as the child's output, in chunks, through the session's line buffer and
// reads every complete line against a waiting request. The first four bytes pick the request
// id, the buffer's bound and the two alternating chunk sizes; the rest is the stream.
//
// Checked: the lines returned are exactly the stream cut at its line feeds, with nothing lost
// and nothing returned past the bound; a line answers at most one request; a request of the
// child's is refused whatever we wait for, with a reply that serialises.

#include <quotalume/codex/codex_read_only_policy.hpp>
#include <quotalume/codex/rpc_session.hpp>
#include <quotalume/support/bounded_json.hpp>

#include "codex/line_buffer.hpp"
#include "codex/response_match.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

namespace {

using quotalume::LineBuffer;
using quotalume::ResponseMatch;
using Action = ResponseMatch::Action;

#define CHECK(condition)                                                          \
    do {                                                                          \
        if (!(condition)) {                                                       \
            std::fprintf(stderr, "session_fuzz: check failed: %s\n", #condition); \
            std::abort();                                                         \
        }                                                                         \
    } while (false)

constexpr std::array<std::int64_t, 8> requestIDs = {1,
                                                    2,
                                                    3,
                                                    0,
                                                    -1,
                                                    1LL << 53,
                                                    std::numeric_limits<std::int64_t>::max(),
                                                    std::numeric_limits<std::int64_t>::min()};

std::size_t chunkSize(std::uint8_t choice) {
    return choice < 128 ? choice + 1u
                        : std::min<std::size_t>(LineBuffer::readChunkBytes, (choice - 127u) * 64);
}

void readLine(const std::string& line, std::int64_t id) {
    ResponseMatch match = quotalume::matchResponse(line, id);
    std::int64_t otherID = id == std::numeric_limits<std::int64_t>::max() ? id - 1 : id + 1;
    ResponseMatch other = quotalume::matchResponse(line, otherID);
    switch (match.action) {
        case Action::skip:
            break;
        case Action::result:
            CHECK(match.value.is_object());
            CHECK(other.action == Action::skip);
            break;
        case Action::rpcError:
        case Action::invalid:
            CHECK(other.action == Action::skip);
            break;
        case Action::unreadable:
            // Unreadable whoever waits for it, and only a line that opens an object.
            CHECK(other.action == Action::unreadable);
            CHECK(line.find_first_not_of(" \t\r") != std::string::npos &&
                  line[line.find_first_not_of(" \t\r")] == '{');
            break;
        case Action::refuse: {
            CHECK(other.action == Action::refuse && other.value == match.value);
            nlohmann::json reply = quotalume::refusalReply(match.value);
            CHECK(nlohmann::json::parse(reply.dump()) == reply);
            // What the read-only policy makes of the child's request, as if we were to send it.
            auto request = quotalume::parseBoundedJSON(line);
            auto method = request.find("method");
            if (method != request.end() && method->is_string()) {
                auto params = request.find("params");
                const nlohmann::json* object =
                    params != request.end() && params->is_object() ? &*params : nullptr;
                (void)quotalume::CodexReadOnlyPolicy::permits(method->get_ref<const std::string&>(),
                                                              object);
            }
            break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) {
        return 0;
    }
    const std::int64_t id = requestIDs[data[0] & 7];
    const std::size_t bound =
        data[1] < 128 ? quotalume::RPCSession::maximumBufferedBytes : (data[1] - 127u) * 16;
    const std::array<std::size_t, 2> chunks = {chunkSize(data[2]), chunkSize(data[3])};
    const std::string_view stream(reinterpret_cast<const char*>(data) + 4, size - 4);

    // A large-line threshold the inputs can reach, whatever the bound.
    LineBuffer buffer(bound, std::min<std::size_t>(bound / 4 + 1, 16 * 1024));
    std::size_t fed = 0;       // stream bytes committed to the buffer
    std::size_t returned = 0;  // stream bytes returned as lines, line feeds included
    bool overflowed = false;
    std::string line;
    for (std::size_t round = 0;; ++round) {
        while (buffer.takeLine(line)) {
            CHECK(line.size() < bound);
            CHECK(returned + line.size() < fed);
            CHECK(stream.substr(returned, line.size()) == line);
            CHECK(stream[returned + line.size()] == '\n');
            returned += line.size() + 1;
            CHECK(buffer.unread() == fed - returned);
            readLine(line, id);
        }
        CHECK(stream.substr(returned, fed - returned).find('\n') == std::string_view::npos);
        if (fed == stream.size()) {
            break;
        }
        std::size_t count = std::min(chunks[round % 2], stream.size() - fed);
        char* room = buffer.prepare();
        // Line feeds past what is committed must not count.
        std::memset(room + count, '\n',
                    std::min<std::size_t>(64, LineBuffer::readChunkBytes - count));
        std::memcpy(room, stream.data() + fed, count);
        buffer.commit(count);
        fed += count;
        CHECK(buffer.unread() == fed - returned);
        if (buffer.overflowing()) {
            CHECK(fed - returned > bound);
            overflowed = true;  // the session gives up here
            break;
        }
    }
    if (!overflowed) {
        auto lastFeed = stream.rfind('\n');
        CHECK(returned == (lastFeed == std::string_view::npos ? 0 : lastFeed + 1));
    }
    return 0;
}
