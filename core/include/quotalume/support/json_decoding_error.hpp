#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace quotalume {

// A JSON document that is not what a record expects. The numeric codes are the ones the
// reference platform reports, so messages in stored histories read the same everywhere.
class JSONDecodingError : public std::runtime_error {
public:
    enum class Kind {
        notJSON,        // 3840
        typeMismatch,   // 4864
        dataCorrupted,  // 4864
        keyNotFound,    // 4865
        valueNotFound,  // 4865
    };

    // `member`: the path of the member at fault ("rateLimits.primary.usedPercent"), empty when
    // it is the value itself; `expected`: what it should have been ("number", "string",
    // "boolean", "integer", "object", "array"), "missing" or "invalid".
    JSONDecodingError(Kind kind, const std::string& detail, std::string member = {},
                      std::string expected = {})
        : std::runtime_error(detail),
          kind_(kind),
          member_(std::move(member)),
          expected_(std::move(expected)) {}

    Kind kind() const { return kind_; }
    int code() const;
    const std::string& member() const { return member_; }
    const std::string& expected() const { return expected_; }
    // The same failure seen from the record that holds it under `parent`.
    JSONDecodingError within(std::string_view parent) const;

private:
    Kind kind_;
    std::string member_;
    std::string expected_;
};

}  // namespace quotalume
