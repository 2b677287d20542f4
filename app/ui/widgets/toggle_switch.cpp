#include "widgets/toggle_switch.hpp"

#include "style/quotalume_style.hpp"

#include <QPainter>

namespace quotalume {

ToggleSwitch::ToggleSwitch(QWidget* parent) : QAbstractButton(parent) {
    setCheckable(true);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void ToggleSwitch::paintEvent(QPaintEvent*) {
    const bool dark = QuotalumeStyle::isDark(palette());
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled()) {
        painter.setOpacity(0.5);
    }
    // Room around the track for the focus ring, clear of it.
    const QRectF track = QRectF(rect()).adjusted(ringRoom, ringRoom, -ringRoom, -ringRoom);
    const qreal radius = track.height() / 2;
    painter.setPen(Qt::NoPen);
    painter.setBrush(isChecked() ? QuotalumeStyle::accent(dark)
                                 : QuotalumeStyle::grey(QuotalumeStyle::Grey::progressTrack, dark));
    painter.drawRoundedRect(track, radius, radius);
    const qreal knob = track.height() - 4;
    const qreal x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
    painter.setBrush(Qt::white);
    painter.setPen(QPen(QColor(0, 0, 0, 40), 0));
    painter.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
    if (QuotalumeStyle::showsFocusRing(*this)) {
        QuotalumeStyle::drawFocusRing(painter, rect(), radius + ringRoom, dark);
    }
}

}  // namespace quotalume
