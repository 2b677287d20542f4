#pragma once

#include <quotalume/menu_bar_presentation.hpp>
#include <quotalume/menu_bar_style.hpp>

#include <QColor>
#include <QIcon>
#include <QImage>

#include <optional>
#include <vector>

namespace quotalume {

// The tray icon. Panels fit every icon into a square (StatusNotifierItem hosts letterbox it,
// and Qt's XEmbed icon is a 22 × 22 window), where the wide image of the settings preview
// would shrink to a sliver. So: the window with the least left as one ring, with its number
// inside (its label for the plain rings style), and a notched "!" badge at the top right when
// the data is stale or the last reading failed. Drawn in `ink`, like the wide image.
struct TrayIconImage {
    MenuBarStyle style = MenuBarStyle::percentage;
    std::vector<MenuBarPresentation::Item> items;
    bool stale = false;
    QColor ink = Qt::black;

    // A square of `pixels` × `pixels`; nothing unless there are one or two items.
    std::optional<QImage> image(int pixels) const;
    // The image at the sizes panels ask for; nothing unless there are one or two items.
    std::optional<QIcon> icon() const;

    // The item the ring shows: the lowest remaining share, the first of equals.
    static const MenuBarPresentation::Item* lowest(
        const std::vector<MenuBarPresentation::Item>& items);

    friend bool operator==(const TrayIconImage&, const TrayIconImage&) = default;
};

}  // namespace quotalume
