#include "tray/tray_icon_image.hpp"

#include "tray/menu_bar_renderer.hpp"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>

#include <algorithm>
#include <cmath>

namespace quotalume {
namespace {

// Bold text of at most `height` pixels whose ink fits `width`, centred on `centre` by its ink.
void drawFitted(QPainter& painter, const QString& text, QPointF centre, double width,
                double height) {
    QFont font = QGuiApplication::font();
    font.setBold(true);
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(height))));
    QRectF bounds = QFontMetricsF(font).tightBoundingRect(text);
    if (bounds.width() > width) {
        font.setPixelSize(
            std::max(1, static_cast<int>(std::floor(font.pixelSize() * width / bounds.width()))));
        bounds = QFontMetricsF(font).tightBoundingRect(text);
    }
    painter.setFont(font);
    painter.drawText(centre - bounds.center(), text);
}

QString ringText(MenuBarStyle style, const MenuBarPresentation::Item& item) {
    if (style == MenuBarStyle::rings) {
        return QString::fromLatin1(shortTitle(item.window));
    }
    QString text = QString::fromStdString(item.percentageText);
    if (text.endsWith(QLatin1Char('%'))) {
        text.chop(1);
    }
    return text;
}

}  // namespace

const MenuBarPresentation::Item* TrayIconImage::lowest(
    const std::vector<MenuBarPresentation::Item>& items) {
    const auto found = std::min_element(items.begin(), items.end(), [](auto& a, auto& b) {
        return a.remainingPercent < b.remainingPercent;
    });
    return found == items.end() ? nullptr : &*found;
}

std::optional<QImage> TrayIconImage::image(int pixels) const {
    const auto* item = lowest(items);
    if (item == nullptr || items.size() > 2 || pixels <= 0) {
        return std::nullopt;
    }
    const double side = pixels;
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);

    const double lineWidth = std::max(1.5, side * 0.12);
    const double inset = lineWidth / 2 + side * 0.02;
    const QRectF circle(inset, inset, side - 2 * inset, side - 2 * inset);
    drawQuotaRing(painter, circle, lineWidth, item->remainingPercent, ink);
    if (stale) {
        // Cut a notch out of the ring, then put the badge in it with the mark cut out of it.
        const double radius = side * 0.2;
        const QPointF centre(side - radius, radius);
        painter.setPen(Qt::NoPen);
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        painter.setBrush(Qt::black);
        painter.drawEllipse(centre, radius + lineWidth * 0.6, radius + lineWidth * 0.6);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.setBrush(ink);
        painter.drawEllipse(centre, radius, radius);
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        painter.setPen(Qt::black);
        drawFitted(painter, QStringLiteral("!"), centre, radius, radius * 1.7);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.setPen(ink);
    }
    // Below the badge's reach when there is one.
    const double inside = circle.width() - lineWidth;
    const QPointF textCentre = circle.center() + QPointF(0, stale ? side * 0.05 : 0);
    drawFitted(painter, ringText(style, *item), textCentre, inside * 0.86,
               side * (stale ? 0.38 : 0.42));
    painter.end();
    return image;
}

std::optional<QIcon> TrayIconImage::icon() const {
    QIcon icon;
    for (int pixels : {16, 22, 24, 32, 48, 64}) {
        auto drawn = image(pixels);
        if (!drawn) {
            return std::nullopt;
        }
        icon.addPixmap(QPixmap::fromImage(*drawn));
    }
    return icon;
}

}  // namespace quotalume
