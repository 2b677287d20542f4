#include <quotalume/support/quotalume_error.hpp>

#include <quotalume/support/text.hpp>

namespace quotalume {

QuotalumeError::QuotalumeError(Case errorCase) : case_(errorCase) {}

QuotalumeError QuotalumeError::rpc(std::string method, std::int64_t code, std::string said) {
    QuotalumeError error(Case::rpc);
    error.method_ = std::move(method);
    error.code_ = code;
    // Another program's words: bounded, and nothing in them may act as a line break or markup
    // wherever they are shown.
    error.detail_ = plainExcerpt(said, 200);
    return error;
}

QuotalumeError QuotalumeError::notSignedIn(std::string command) {
    QuotalumeError error(Case::notSignedIn);
    error.detail_ = std::move(command);
    return error;
}

QuotalumeError QuotalumeError::notCodex(std::string executable) {
    QuotalumeError error(Case::notCodex);
    error.detail_ = std::move(executable);
    return error;
}

QuotalumeError QuotalumeError::offline(std::string said) {
    QuotalumeError error(Case::offline);
    error.detail_ = plainExcerpt(said, 200);
    return error;
}

QuotalumeError QuotalumeError::webhook(LocalizedMessage message) {
    QuotalumeError error(Case::webhook);
    error.message_ = std::move(message);
    return error;
}

LocalizedMessage QuotalumeError::userMessage() const {
    switch (case_) {
        case Case::rpc:
            if (!detail_.empty()) {
                return LocalizedMessage("error.rpc_said",
                                        {method_, std::to_string(code_), detail_});
            }
            return LocalizedMessage("error.rpc", {method_, std::to_string(code_)});
        case Case::webhook:
            return message_;
        case Case::executableMissing:
            return "error.executable";
        case Case::invalidHome:
            return "error.home";
        case Case::notSignedIn:
            return detail_.empty() ? LocalizedMessage("error.login")
                                   : LocalizedMessage("error.login_command", {detail_});
        case Case::unsupportedAccount:
            return "error.auth_type";
        case Case::timeout:
            return "error.timeout";
        case Case::serverExited:
            return "error.server_exit";
        case Case::invalidResponse:
            return "error.response";
        case Case::noLimits:
            return "error.no_limits";
        case Case::readOnlyViolation:
            return "error.read_only";
        case Case::invalidThreadID:
            return "error.thread_id";
        case Case::notCodex:
            return LocalizedMessage("error.not_codex", {detail_});
        case Case::unreadableAnswer:
            return "error.unreadable_answer";
        case Case::offline:
            return LocalizedMessage("error.offline", {detail_});
    }
    return "error.response";
}

const char* QuotalumeError::what() const noexcept {
    if (case_ == Case::webhook) {
        return message_.key.c_str();
    }
    // Keys of the value-less cases are string literals, so the pointer outlives the call.
    static const char* const keys[] = {
        "error.rpc",       "error.webhook",           "error.executable", "error.home",
        "error.login",     "error.auth_type",         "error.timeout",    "error.server_exit",
        "error.response",  "error.no_limits",         "error.read_only",  "error.thread_id",
        "error.not_codex", "error.unreadable_answer", "error.offline",
    };
    return keys[static_cast<int>(case_)];
}

}  // namespace quotalume
