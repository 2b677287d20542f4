#include "dashboard/dashboard_card_surface.hpp"

#include "style/quotalume_style.hpp"

#include <QAccessibleWidget>
#include <QPainter>

namespace quotalume {
namespace {

// A card without children: its labels, bar and chart say nothing the name does not.
class WholeCardAccessible : public QAccessibleWidget {
public:
    explicit WholeCardAccessible(QWidget* card)
        : QAccessibleWidget(card, QAccessible::StaticText) {}

    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
};

QAccessibleInterface* wholeCardAccessible(const QString&, QObject* object) {
    auto* surface = qobject_cast<DashboardCardSurface*>(object);
    return surface && surface->reading() == DashboardCardSurface::Reading::asOne
               ? new WholeCardAccessible(surface)
               : nullptr;
}

}  // namespace

DashboardCardSurface::DashboardCardSurface(QWidget* parent, Reading reading)
    : QWidget(parent), reading_(reading) {
    static const bool accessible = (QAccessible::installFactory(wholeCardAccessible), true);
    (void)accessible;
}

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
    // Qt marks the window while focus moves by keyboard; a click clears the mark.
    if (hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange)) {
        QuotalumeStyle::drawFocusRing(painter, QRectF(rect()), cornerRadius, dark);
    }
}

}  // namespace quotalume
