#include "widgets/capsule_bar.hpp"

#include "style/quotalume_style.hpp"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace quotalume {

CapsuleBar::CapsuleBar(QWidget* parent) : QWidget(parent) {
    setFixedHeight(barHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void CapsuleBar::setRemaining(std::optional<double> remaining) {
    if (remaining != remaining_) {
        remaining_ = remaining;
        update();
    }
}

QColor CapsuleBar::fillColor(double remaining, bool dark) {
    if (remaining < 25) {
        return dark ? QColor(255, 69, 58) : QColor(255, 59, 48);
    }
    if (remaining < 50) {
        return dark ? QColor(255, 214, 10) : QColor(255, 204, 0);
    }
    return QuotalumeStyle::success(dark);
}

qreal CapsuleBar::fillWidth(qreal width, double remaining) {
    if (!std::isfinite(remaining)) {
        return 0;
    }
    return std::max(0.0, width * std::clamp(remaining, 0.0, 100.0) / 100);
}

void CapsuleBar::paintEvent(QPaintEvent*) {
    const bool dark = QuotalumeStyle::isDark(palette());
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const qreal radius = height() / 2.0;
    painter.setBrush(QuotalumeStyle::grey(QuotalumeStyle::Grey::progressTrack, dark));
    painter.drawRoundedRect(rect(), radius, radius);
    if (remaining_) {
        const qreal width = fillWidth(this->width(), *remaining_);
        if (width > 0) {
            painter.setBrush(fillColor(*remaining_, dark));
            // From the leading edge: the right one in a right-to-left layout.
            const qreal filled = std::max(width, 2 * radius);
            const qreal left = layoutDirection() == Qt::RightToLeft ? this->width() - filled : 0;
            painter.drawRoundedRect(QRectF(left, 0, filled, height()), radius, radius);
        }
    }
}

}  // namespace quotalume
