#pragma once

#include <exception>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace quotalume {

// A user-visible text kept as a localisation key plus its arguments, rendered only when shown,
// so stored messages follow the interface language of the moment.
struct LocalizedMessage {
    std::string key;
    std::vector<std::string> arguments;

    LocalizedMessage() = default;
    // From a literal: the key with no arguments ("status.connected").
    LocalizedMessage(const char* key) : key(key) {}  // NOLINT(google-explicit-constructor)
    explicit LocalizedMessage(std::string key, std::vector<std::string> arguments = {})
        : key(std::move(key)), arguments(std::move(arguments)) {}

    friend bool operator==(const LocalizedMessage&, const LocalizedMessage&) = default;

    // Rendered in the interface language of the moment (L10n::render).
    std::string localized() const;

    // Any failure as something to show: our own errors give their message, errors that carry
    // a message give it unchanged, platform failures become "error.system" with their code.
    static LocalizedMessage from(const std::exception& error);
    static LocalizedMessage from(std::exception_ptr error);
    // A rendered text stored by an older version, turned back into a key and arguments by
    // matching it against the Simplified Chinese templates (L10n::Tables::legacyMessage).
    static LocalizedMessage fromLegacyText(std::string text);
};

// {"key": …, "arguments": […]}; reading also takes the bare string older versions stored.
void to_json(nlohmann::json& json, const LocalizedMessage& message);
void from_json(const nlohmann::json& json, LocalizedMessage& message);
// {"key", "arguments", "message"}: what scripts read, the message rendered in the interface
// language of the moment.
nlohmann::json localizedJSON(const LocalizedMessage& message);

}  // namespace quotalume
