#pragma once

#include <quotalume/date.hpp>
#include <quotalume/rate_limits.hpp>

#include <optional>
#include <string>

namespace quotalume {

// How close a window is to its limit: critical under 25 % left, low under 50 %; none when the
// used share is unknown or negative.
enum class RemainingLevel { none, low, critical };
RemainingLevel remainingLevel(const RateWindow& window);
// The warning word of a level ("quota.low", "quota.critical"), absent for none.
std::optional<std::string> warningText(RemainingLevel level);

// When the shown values were read: "Updated 10:42:07", and the full date and time.
std::string updatedText(Date observedAt);
std::string lastUpdatedText(Date observedAt);

}  // namespace quotalume
