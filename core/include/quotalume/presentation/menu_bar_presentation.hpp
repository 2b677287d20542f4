#pragma once

#include <quotalume/presentation/menu_bar_style.hpp>
#include <quotalume/usage/quota_window.hpp>
#include <quotalume/usage/rate_limits.hpp>

#include <optional>
#include <string>
#include <vector>

namespace quotalume {

// What the tray shows for a bucket.
struct MenuBarPresentation {
    struct Item {
        QuotaWindow window;
        double remainingPercent;       // 0…100
        std::string percentageText;    // "80%", "<1%", "—"
        std::string text() const;      // "5H 80%"
        std::string leftText() const;  // "5H 80% left", where there is room to say so
        friend bool operator==(const Item&, const Item&) = default;
    };

    static std::vector<Item> items(const std::optional<RateBucket>& bucket, MenuBarScope scope);
    static std::vector<QuotaWindow> visibleWindows(const std::optional<RateBucket>& bucket);
    enum class Figures { bare, left };
    // "5H 80% · 7D 40%" (or with `left`, "5H 80% left · 7D 40% left"), prefixed "! " when stale
    // and "⊘ " when Codex takes no usage now (whatever the figures say), or the "quota.empty"
    // text.
    static std::string title(const std::optional<RateBucket>& bucket, bool stale,
                             MenuBarScope scope, bool blocked = false,
                             Figures figures = Figures::bare);

    // What the tray's square shows of the items: every window as a bar or a ring, and the
    // figures the style writes where they stay legible at 22 px (digits at least 6 px tall):
    // two stacked, or one over each bar; inside the rings only the lower one fits. A badge
    // takes the place of the second of two stacked figures, leaving the lower one. Panels scale
    // whichever size of the icon they pick, so the picture is the same at every size. Whenever
    // it alone would not say which window a figure, bar or ring is, it carries a 5H/7D mark.
    struct Square {
        std::vector<Item> windows;          // drawn, in window order
        std::vector<Item> figures;          // whose figures are written
        std::optional<QuotaWindow> marked;  // named by a small mark
        friend bool operator==(const Square&, const Square&) = default;
    };
    static Square square(MenuBarStyle style, const std::vector<Item>& items, bool badged = false);
    // The item with the least left, the first of equals; null when there is none.
    static const Item* lowest(const std::vector<Item>& items);
};

struct Rect {
    double x = 0, y = 0, width = 0, height = 0;
    double minX() const { return x; }
    double maxX() const { return x + width; }
    double minY() const { return y; }
    double maxY() const { return y + height; }
    double midX() const { return x + width / 2; }
    friend bool operator==(const Rect&, const Rect&) = default;
};

struct Size {
    double width = 0, height = 0;
};

// Where the dashboard panel goes: under the tray icon when its place is known, else at the top
// right, always inside the visible screen less `margin` (y grows upward).
struct PanelPlacement {
    static Rect frame(const std::optional<Rect>& anchor, const Rect& visibleFrame, Size contentSize,
                      double margin, double gap);
};

}  // namespace quotalume
