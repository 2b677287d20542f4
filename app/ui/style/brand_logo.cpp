#include "style/brand_logo.hpp"

#include "style/brand_assets.hpp"
#include "style/quotalume_style.hpp"

#include <QPainter>
#include <QPainterPath>

namespace quotalume {

BrandLogo::BrandLogo(int size, QWidget* parent) : QWidget(parent), size_(size) {
    setFixedSize(size, size);
    setFocusPolicy(Qt::NoFocus);
    setAccessibleName(QString());
    setAccessibleDescription(QString());
}

void BrandLogo::paintEvent(QPaintEvent*) {
    const qreal ratio = devicePixelRatioF();
    const QImage& logo = BrandAssets::logo();
    const int pixels = qRound(size_ * ratio);
    if (!logo.isNull() && scaled_.width() != pixels) {
        // A smooth scale once, rather than a bilinear one on every paint.
        scaled_ = logo.scaled(pixels, pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        scaled_.setDevicePixelRatio(ratio);
    }

    QPainter painter(this);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    const QRectF tile(0, 0, size_, size_);
    const qreal radius = cornerRadius(size_);
    QPainterPath outline;
    outline.addRoundedRect(tile, radius, radius);
    if (!scaled_.isNull()) {
        painter.setClipPath(outline);
        painter.drawImage(tile, scaled_);
        painter.setClipping(false);
    }
    QColor edge =
        QuotalumeStyle::grey(QuotalumeStyle::Grey::foreground, QuotalumeStyle::isDark(palette()));
    edge.setAlphaF(0.12f);
    painter.setPen(QPen(edge, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(tile.adjusted(0.5, 0.5, -0.5, -0.5), radius - 0.5, radius - 0.5);
}

}  // namespace quotalume
