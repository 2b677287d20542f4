#include <quotalume/schedule/source_connection_feedback.hpp>

namespace quotalume {

void SourceConnectionFeedback::begin(long long revision) {
    sourceRevision_ = revision;
    message_ = LocalizedMessage("source.saved");
}

void SourceConnectionFeedback::complete(long long revision,
                                        const std::optional<LocalizedMessage>& error) {
    if (sourceRevision_ && *sourceRevision_ == revision) {
        message_ = error ? *error : LocalizedMessage("status.connected");
    }
}

void SourceConnectionFeedback::reject(LocalizedMessage message) {
    sourceRevision_.reset();
    message_ = std::move(message);
}

}  // namespace quotalume
