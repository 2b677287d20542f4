#pragma once

#include <quotalume/menu_bar_presentation.hpp>
#include <quotalume/menu_bar_style.hpp>

#include <QColor>
#include <QImage>

#include <optional>
#include <vector>

class QPainter;
class QRectF;

namespace quotalume {

// A ring of the tray's look in `circle` (the stroke's middle): the track at 25 % of `ink`,
// then the share remaining drawn clockwise from the top with round caps.
void drawQuotaRing(QPainter& painter, const QRectF& circle, double lineWidth, double remaining,
                   const QColor& ink);

// The tray image of the graphical styles: one or two windows as text, bars or rings, with a
// leading "!" when the data is stale. Geometry and opacities follow MenuBarLayout exactly.
// Linux panels do not tint template images, so what would be black is drawn in `ink`, the
// panel's text colour, with the same opacities.
struct MenuBarRenderer {
    MenuBarStyle style = MenuBarStyle::percentage;
    std::vector<MenuBarPresentation::Item> items;
    bool stale = false;
    QColor ink = Qt::black;
    // Pixels per point: the image is drawn at this ratio and carries it, sharp on HiDPI panels.
    qreal devicePixelRatio = 1;

    // Nothing unless there are one or two items.
    std::optional<QImage> image() const;

    // Black on a light panel, white on a dark one.
    static QColor panelInk(bool darkPanel) { return darkPanel ? Qt::white : Qt::black; }

    friend bool operator==(const MenuBarRenderer&, const MenuBarRenderer&) = default;
};

}  // namespace quotalume
