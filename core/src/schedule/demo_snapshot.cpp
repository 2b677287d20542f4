#include <quotalume/schedule/demo_snapshot.hpp>

namespace quotalume {

UsageSnapshot demoSnapshot(Date now) {
    const double t = unixSeconds(now);
    RateBucket bucket;
    bucket.limitId = "codex";
    bucket.primary = RateWindow{24, 300, t + 7680};
    bucket.secondary = RateWindow{39, 10080, t + 230400};
    bucket.planType = "pro";
    bucket.credits = CreditsSnapshot{true, false, "128.5"};
    return UsageSnapshot{now, "demo", {bucket}};
}

}  // namespace quotalume
