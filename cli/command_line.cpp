#include "command_line.hpp"

namespace quotalume::cli {

bool Arguments::flag(const std::string& name) {
    for (auto it = arguments_.begin(); it != arguments_.end(); ++it) {
        if (*it == name) {
            arguments_.erase(it);
            return true;
        }
    }
    return false;
}

std::optional<std::string> Arguments::value(const std::string& name) {
    for (auto it = arguments_.begin(); it != arguments_.end(); ++it) {
        if (*it == name) {
            if (std::next(it) == arguments_.end()) {
                throw UsageError(name + " needs a value");
            }
            std::string result = *std::next(it);
            arguments_.erase(it, it + 2);
            return result;
        }
        if (it->starts_with(name + "=")) {
            std::string result = it->substr(name.size() + 1);
            arguments_.erase(it);
            return result;
        }
    }
    return std::nullopt;
}

void Arguments::finish() const {
    if (!arguments_.empty()) {
        // Only the name: the value of a mistyped option may be a credential.
        const std::string& first = arguments_.front();
        throw UsageError("unknown argument: " + first.substr(0, first.starts_with("--")
                                                                    ? first.find('=')
                                                                    : std::string::npos));
    }
}

}  // namespace quotalume::cli
