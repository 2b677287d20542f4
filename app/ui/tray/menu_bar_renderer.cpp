#include "tray/menu_bar_renderer.hpp"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace quotalume {
namespace {

constexpr double partGap = 5;
constexpr double barWidth = 32;
constexpr double staleWidth = 10;
constexpr double staleFontSize = 12;
constexpr double trackOpacity = 0.25;

// At 72 dots per inch a point is one logical pixel, so font sizes are exactly the layout's.
constexpr int pointsPerMeter = 2835;

QImage pointSizedImage(int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.setDotsPerMeterX(pointsPerMeter);
    image.setDotsPerMeterY(pointsPerMeter);
    return image;
}

// Fonts resolve against a device's resolution; measuring and drawing use the same one.
const QPaintDevice& measuringDevice() {
    static const QImage device = pointSizedImage(1, 1);
    return device;
}

QFont boldSystemFont(double size, bool tabularDigits) {
    QFont font = QGuiApplication::font();
    font.setPointSizeF(size);
    font.setBold(true);
#if QT_VERSION >= QT_VERSION_CHECK(6, 7, 0)
    if (tabularDigits) {
        font.setFeature(QFont::Tag("tnum"), 1);
    }
#else
    // Without font features the font's default digits are used; the width rule below keeps the
    // image from changing size either way.
    (void)tabularDigits;
#endif
    return font;
}

// One line of text placed by its ink, not its typographic box.
struct TextRun {
    TextRun(const QString& text, const QFont& font)
        : text(text),
          font(font),
          bounds(QFontMetricsF(font, &measuringDevice()).tightBoundingRect(text)) {}

    // Ink's left edge at x, ink's vertical centre at y (both in the painter's y-down space).
    void draw(QPainter& painter, double x, double y) const {
        painter.setFont(font);
        painter.drawText(QPointF(x - bounds.left(), y - bounds.center().y()), text);
    }
    void drawRightAligned(QPainter& painter, double right, double y) const {
        draw(painter, right - bounds.width(), y);
    }
    void drawCentred(QPainter& painter, double x, double y) const {
        draw(painter, x - bounds.width() / 2, y);
    }

    QString text;
    QFont font;
    QRectF bounds;
};

double ceiledMaximumWidth(const std::vector<TextRun>& runs) {
    double width = 0;
    for (const auto& run : runs) {
        width = std::max(width, run.bounds.width());
    }
    return std::ceil(width);
}

QColor withOpacity(QColor colour, double opacity) {
    colour.setAlphaF(colour.alphaF() * opacity);
    return colour;
}

void drawRing(QPainter& painter, const MenuBarLayout& layout, QPointF centre, double remaining,
              const QColor& ink) {
    const double inset = layout.ringLineWidth / 2;
    const double side = layout.ringDiameter - 2 * inset;
    drawQuotaRing(painter, QRectF(centre.x() - side / 2, centre.y() - side / 2, side, side),
                  layout.ringLineWidth, remaining, ink);
}

void drawBar(QPainter& painter, const QRectF& bar, double remaining, const QColor& ink) {
    QPainterPath track;
    const double radius = bar.height() / 2;
    track.addRoundedRect(bar, radius, radius);
    painter.fillPath(track, withOpacity(ink, trackOpacity));
    if (remaining > 0) {
        painter.save();
        painter.setClipPath(track);
        QRectF filled = bar;
        filled.setWidth(std::min(remaining, 100.0) * bar.width() / 100);
        painter.fillRect(filled, ink);
        painter.restore();
    }
}

}  // namespace

void drawQuotaRing(QPainter& painter, const QRectF& circle, double lineWidth, double remaining,
                   const QColor& ink) {
    QPen pen(withOpacity(ink, trackOpacity), lineWidth);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(circle);
    pen.setColor(ink);
    pen.setCapStyle(Qt::RoundCap);
    painter.setPen(pen);
    if (remaining >= 100) {
        painter.drawEllipse(circle);
    } else if (remaining > 0) {
        // From the top, clockwise: Qt counts sixteenths of a degree, counter-clockwise positive.
        painter.drawArc(circle, 90 * 16, static_cast<int>(std::lround(-3.6 * remaining * 16)));
    }
}

std::optional<QImage> MenuBarRenderer::image() const {
    const auto layout = MenuBarLayout::make(static_cast<int>(items.size()), style);
    if (!layout) {
        return std::nullopt;
    }
    const bool rings = usesRings(style);
    const bool bars = usesBars(style);
    const bool percentages = showsPercentage(style);

    const QFont valueFont = boldSystemFont(layout->fontSize, true);
    const QFont labelFont = rings ? boldSystemFont(layout->ringLabelFontSize, true) : valueFont;
    std::vector<TextRun> labels;
    std::vector<TextRun> values;
    for (const auto& item : items) {
        labels.emplace_back(QString::fromLatin1(shortTitle(item.window)), labelFont);
        values.emplace_back(QString::fromStdString(item.percentageText), valueFont);
    }
    const TextRun staleRun(QStringLiteral("!"), boldSystemFont(staleFontSize, false));

    const double labelWidth = ceiledMaximumWidth(labels);
    // The widest value there can be, so the image keeps its width as the numbers change.
    auto widthSamples = values;
    widthSamples.emplace_back(QStringLiteral("100%"), valueFont);
    widthSamples.emplace_back(QStringLiteral("<1%"), valueFont);
    const double percentageWidth = ceiledMaximumWidth(widthSamples);

    const double staleOffset = stale ? staleWidth : 0;
    const double contentWidth = rings ? layout->ringsWidth(percentageWidth)
                                      : labelWidth + (bars ? barWidth + partGap : 0) +
                                            (percentages ? percentageWidth + partGap : 0);
    const double width = staleOffset + contentWidth + 2;

    QImage image = pointSizedImage(static_cast<int>(std::ceil(width * devicePixelRatio)),
                                   static_cast<int>(std::ceil(layout->height * devicePixelRatio)));
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    // The layout's y grows upward from the bottom edge; the painter's grows downward.
    const auto down = [&](double y) { return layout->height - y; };

    painter.setPen(ink);
    if (stale) {
        staleRun.draw(painter, 0, down(layout->height / 2));
    }
    const double x0 = staleOffset + 1;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const int index = static_cast<int>(i);
        const double centreY = down(layout->centerY(index));
        const double remaining = items[i].remainingPercent;
        if (rings) {
            const double cx = x0 + layout->centerX(index, percentageWidth);
            drawRing(painter, *layout, QPointF(cx, centreY), remaining, ink);
            painter.setPen(ink);
            labels[i].drawCentred(painter, cx, centreY);
            if (percentages) {
                values[i].drawRightAligned(
                    painter,
                    cx + layout->ringDiameter / 2 + layout->ringPercentageSpacing + percentageWidth,
                    centreY);
            }
            continue;
        }
        labels[i].draw(painter, x0, centreY);
        if (percentages) {
            values[i].drawRightAligned(painter, x0 + contentWidth, centreY);
        }
        if (bars) {
            const QRectF bar(x0 + labelWidth + partGap, centreY - layout->barHeight / 2, barWidth,
                             layout->barHeight);
            drawBar(painter, bar, remaining, ink);
        }
    }
    painter.end();
    return image;
}

}  // namespace quotalume
