#pragma once

#include <quotalume/presentation/menu_bar_presentation.hpp>

#include <QRect>

#include <optional>

class QScreen;

namespace quotalume {

// Where the dashboard panel goes on Qt's screens. The placement rule works with y growing
// upward; Qt's screen coordinates grow downward, so rectangles are mirrored on the way in and
// out (about y = 0: only their relative positions matter to the rule).
class PanelGeometry {
public:
    static constexpr double margin = 8;
    static constexpr double gap = 6;

    PanelGeometry() = delete;

    static Rect toModel(const QRectF& rect);
    static QRectF fromModel(const Rect& rect);

    // The screen holding the anchor's midpoint, else the one under the cursor, else the
    // primary one; null without screens.
    static QScreen* screenFor(const std::optional<QRect>& anchor);

    // Where the desktop's panel is, as a thin rectangle at its end nearest the top right (where
    // trays usually sit): the side of the screen its available area leaves out. Nothing when
    // the area is the whole screen.
    static std::optional<QRect> panelCorner(const QRect& geometry, const QRect& available);

    // The panel's frame for content of `width` × `height` on a screen with `geometry` and
    // `available` area. The anchor counts only when it overlaps the screen and has a width.
    static QRect frame(const std::optional<QRect>& anchor, const QRect& geometry,
                       const QRect& available, double width, double height);
};

}  // namespace quotalume
