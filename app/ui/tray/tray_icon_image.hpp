#pragma once

#include <quotalume/presentation/menu_bar_presentation.hpp>
#include <quotalume/presentation/menu_bar_style.hpp>

#include <QIcon>
#include <QImage>

#include <vector>

namespace quotalume {

// The tray icon. A tray host cannot recolour a picture and panels come light or dark whatever
// the application's palette, so the icon carries its own background: a dark rounded tile that
// stands out on a light panel, with light figures, bars or rings that stand out on a dark one.
// The windows of the scope are drawn in the chosen style within the square (see
// MenuBarPresentation::square): a window running low in the warning colours, a 5H/7D mark
// where the picture alone would not say which window it is. Two rings are the halves of one
// arch, the five-hour window on the left. A badge sits in the bottom right corner when the
// figures are stale (amber), the last reading failed (red) or Codex takes no usage from the
// account now, whatever the figures say (red no-entry sign); the rest of the picture makes room
// for it, so that it never covers a digit (two figures over bars give up their bars). With
// nothing to draw it is the application's logo, badged all the same.
struct TrayIconImage {
    enum class Badge { none, stale, failed, blocked };

    MenuBarStyle style = MenuBarStyle::percentage;
    std::vector<MenuBarPresentation::Item> items;
    Badge badge = Badge::none;

    QImage image(int pixels) const;
    // The image at the sizes panels ask for.
    QIcon icon() const;

    friend bool operator==(const TrayIconImage&, const TrayIconImage&) = default;
};

}  // namespace quotalume
