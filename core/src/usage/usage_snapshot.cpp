// SHA-256 through its own functions rather than EVP: EVP loads OpenSSL's providers, about 2 MB
// that a tray process would keep all day only to name accounts.
#define OPENSSL_SUPPRESS_DEPRECATED

#include <quotalume/usage/usage_snapshot.hpp>

#include "../support/encoding.hpp"
#include "../support/json_coding.hpp"

#include <openssl/sha.h>

#include <stdexcept>

namespace quotalume {

using namespace coding;

std::string UsageSnapshot::fingerprint(std::string_view text) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256_CTX context;
    if (SHA256_Init(&context) != 1 || SHA256_Update(&context, text.data(), text.size()) != 1 ||
        SHA256_Final(digest, &context) != 1) {
        throw std::runtime_error("SHA-256 unavailable");
    }
    return hexadecimal(std::span<const unsigned char>(digest, sizeof digest));
}

std::optional<RateBucket> UsageSnapshot::codexBucket() const {
    return bucket("codex");
}

std::optional<RateBucket> UsageSnapshot::bucket(const std::string& id) const {
    for (const auto& each : buckets) {
        if (each.id() == id) {
            return each;
        }
    }
    return std::nullopt;
}

UsageSnapshot UsageSnapshot::codexOnly() const {
    UsageSnapshot copy{observedAt,   accountFingerprint,   {},
                       std::nullopt, ordinaryUsageAllowed, resetCredits};
    if (auto bucket = codexBucket()) {
        copy.buckets.push_back(std::move(*bucket));
    }
    return copy;
}

void UsageSnapshot::dropUnsoundResetTimes() {
    for (RateBucket& bucket : buckets) {
        for (std::optional<RateWindow>* slot : {&bucket.primary, &bucket.secondary}) {
            RateWindow* window = *slot ? &**slot : nullptr;
            if (window == nullptr || !window->resetsAt) {
                continue;
            }
            if (!window->soundResetDate(observedAt)) {
                window->resetsAt.reset();
            }
        }
    }
}

std::vector<std::int64_t> UsageSnapshot::unusableWindowLengths() const {
    std::vector<std::int64_t> lengths;
    if (const std::optional<RateBucket> bucket = codexBucket()) {
        for (const std::optional<RateWindow>& window : {bucket->primary, bucket->secondary}) {
            if (window && window->windowDurationMins && !window->usableLength()) {
                lengths.push_back(*window->windowDurationMins);
            }
        }
    }
    return lengths;
}

json UsageSnapshot::toJSON(DateCoding dates) const {
    json out = {{"accountFingerprint", accountFingerprint}, {"buckets", buckets}};
    out["observedAt"] = dates == DateCoding::iso8601 ? json(iso8601(observedAt))
                                                     : json(referenceSeconds(observedAt));
    put(out, "ordinaryUsageAllowed", ordinaryUsageAllowed);
    put(out, "rateLimitResetCredits", resetCredits);
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
    UsageSnapshot snapshot{observedAt,
                           asString(required(in, "accountFingerprint"), "accountFingerprint"),
                           requiredList<RateBucket>(in, "buckets")};
    if (auto allowed = in.find("ordinaryUsageAllowed");
        allowed != in.end() && allowed->is_boolean()) {
        snapshot.ordinaryUsageAllowed = allowed->get<bool>();
    }
    if (auto credits = in.find("rateLimitResetCredits"); credits != in.end()) {
        snapshot.resetCredits = resetCreditsFromJSON(*credits);
    }
    return snapshot;
}

}  // namespace quotalume
