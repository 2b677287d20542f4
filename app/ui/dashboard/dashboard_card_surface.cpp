#include "dashboard/dashboard_card_surface.hpp"

#include "style/quotalume_style.hpp"

#include <QPainter>

namespace quotalume {

DashboardCardSurface::DashboardCardSurface(QWidget* parent) : QWidget(parent) {}

void DashboardCardSurface::paintEvent(QPaintEvent*) {
    const bool dark = QuotalumeStyle::isDark(palette());
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // A cosmetic pen is one device pixel wide at any scale: a hairline.
    QPen edge(QuotalumeStyle::grey(QuotalumeStyle::Grey::border, dark), 0);
    painter.setPen(edge);
    painter.setBrush(QuotalumeStyle::grey(QuotalumeStyle::Grey::surface, dark));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius,
                            cornerRadius);
}

}  // namespace quotalume
