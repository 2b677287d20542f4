#include "tray/tray_icon_image.hpp"

#include "style/brand_assets.hpp"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <algorithm>
#include <cmath>

namespace quotalume {
namespace {

using Item = MenuBarPresentation::Item;

const QColor tile(0x2b, 0x2f, 0x36);
const QColor edge(255, 255, 255, 46);
const QColor ink(Qt::white);
const QColor muted(255, 255, 255, 205);
const QColor track(255, 255, 255, 64);

// The dashboard's levels: under 50 % left is low, under 25 % critical.
QColor levelColour(double remaining) {
    return remaining < 25   ? QColor(0xff, 0x7a, 0x6e)
           : remaining < 50 ? QColor(0xff, 0xc4, 0x53)
                            : ink;
}

QString figure(const Item& item) {
    QString text = QString::fromStdString(item.percentageText);
    if (text.endsWith(QLatin1Char('%'))) {
        text.chop(1);
    }
    return text;
}

QString mark(QuotaWindow window) {
    return QString::fromLatin1(shortTitle(window));
}

// Bold text as tall as `box` allows, centred on the box by its ink. Too wide, it is first
// narrowed (to seven tenths at most), then made smaller: digits keep their height longest.
void drawFitted(QPainter& painter, const QString& text, const QRectF& box, const QColor& colour) {
    QFont font = QGuiApplication::font();
    font.setBold(true);
    font.setPixelSize(std::max(1, static_cast<int>(std::floor(box.height() / 0.74))));
    QRectF bounds = QFontMetricsF(font).tightBoundingRect(text);
    if (bounds.height() > box.height()) {
        font.setPixelSize(std::max(
            1, static_cast<int>(std::floor(font.pixelSize() * box.height() / bounds.height()))));
        bounds = QFontMetricsF(font).tightBoundingRect(text);
    }
    double narrow = 1;
    if (bounds.width() > box.width()) {
        narrow = std::max(0.7, box.width() / bounds.width());
        if (bounds.width() * narrow > box.width()) {
            font.setPixelSize(std::max(
                1, static_cast<int>(
                       std::floor(font.pixelSize() * box.width() / (bounds.width() * narrow)))));
            bounds = QFontMetricsF(font).tightBoundingRect(text);
        }
    }
    painter.save();
    painter.setFont(font);
    painter.setPen(colour);
    painter.translate(box.center());
    painter.scale(narrow, 1);
    painter.drawText(-bounds.center(), text);
    painter.restore();
}

void drawBar(QPainter& painter, const QRectF& bar, double remaining) {
    const double radius = bar.height() / 2;
    painter.setPen(Qt::NoPen);
    painter.setBrush(track);
    painter.drawRoundedRect(bar, radius, radius);
    if (remaining > 0) {
        QRectF filled = bar;
        filled.setWidth(std::max(bar.height(), bar.width() * remaining / 100));
        painter.setBrush(levelColour(remaining));
        painter.drawRoundedRect(filled, radius, radius);
    }
}

// A gauge of three quarters of a circle, open at the bottom, filled clockwise from its left end.
void drawGauge(QPainter& painter, const QRectF& circle, double lineWidth, double remaining) {
    constexpr int start = 225 * 16;
    constexpr int sweep = -270 * 16;
    QPen pen(track, lineWidth, Qt::SolidLine, Qt::RoundCap);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(pen);
    painter.drawArc(circle, start, sweep);
    if (remaining > 0) {
        pen.setColor(levelColour(remaining));
        painter.setPen(pen);
        painter.drawArc(circle, start, static_cast<int>(std::lround(sweep * remaining / 100)));
    }
}

void drawBadge(QPainter& painter, double side, TrayIconImage::Badge badge) {
    const double radius = side * 0.19;
    const QPointF centre(side - radius - side * 0.01, radius + side * 0.01);
    // A ring of the tile's colour keeps it apart from what lies under it.
    painter.setPen(QPen(tile, std::max(1.0, side * 0.05)));
    painter.setBrush(badge == TrayIconImage::Badge::stale ? QColor(0xff, 0xb3, 0x40)
                                                          : QColor(0xff, 0x5a, 0x4f));
    painter.drawEllipse(centre, radius, radius);
    if (badge == TrayIconImage::Badge::blocked) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(tile);
        painter.drawRect(QRectF(centre - QPointF(radius * 0.6, radius * 0.2),
                                QSizeF(radius * 1.2, radius * 0.4)));
        return;
    }
    drawFitted(painter, QStringLiteral("!"),
               QRectF(centre - QPointF(radius, radius * 0.72), QSizeF(2 * radius, 1.44 * radius)),
               tile);
}

void drawFigures(QPainter& painter, const MenuBarPresentation::Square& square, const QRectF& area) {
    const double markShare = square.marked ? 0.34 : 0;
    const double rows = static_cast<double>(square.figures.size());
    const double rowHeight = area.height() * (1 - markShare) / rows;
    for (std::size_t i = 0; i < square.figures.size(); ++i) {
        const Item& item = square.figures[i];
        const QRectF row(area.left(), area.top() + i * rowHeight, area.width(), rowHeight);
        drawFitted(painter, figure(item), row.adjusted(0, rowHeight * 0.06, 0, -rowHeight * 0.06),
                   levelColour(item.remainingPercent));
    }
    if (square.marked) {
        const double height = area.height() * markShare;
        drawFitted(painter, mark(*square.marked),
                   QRectF(area.left(), area.bottom() - height * 0.92, area.width(), height * 0.8),
                   muted);
    }
}

void drawBars(QPainter& painter, const MenuBarPresentation::Square& square, const QRectF& area,
              double side) {
    const double barHeight = std::max(2.0, side * (square.figures.empty() ? 0.2 : 0.14));
    if (square.windows.size() == 2 && square.figures.empty()) {
        // A row per window, the five-hour one on top.
        for (std::size_t i = 0; i < 2; ++i) {
            const double y = area.top() + (i + 0.5) * area.height() / 2 - barHeight / 2;
            drawBar(painter, QRectF(area.left(), y, area.width(), barHeight),
                    square.windows[i].remainingPercent);
        }
        return;
    }
    if (square.windows.size() == 2) {
        // A column per window, the five-hour one on the left: its figure over its bar.
        const double gap = area.width() * 0.05;
        const double column = (area.width() - gap) / 2;
        for (std::size_t i = 0; i < 2; ++i) {
            const double left = area.left() + i * (column + gap);
            drawFitted(
                painter, figure(square.figures[i]),
                QRectF(left, area.top() + area.height() * 0.14, column, area.height() * 0.46),
                levelColour(square.figures[i].remainingPercent));
            drawBar(painter, QRectF(left, area.top() + area.height() * 0.72, column, barHeight),
                    square.windows[i].remainingPercent);
        }
        return;
    }
    // One window: its figure (when written) or its mark above the bar, the mark below a figure.
    const Item& item = square.windows.front();
    if (square.figures.empty()) {
        drawFitted(painter, mark(item.window),
                   QRectF(area.left(), area.top(), area.width(), area.height() * 0.5), ink);
        drawBar(painter,
                QRectF(area.left(), area.top() + area.height() * 0.72 - barHeight / 2, area.width(),
                       barHeight),
                item.remainingPercent);
        return;
    }
    drawFitted(painter, figure(item),
               QRectF(area.left(), area.top(), area.width(), area.height() * 0.48),
               levelColour(item.remainingPercent));
    drawBar(painter,
            QRectF(area.left(), area.top() + area.height() * 0.56, area.width(), barHeight),
            item.remainingPercent);
    drawFitted(
        painter, mark(item.window),
        QRectF(area.left(), area.top() + area.height() * 0.76, area.width(), area.height() * 0.24),
        muted);
}

void drawRings(QPainter& painter, const MenuBarPresentation::Square& square, const QRectF& area,
               double side) {
    // Two rings are thinner, to leave the figure inside them its height.
    const double lineWidth = std::max(1.2, side * (square.windows.size() == 2 ? 0.075 : 0.1));
    QRectF circle = area.adjusted(lineWidth / 2, lineWidth / 2, -lineWidth / 2, -lineWidth / 2);
    for (std::size_t i = 0; i < square.windows.size(); ++i) {
        if (i > 0) {
            circle.adjust(lineWidth * 1.5, lineWidth * 1.5, -lineWidth * 1.5, -lineWidth * 1.5);
        }
        drawGauge(painter, circle, lineWidth, square.windows[i].remainingPercent);
    }
    // The innermost free space, a little above the middle: the opening below holds the mark.
    const double inner = circle.width() - lineWidth * 1.2;
    const QRectF middle(circle.center().x() - inner / 2, circle.center().y() - inner * 0.42, inner,
                        inner * 0.62);
    if (!square.figures.empty()) {
        const Item& item = square.figures.front();
        drawFitted(painter, figure(item), middle, levelColour(item.remainingPercent));
        if (square.marked) {
            const double height = side * 0.22;
            drawFitted(
                painter, mark(*square.marked),
                QRectF(area.center().x() - side * 0.2, area.bottom() - height, side * 0.4, height),
                muted);
        }
    } else if (square.marked) {
        drawFitted(painter, mark(*square.marked), middle, ink);
    }
}

}  // namespace

