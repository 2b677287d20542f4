#include <quotalume/usage_snapshot.hpp>

#include "../support/encoding.hpp"
#include "../support/json_coding.hpp"

#include <openssl/evp.h>

#include <stdexcept>

namespace quotalume {

using namespace coding;

std::string UsageSnapshot::fingerprint(std::string_view text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha256(), nullptr) != 1) {
        throw std::runtime_error("SHA-256 unavailable");
    }
    return hexadecimal(std::span<const unsigned char>(digest, length));
}

std::optional<RateBucket> UsageSnapshot::codexBucket() const {
    for (const auto& bucket : buckets) {
        if (bucket.id() == "codex") {
            return bucket;
        }
    }
    return std::nullopt;
}

UsageSnapshot UsageSnapshot::codexOnly() const {
    UsageSnapshot copy{observedAt, accountFingerprint, {}};
    if (auto bucket = codexBucket()) {
        copy.buckets.push_back(std::move(*bucket));
    }
    return copy;
}

json UsageSnapshot::toJSON(DateCoding dates) const {
    json out = {{"accountFingerprint", accountFingerprint}, {"buckets", buckets}};
    out["observedAt"] = dates == DateCoding::iso8601 ? json(iso8601(observedAt))
                                                     : json(referenceSeconds(observedAt));
    return out;
}

UsageSnapshot UsageSnapshot::fromJSON(const json& in, DateCoding dates) {
    object(in, "snapshot");
    const json& time = required(in, "observedAt");
    Date observedAt;
    if (dates == DateCoding::iso8601) {
        auto parsed = parseISO8601(asString(time, "observedAt"));
        if (!parsed) {
            fail(Kind::dataCorrupted, "observedAt", "not an ISO 8601 date");
        }
        observedAt = *parsed;
    } else {
        observedAt = asReferenceDate(time, "observedAt");
    }
    return UsageSnapshot{observedAt,
                         asString(required(in, "accountFingerprint"), "accountFingerprint"),
                         requiredList<RateBucket>(in, "buckets")};
}

}  // namespace quotalume
