#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The one protocol Quotalume's processes speak over the local socket of the process that
// serves them (the tray app, or a `quotalume-cli watch`): a request a line, answers a line each.
//
// Views and `quotalume-cli` send JSON objects: {"request":"subscribe"} (the reading now and at
// every change), "reading" (the latest one, or the first once there is one), "refresh" (the
// reading after a refresh now) and "config" with "key" and "value" (a preference changed by
// name). A reading is the version-1 record; the other answers are below.
//
// A second launch of the tray app sends plain words, as every version of it has: "reopen" or
// "settings", then a space and the launcher's activation token when there is one; the answer
// is "ok". Anything else ends the connection without a word.
namespace quotalume::local_protocol {

inline constexpr std::string_view subscribe = "subscribe";
inline constexpr std::string_view reading = "reading";
inline constexpr std::string_view refresh = "refresh";
inline constexpr std::string_view config = "config";
// No request is longer: a word and, for a setting, its key and value.
inline constexpr std::size_t largestRequest = 4096;

// {"answer":WORD}: too many views at once, ask again shortly ("busy"); the reading asked for
// comes once the engine has it, a first reading or a refresh ("pending").
inline constexpr std::string_view busy = "busy";
inline constexpr std::string_view pending = "pending";
inline constexpr std::string_view busyAnswer = R"({"answer":"busy"})";
inline constexpr std::string_view pendingAnswer = R"({"answer":"pending"})";

// {"request":WORD}, and the change of a preference by name.
std::string request(std::string_view word);
std::string configRequest(std::string_view key, std::string_view value);

// What a view or quotalume-cli asked; nothing for a line that is no such request. `key` and
// `value` only for config.
struct Request {
    std::string word;
    std::string key;
    std::string value;
};
std::optional<Request> parseRequest(std::string_view line);

// A second launch of the tray app.
inline constexpr std::string_view reopenWord = "reopen";
inline constexpr std::string_view settingsWord = "settings";
inline constexpr std::string_view launchAnswer = "ok";
// No activation token is longer.
inline constexpr std::size_t longestToken = 255;

struct LaunchRequest {
    bool settings = false;
    std::string token;  // empty when the launcher gave none
};
std::string launchRequest(const LaunchRequest& launch);
// Nothing for a line that is no launch request, or whose token we would not pass on.
std::optional<LaunchRequest> parseLaunchRequest(std::string_view line);
// What compositors and launchers hand out as activation tokens: letters, digits and a little
// punctuation, at most longestToken bytes.
bool isValidToken(std::string_view token);

}  // namespace quotalume::local_protocol
