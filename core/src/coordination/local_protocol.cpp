#include <quotalume/coordination/local_protocol.hpp>

#include <quotalume/support/bounded_json.hpp>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>

namespace quotalume::local_protocol {

std::string request(std::string_view word) {
    return jsonText({{"request", word}});
}

std::string configRequest(std::string_view key, std::string_view value) {
    return jsonText({{"request", config}, {"key", key}, {"value", value}});
}

std::optional<Request> parseRequest(std::string_view line) {
    if (line.size() > largestRequest) {
        return std::nullopt;
    }
    const nlohmann::json parsed = parseBoundedJSON(line, 4);
    if (!parsed.is_object() || !parsed.contains("request") || !parsed["request"].is_string()) {
        return std::nullopt;
    }
    Request found{.word = parsed["request"].get<std::string>()};
    if (found.word == config) {
        if (!parsed.contains("key") || !parsed["key"].is_string() || !parsed.contains("value") ||
            !parsed["value"].is_string()) {
            return std::nullopt;
        }
        found.key = parsed["key"].get<std::string>();
        found.value = parsed["value"].get<std::string>();
    }
    return found;
}

bool isValidToken(std::string_view token) {
    return !token.empty() && token.size() <= longestToken &&
           std::all_of(token.begin(), token.end(), [](char c) {
               return std::isalnum(static_cast<unsigned char>(c)) != 0 ||
                      std::string_view("-_.:/+=@").find(c) != std::string_view::npos;
           });
}

std::string launchRequest(const LaunchRequest& launch) {
    return std::string(launch.settings ? settingsWord : reopenWord) +
           (launch.token.empty() ? "" : " " + launch.token);
}

std::optional<LaunchRequest> parseLaunchRequest(std::string_view line) {
    const std::size_t space = line.find(' ');
    const std::string_view word = line.substr(0, space);
    if (word != reopenWord && word != settingsWord) {
        return std::nullopt;
    }
    LaunchRequest launch{.settings = word == settingsWord};
    if (space != std::string_view::npos) {
        const std::string_view token = line.substr(space + 1);
        if (!isValidToken(token)) {
            return std::nullopt;
        }
        launch.token = std::string(token);
    }
    return launch;
}

}  // namespace quotalume::local_protocol
