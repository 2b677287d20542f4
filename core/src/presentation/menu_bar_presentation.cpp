#include <quotalume/menu_bar_presentation.hpp>

#include <quotalume/l10n.hpp>

#include <algorithm>
#include <cmath>

namespace quotalume {

std::optional<MenuBarLayout> MenuBarLayout::make(int itemCount, MenuBarStyle style) {
    if (itemCount != 1 && itemCount != 2) {
        return std::nullopt;
    }
    MenuBarLayout layout;
    layout.itemCount = itemCount;
    layout.style = style;
    return layout;
}

double MenuBarLayout::centerY(int item) const {
    return usesRings(style) ? height * 0.5 : height - (item + 0.5) * height / itemCount;
}

double MenuBarLayout::ringItemWidth(double percentageWidth) const {
    return ringDiameter + (showsPercentage(style) ? percentageWidth + ringPercentageSpacing : 0);
}

double MenuBarLayout::ringsWidth(double percentageWidth) const {
    return itemCount * ringItemWidth(percentageWidth) + (itemCount - 1) * ringSpacing();
}

double MenuBarLayout::centerX(int ring, double percentageWidth) const {
    double extra = showsPercentage(style) ? percentageWidth + ringPercentageSpacing : 0;
    return ringDiameter * 0.5 + ring * (ringDiameter + extra + ringSpacing());
}

std::string MenuBarPresentation::Item::text() const {
    return std::string(shortTitle(window)) + " " + percentageText;
}

std::vector<MenuBarPresentation::Item> MenuBarPresentation::items(
    const std::optional<RateBucket>& bucket, MenuBarScope scope) {
    std::vector<Item> result;
    if (!bucket || bucket->id() != "codex") {
        return result;
    }
    for (QuotaWindow which : allQuotaWindows) {
        if (!includes(scope, which)) {
            continue;
        }
        auto window = bucket->window(which);
        if (!window || !window->remainingPercent()) {
            continue;
        }
        result.push_back(Item{which, *window->remainingPercent(), window->percentageText()});
    }
    return result;
}

std::vector<QuotaWindow> MenuBarPresentation::visibleWindows(
    const std::optional<RateBucket>& bucket) {
    std::vector<QuotaWindow> windows;
    for (const auto& item : items(bucket, MenuBarScope::both)) {
        windows.push_back(item.window);
    }
    return windows;
}

std::string MenuBarPresentation::title(const std::optional<RateBucket>& bucket, bool stale,
                                       MenuBarScope scope) {
    auto shown = items(bucket, scope);
    if (shown.empty()) {
        return L10n::render("quota.empty");
    }
    std::string text = stale ? "! " : "";
    for (std::size_t i = 0; i < shown.size(); ++i) {
        text += (i > 0 ? " \u00b7 " : "") + shown[i].text();
    }
    return text;
}

Rect PanelPlacement::frame(const std::optional<Rect>& anchor, const Rect& visibleFrame,
                           Size contentSize, double margin, double gap) {
    const Rect area{visibleFrame.x + margin, visibleFrame.y + margin,
                    visibleFrame.width - 2 * margin, visibleFrame.height - 2 * margin};
    const double width = std::min(std::max(contentSize.width, 1.0), std::max(area.width, 1.0));
    const double height = std::min(std::max(area.height, 1.0), std::max(contentSize.height, 1.0));
    double x = anchor ? anchor->midX() - width / 2 : area.maxX() - width;
    const double top = anchor ? anchor->minY() - gap : area.maxY();
    double y = std::max(std::min(area.maxY(), top) - height, area.minY());
    x = std::min(area.maxX() - width, std::max(x, area.minX()));
    y = std::min(area.maxY() - height, y);
    return Rect{x, y, width, height};
}

}  // namespace quotalume
