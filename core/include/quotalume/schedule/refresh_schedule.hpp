#pragma once

#include <quotalume/support/date.hpp>
#include <quotalume/usage/usage_snapshot.hpp>

#include <optional>

namespace quotalume {

// How long to wait before the next reading: the user's interval (15…300 s), doubled per
// consecutive failure up to 300 s, and pulled in to just after a Codex window resets.
struct RefreshSchedule {
    // The user's interval is held to these bounds, in seconds.
    static constexpr double shortestInterval = 15;
    static constexpr double longestInterval = 300;

    static double delay(const std::optional<UsageSnapshot>& snapshot, Date now, double interval,
                        long long failures);
};

}  // namespace quotalume
