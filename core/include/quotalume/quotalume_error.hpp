#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include <quotalume/localized_message.hpp>

namespace quotalume {

// Every failure the library detects itself. Platform failures (launch, pipes, files, JSON)
// travel as std::system_error or JSONDecodingError instead, never wrapped in this.
class QuotalumeError : public std::exception {
public:
    enum class Case {
        rpc,
        webhook,
        executableMissing,
        invalidHome,
        notSignedIn,
        unsupportedAccount,
        timeout,
        serverExited,
        invalidResponse,
        noLimits,
        readOnlyViolation,
        invalidThreadID,
    };

    explicit QuotalumeError(Case errorCase);
    static QuotalumeError rpc(std::string method, std::int64_t code);
    static QuotalumeError webhook(LocalizedMessage message);

    Case errorCase() const { return case_; }
    const std::string& method() const { return method_; }
    std::int64_t code() const { return code_; }

    LocalizedMessage userMessage() const;
    // userMessage rendered in the current interface language.
    std::string errorDescription() const;
    const char* what() const noexcept override;

    friend bool operator==(const QuotalumeError& a, const QuotalumeError& b) {
        return a.case_ == b.case_ && a.method_ == b.method_ && a.code_ == b.code_ &&
               a.message_ == b.message_;
    }

private:
    Case case_;
    std::string method_;
    std::int64_t code_ = 0;
    LocalizedMessage message_;
};

}  // namespace quotalume
