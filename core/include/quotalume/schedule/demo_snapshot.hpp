#pragma once

#include <quotalume/usage/usage_snapshot.hpp>

namespace quotalume {

// The made-up reading of demo runs: 24 % of the five-hour window used, resetting in 2 h 8 min,
// 39 % of the weekly window, resetting in 2 days 16 h, plan "pro", 128.5 credits.
UsageSnapshot demoSnapshot(Date now);

}  // namespace quotalume
