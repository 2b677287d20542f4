#pragma once

#include <quotalume/menu_bar_style.hpp>
#include <quotalume/quota_window.hpp>
#include <quotalume/rate_limits.hpp>

#include <optional>
#include <string>
#include <vector>

namespace quotalume {

// Drawing metrics of the tray image, in points.
struct MenuBarLayout {
    int itemCount = 1;  // windows drawn: 1 or 2
    MenuBarStyle style = MenuBarStyle::percentage;
    double height = 22;
    double fontSize = 11.5;
    double barHeight = 4;
    double ringDiameter = 20;
    double ringLineWidth = 2.5;
    double ringLabelFontSize = 9.5;
    double ringPercentageSpacing = 4;

    // Nothing unless itemCount is 1 or 2.
    static std::optional<MenuBarLayout> make(int itemCount, MenuBarStyle style);

    // Rings sit side by side; text and bars stack one row per window.
    int rowCount() const { return usesRings(style) ? 1 : itemCount; }
    double rowHeight() const { return height / rowCount(); }
    double ringSpacing() const { return showsPercentage(style) ? 8 : 4; }
    // y grows upward; item 0 is the upper row.
    double centerY(int item) const;
    double ringItemWidth(double percentageWidth) const;
    double ringsWidth(double percentageWidth) const;
    double centerX(int ring, double percentageWidth) const;

    friend bool operator==(const MenuBarLayout&, const MenuBarLayout&) = default;
};

// What the tray shows for a bucket.
struct MenuBarPresentation {
    struct Item {
        QuotaWindow window;
        double remainingPercent;     // 0…100
        std::string percentageText;  // "80%", "<1%", "—"
        std::string text() const;    // "5H 80%"
        friend bool operator==(const Item&, const Item&) = default;
    };

    static std::vector<Item> items(const std::optional<RateBucket>& bucket, MenuBarScope scope);
    static std::vector<QuotaWindow> visibleWindows(const std::optional<RateBucket>& bucket);
    // "5H 80% · 7D 40%", prefixed "! " when stale, or the "quota.empty" text.
    static std::string title(const std::optional<RateBucket>& bucket, bool stale,
                             MenuBarScope scope);
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
