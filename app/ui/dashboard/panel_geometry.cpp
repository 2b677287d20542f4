#include "dashboard/panel_geometry.hpp"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

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
