#include <quotalume/presentation/menu_bar_presentation.hpp>

#include <quotalume/l10n/l10n.hpp>
#include <quotalume/presentation/quota_text.hpp>

#include <algorithm>
#include <cmath>

namespace quotalume {

std::string MenuBarPresentation::Item::text() const {
    return shortTitle(window) + " " + percentageText;
}

std::string MenuBarPresentation::Item::leftText() const {
    return shortTitle(window) + " " + shareLeft(percentageText);
}

std::vector<MenuBarPresentation::Item> MenuBarPresentation::items(
    const std::optional<RateBucket>& bucket, MenuBarScope scope) {
    std::vector<Item> result;
    if (!bucket) {
        return result;
    }
    for (QuotaWindow which : bucket->windows()) {
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
                                       MenuBarScope scope, bool blocked, Figures figures) {
    auto shown = items(bucket, scope);
    if (shown.empty()) {
        return L10n::render("quota.empty");
    }
    std::string text = std::string(stale ? "! " : "") + (blocked ? "\u2298 " : "");
    for (std::size_t i = 0; i < shown.size(); ++i) {
        text += (i > 0 ? " \u00b7 " : "") +
                (figures == Figures::left ? shown[i].leftText() : shown[i].text());
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

const MenuBarPresentation::Item* MenuBarPresentation::lowest(const std::vector<Item>& items) {
    const auto found = std::min_element(items.begin(), items.end(), [](auto& a, auto& b) {
        return a.remainingPercent < b.remainingPercent;
    });
    return found == items.end() ? nullptr : &*found;
}

MenuBarPresentation::Square MenuBarPresentation::square(MenuBarStyle style,
                                                        const std::vector<Item>& items,
                                                        bool badged) {
    Square square;
    const Item* least = lowest(items);
    if (least == nullptr || items.size() > 2) {
        return square;
    }
    square.windows = items;
    if (showsPercentage(style)) {
        // Inside the rings, and over a badge's row, there is room for one figure: the lower.
        const bool one = usesRings(style) || (badged && style == MenuBarStyle::percentage);
        square.figures = one ? std::vector<Item>{*least} : items;
    }
    // Two bars, rings or figures keep the order of the title, five-hour first.
    if (square.windows.size() == 1 || square.figures.size() == 1) {
        square.marked =
            square.figures.empty() ? square.windows.front().window : square.figures.front().window;
    }
    return square;
}

}  // namespace quotalume
