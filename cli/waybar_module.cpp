#include "waybar_module.hpp"

#include <quotalume/l10n/l10n.hpp>
#include <quotalume/presentation/menu_bar_presentation.hpp>
#include <quotalume/presentation/quota_text.hpp>
#include <quotalume/usage/limit_state.hpp>

#include <cmath>
#include <optional>

namespace quotalume::cli {
namespace {

// waybar reads text and tooltip as Pango markup and shows nothing for text that does not parse
// as markup, such as "<1%".
std::string pangoEscaped(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

}  // namespace

std::string joinedLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) {
        text += (text.empty() ? "" : "\n") + line;
    }
    return text;
}

nlohmann::json WaybarModule::make(std::string_view text, std::string_view tooltip,
                                  const char* className) {
    return {{"text", pangoEscaped(text)}, {"tooltip", pangoEscaped(tooltip)}, {"class", className}};
}

bool isOutdated(const EngineReading& reading) {
    return reading.stale || reading.error.has_value();
}

nlohmann::json WaybarModule::of(const EngineReading& reading, Date now, std::string_view remark) {
    const UsageSnapshot& snapshot = *reading.snapshot;
    const bool stale = isOutdated(reading);
    auto bucket = snapshot.codexBucket();
    std::vector<std::string> tooltip;
    if (bucket) {
        tooltip = windowLines(*bucket, now, ShareWording::left);
    }
    const std::optional<BlockedState> blocked = BlockedState::of(snapshot);
    if (blocked && remark.empty()) {
        tooltip.push_back(blocked->text(now));  // a watch's remark says it already
    }
    for (const BucketSummary& other : reading.otherBuckets()) {
        if (other.pressing) {
            tooltip.push_back(other.line(now));
        }
    }
    if (!remark.empty()) {
        tooltip.emplace_back(remark);
    }
    nlohmann::json module =
        make(MenuBarPresentation::title(bucket, stale, MenuBarScope::both, blocked.has_value()),
             joinedLines(tooltip), "normal");
    std::optional<RateWindow> lowest;
    for (QuotaWindow which : MenuBarPresentation::visibleWindows(bucket)) {
        auto window = bucket->window(which);
        if (!lowest || *window->remainingPercent() < *lowest->remainingPercent()) {
            lowest = window;
        }
    }
    if (lowest) {
        module["percentage"] = static_cast<int>(std::floor(*lowest->remainingPercent()));
        switch (blocked ? RemainingLevel::critical : remainingLevel(*lowest)) {
            case RemainingLevel::critical:
                module["class"] = "critical";
                break;
            case RemainingLevel::low:
                module["class"] = "low";
                break;
            case RemainingLevel::none:
                break;
        }
    }
    if (stale) {
        // A list only here: a module that is not stale keeps the one class it always had.
        module["class"] = nlohmann::json::array({module["class"], "stale"});
    }
    return module;
}

}  // namespace quotalume::cli
