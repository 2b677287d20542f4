#include "watch_line.hpp"

#include "usage_monitor.hpp"
#include "waybar_module.hpp"

#include <optional>
#include <string>
#include <vector>

namespace quotalume::cli {
namespace {

std::optional<std::string> remark(const UsageMonitor& monitor) {
    if (const auto& error = monitor.lastError()) {
        return error->localized();
    }
    if (const std::vector<LocalizedMessage> warnings = monitor.warnings(); !warnings.empty()) {
        std::string joined;
        for (const LocalizedMessage& warning : warnings) {
            joined += (joined.empty() ? "" : " \u00b7 ") + warning.localized();
        }
        return joined;
    }
    if (monitor.demo() || !monitor.snapshot() || monitor.isStale()) {
        return monitor.statusText();
    }
    return std::nullopt;
}

}  // namespace

std::string watchLine(const UsageMonitor& monitor, bool waybar) {
    const std::optional<std::string> note = remark(monitor);
    if (!waybar) {
        return monitor.menuBarTitle() + (note ? " \u00b7 " + *note : "");
    }
    if (!monitor.snapshot()) {
        return WaybarModule::make(monitor.menuBarTitle(), note.value_or(""),
                                  monitor.lastError() ? "error" : "normal")
            .dump();
    }
    const bool stale = monitor.lastError().has_value() || monitor.isStale();
    return WaybarModule::of(*monitor.snapshot(), monitor.now(), stale, note.value_or("")).dump();
}

}  // namespace quotalume::cli
