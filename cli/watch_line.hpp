#pragma once

#include <string>

namespace quotalume {
class UsageMonitor;
}

namespace quotalume::cli {

// What `watch` prints for the engine's published state: the tray's title and, when there is
// something to say beside it (an error, stale figures, demonstration), that; or with `waybar`
// the module of `status --waybar`. Steady states leave out "Refreshing…" and "Connected",
// which would otherwise flicker through a status bar at every reading.
std::string watchLine(const UsageMonitor& monitor, bool waybar);

}  // namespace quotalume::cli
