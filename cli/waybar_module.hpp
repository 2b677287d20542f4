#pragma once

#include "engine_reading.hpp"

#include <quotalume/support/date.hpp>
#include <quotalume/usage/rate_limits.hpp>
#include <quotalume/usage/usage_snapshot.hpp>

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>
#include <vector>

namespace quotalume::cli {

// Figures that are old, or whose last reading failed: every bar marks them.
bool isOutdated(const EngineReading& reading);

// The JSON object a waybar custom module with "return-type": "json" reads: text, tooltip,
// class (normal, low, critical or error) and, for a reading, the lowest share left as
// percentage. Text and tooltip are Pango markup, escaped here.
struct WaybarModule {
    static nlohmann::json make(std::string_view text, std::string_view tooltip,
                               const char* className);
    // A reading with its snapshot; outdated, its text is marked "! " as the tray marks it, and
    // its class is the pair of its level's and "stale" (waybar takes a list). The tooltip has
    // each window's line as `status` prints it, names another bucket while it runs low or is
    // blocked, and a `remark` (why it is stale, say) ends it.
    static nlohmann::json of(const EngineReading& reading, Date now, std::string_view remark = {});
};

std::string joinedLines(const std::vector<std::string>& lines);

}  // namespace quotalume::cli