QImage TrayIconImage::image(int pixels) const {
    const double side = std::max(1, pixels);
    QImage image(static_cast<int>(side), static_cast<int>(side),
                 QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const auto square = MenuBarPresentation::square(style, items);
    if (square.windows.empty()) {
        BrandAssets::menuBarIcon().paint(&painter, QRect(0, 0, pixels, pixels));
    } else {
        const double radius = side * 0.24;
        painter.setPen(QPen(edge, 1));
        painter.setBrush(tile);
        painter.drawRoundedRect(QRectF(0.5, 0.5, side - 1, side - 1), radius, radius);
        const double padding = std::max(1.0, side * 0.07);
        const QRectF area(padding, padding, side - 2 * padding, side - 2 * padding);
        if (usesRings(style)) {
            drawRings(painter, square, area, side);
        } else if (usesBars(style)) {
            drawBars(painter, square, area, side);
        } else {
            drawFigures(painter, square, area);
        }
    }
    if (badge != Badge::none) {
        drawBadge(painter, side, badge);
    }
    painter.end();
    return image;
}

QIcon TrayIconImage::icon() const {
    QIcon icon;
    for (int pixels : {16, 22, 24, 32, 48, 64}) {
        icon.addPixmap(QPixmap::fromImage(image(pixels)));
    }
    return icon;
}

}  // namespace quotalume
