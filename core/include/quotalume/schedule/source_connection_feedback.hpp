#pragma once

#include <quotalume/l10n/localized_message.hpp>

#include <optional>

namespace quotalume {

// What the settings window says about a newly chosen Codex source. Only the answer to the
// latest attempt counts: a slower answer for a source since replaced is ignored.
class SourceConnectionFeedback {
public:
    const std::optional<LocalizedMessage>& message() const { return message_; }

    void begin(long long revision);
    void complete(long long revision, const std::optional<LocalizedMessage>& error);
    void reject(LocalizedMessage message);

    friend bool operator==(const SourceConnectionFeedback&,
                           const SourceConnectionFeedback&) = default;

private:
    std::optional<LocalizedMessage> message_;
    std::optional<long long> sourceRevision_;
};

}  // namespace quotalume
