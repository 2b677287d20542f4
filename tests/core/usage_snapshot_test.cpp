#include <quotalume/support/json_decoding_error.hpp>
#include <quotalume/usage/usage_snapshot.hpp>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace quotalume {
namespace {

using nlohmann::json;

TEST(UsageSnapshotTest, CodexOnlyKeepsTheFirstCodexBucket) {
    RateBucket other{"other"}, codex{std::nullopt, "first"}, second{"codex", "second"};
    UsageSnapshot snapshot{dateFromUnixSeconds(10), "f", {other, codex, second}};
    EXPECT_EQ(snapshot.codexBucket(), codex);
    EXPECT_EQ(snapshot.codexOnly().buckets, std::vector<RateBucket>{codex});
    EXPECT_TRUE((UsageSnapshot{{}, "f", {other}}).codexOnly().buckets.empty());
}

TEST(UsageSnapshotTest, JsonRoundTripsInBothDateForms) {
    RateBucket bucket{"codex", std::nullopt, RateWindow{24, 300, 1900000000.25}};
    UsageSnapshot snapshot{dateFromReferenceSeconds(786000000.5), "ab", {bucket}};
    json stored = snapshot.toJSON(DateCoding::referenceSeconds);
    EXPECT_EQ(stored["observedAt"], 786000000.5);
    EXPECT_EQ(UsageSnapshot::fromJSON(stored, DateCoding::referenceSeconds), snapshot);

    json shown = snapshot.toJSON(DateCoding::iso8601);
    EXPECT_EQ(shown["observedAt"], "2025-11-28T05:20:00Z");
    EXPECT_EQ(UsageSnapshot::fromJSON(shown, DateCoding::iso8601).buckets, snapshot.buckets);

    for (const char* key : {"observedAt", "accountFingerprint", "buckets"}) {
        json missing = stored;
        missing.erase(key);
        EXPECT_THROW(UsageSnapshot::fromJSON(missing, DateCoding::referenceSeconds),
                     JSONDecodingError)
            << key;
    }
}

}  // namespace
}  // namespace quotalume
