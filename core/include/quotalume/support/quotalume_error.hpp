#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include <quotalume/l10n/localized_message.hpp>

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
        notCodex,
        unreadableAnswer,  // a line that looks like JSON but cannot be read: never waited out
        offline,           // Codex could not reach its servers: the figures shown stay
    };

    explicit QuotalumeError(Case errorCase);
    // `said` is what Codex said about it, shown after our own words.
    static QuotalumeError rpc(std::string method, std::int64_t code, std::string said = {});
    static QuotalumeError webhook(LocalizedMessage message);
    // `command` signs in the very Codex and home that were read, ready for a shell.
    static QuotalumeError notSignedIn(std::string command);
    // The program at `executable` ended without speaking Codex's protocol.
    static QuotalumeError notCodex(std::string executable);
    // Codex said it cannot reach its servers; `said` is how.
    static QuotalumeError offline(std::string said);

    Case errorCase() const { return case_; }
    const std::string& method() const { return method_; }
    std::int64_t code() const { return code_; }
    const std::string& detail() const { return detail_; }

    LocalizedMessage userMessage() const;
    // userMessage rendered in the current interface language.
    std::string errorDescription() const;
    const char* what() const noexcept override;

    friend bool operator==(const QuotalumeError& a, const QuotalumeError& b) {
        return a.case_ == b.case_ && a.method_ == b.method_ && a.code_ == b.code_ &&
               a.message_ == b.message_ && a.detail_ == b.detail_;
    }

private:
    Case case_;
    std::string method_;
    std::int64_t code_ = 0;
    LocalizedMessage message_;
    std::string detail_;
};

}  // namespace quotalume
