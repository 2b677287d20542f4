#pragma once

#include <stdexcept>
#include <string>

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

    JSONDecodingError(Kind kind, const std::string& detail)
        : std::runtime_error(detail), kind_(kind) {}

    Kind kind() const { return kind_; }
    int code() const;

private:
    Kind kind_;
};

}  // namespace quotalume
