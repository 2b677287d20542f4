#include <quotalume/support/json_decoding_error.hpp>

namespace quotalume {

int JSONDecodingError::code() const {
    switch (kind_) {
        case Kind::notJSON:
            return 3840;
        case Kind::typeMismatch:
        case Kind::dataCorrupted:
            return 4864;
        case Kind::keyNotFound:
        case Kind::valueNotFound:
            return 4865;
    }
    return 4864;
}

JSONDecodingError JSONDecodingError::within(std::string_view parent) const {
    std::string path(parent);
    if (!member_.empty()) {
        path += (member_.front() == '[' ? "" : ".") + member_;
    }
    return JSONDecodingError(kind_, std::string(parent) + ": " + what(), std::move(path),
                             expected_);
}

}  // namespace quotalume
