#include "dashboard/panel_geometry.hpp"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <cmath>

namespace quotalume {

Rect PanelGeometry::toModel(const QRectF& rect) {
    return Rect{rect.x(), -(rect.y() + rect.height()), rect.width(), rect.height()};
}

QRectF PanelGeometry::fromModel(const Rect& rect) {
    return QRectF(rect.x, -(rect.y + rect.height), rect.width, rect.height);
}

QScreen* PanelGeometry::screenFor(const std::optional<QRect>& anchor) {
    if (anchor) {
        if (QScreen* screen = QGuiApplication::screenAt(anchor->center())) {
            return screen;
        }
    }
    if (QScreen* screen = QGuiApplication::screenAt(QCursor::pos())) {
        return screen;
    }
    return QGuiApplication::primaryScreen();
}

std::optional<QRect> PanelGeometry::panelCorner(const QRect& geometry, const QRect& available) {
    const int top = available.top() - geometry.top();
    const int bottom = geometry.bottom() - available.bottom();
    const int left = available.left() - geometry.left();
    const int right = geometry.right() - available.right();
    const int widest = std::max({top, bottom, left, right});
    if (widest <= 0) {
        return std::nullopt;
    }
    if (widest == top) {
        return QRect(geometry.right() - 1, geometry.top(), 1, top);
    }
    if (widest == bottom) {
        return QRect(geometry.right() - 1, available.bottom() + 1, 1, bottom);
    }
    if (widest == right) {
        return QRect(available.right() + 1, geometry.top(), right, 1);
    }
    return QRect(geometry.left(), geometry.top(), left, 1);
}

QRect PanelGeometry::frame(const std::optional<QRect>& anchor, const QRect& geometry,
                           const QRect& available, double width, double height) {
    std::optional<Rect> model;
    if (anchor && anchor->width() > 0 && anchor->intersects(geometry)) {
        model = toModel(QRectF(*anchor));
    }
    const Rect placed =
        PanelPlacement::frame(model, toModel(QRectF(available)), Size{width, height}, margin, gap);
    const QRectF frame = fromModel(placed);
    // Whole pixels: the top left rounded, the size rounded up so no content is cut.
    return QRect(static_cast<int>(std::lround(frame.x())), static_cast<int>(std::lround(frame.y())),
                 static_cast<int>(std::ceil(frame.width())),
                 static_cast<int>(std::ceil(frame.height())));
}

}  // namespace quotalume
