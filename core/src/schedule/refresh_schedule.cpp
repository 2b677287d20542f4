#include <quotalume/schedule/refresh_schedule.hpp>

#include <algorithm>
#include <cmath>

namespace quotalume {

double RefreshSchedule::delay(const std::optional<UsageSnapshot>& snapshot, Date now,
                              double interval, long long failures) {
    const double base = std::isnan(interval)
                            ? shortestInterval
                            : std::min(std::max(interval, shortestInterval), longestInterval);
    if (failures >= 1) {
        return std::min(300.0, base * std::exp2(static_cast<double>(std::min(failures, 5LL) - 1)));
    }
    if (!snapshot) {
        return base;
    }
    std::optional<double> soonest;
    for (const RateBucket& bucket : snapshot->buckets) {
        for (QuotaWindow which : bucket.windows()) {
            auto reset = bucket.window(which)->resetDate();
            if (!reset) {
                continue;
            }
            const double until = std::chrono::duration<double>(*reset - now).count();
            std::optional<double> candidate;
            if (until > 0) {
                candidate = until + 2;
            } else if (until > -120) {
                candidate = 10;
            }
            if (candidate && (!soonest || *candidate < *soonest)) {
                soonest = candidate;
            }
        }
    }
    return soonest && *soonest < base ? *soonest : base;
}

}  // namespace quotalume
