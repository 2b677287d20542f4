// Feeds arbitrary bytes to every reader of outside data: Codex answers, stored records and
// stored messages. Any input may be refused, none may crash or leak.

#include <quotalume/l10n/localized_message.hpp>
#include <quotalume/reset/reset_detector.hpp>
#include <quotalume/support/bounded_json.hpp>
#include <quotalume/support/json_decoding_error.hpp>
#include <quotalume/usage/rate_limits.hpp>
#include <quotalume/usage/thread_usage.hpp>
#include <quotalume/usage/usage_snapshot.hpp>

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

template <typename Record>
void decode(const nlohmann::json& value) {
    try {
        (void)value.get<Record>();
    } catch (const quotalume::JSONDecodingError&) {
    } catch (const nlohmann::json::exception&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Run with -max_len=65536 or more, so inputs reach past the nesting bound.
    auto value =
        quotalume::parseBoundedJSON(std::string_view(reinterpret_cast<const char*>(data), size));
    if (value.is_discarded()) {
        return 0;
    }
    decode<quotalume::RateLimitsResponse>(value);
    decode<quotalume::ThreadListResponse>(value);
    decode<quotalume::AccountThreadUsageResponse>(value);
    decode<quotalume::ResetDetector>(value);
    decode<quotalume::ResetEvent>(value);
    decode<quotalume::LocalizedMessage>(value);
    try {
        auto snapshot =
            quotalume::UsageSnapshot::fromJSON(value, quotalume::DateCoding::referenceSeconds);
        quotalume::ResetDetector detector;
        detector.observe(snapshot);
        for (const auto& bucket : snapshot.buckets) {
            for (auto window : quotalume::allQuotaWindows) {
                if (auto found = bucket.window(window)) {
                    (void)found->percentageText();
                }
            }
        }
    } catch (const quotalume::JSONDecodingError&) {
    }
    return 0;
}
