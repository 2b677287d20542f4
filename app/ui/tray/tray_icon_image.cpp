#include "tray/tray_icon_image.hpp"

#include "style/brand_assets.hpp"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace quotalume {
namespace {

using Item = MenuBarPresentation::Item;
using Square = MenuBarPresentation::Square;
using Badge = TrayIconImage::Badge;

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
    return QString::fromStdString(shortTitle(window));
}

// Bold text drawn from its outline, as tall as its box allows: its ink is then exactly where it
// was measured to be, at any size, where hinted glyphs would grow by whole pixels and spill.
struct Fit {
    QPainterPath outline;
    QRectF bounds;   // of the outline
    int height = 0;  // of the ink, in whole pixels for crisp tops and bottoms
    double narrow = 1;

    // As tall as the box and, narrowed to `narrowest` at most, no wider: digits keep their
    // height longest.
    Fit(const QString& text, const QRectF& box, double narrowest = 0.7) : narrowest(narrowest) {
        QFont font = QGuiApplication::font();
        font.setBold(true);
        font.setPixelSize(100);
        outline.addText(0, 0, font, text);
        bounds = outline.boundingRect();
        if (bounds.isEmpty()) {
            return;
        }
        const double aspect = bounds.width() / bounds.height();
        resize(box, static_cast<int>(
                        std::floor(std::min(box.height(), box.width() / (aspect * narrowest)))));
    }
    // A figure no taller than two of the widest digits would be: figures keep their size as
    // they change, and a dash or a lone digit does not swell.
    static Fit figure(const QString& text, const QRectF& box, double narrowest = 0.7) {
        Fit fit(text, box, narrowest);
        const int most = std::min(Fit(QStringLiteral("00"), box, narrowest).height,
                                  Fit(QStringLiteral("44"), box, narrowest).height);
        if (fit.height > most) {
            fit.resize(box, most);
        }
        return fit;
    }
    // Two figures shown together are drawn at the smaller's size, each narrowed only as far
    // as it needs to be.
    static std::pair<Fit, Fit> alike(const QString (&texts)[2], const QRectF& box,
                                     double narrowest = 0.7) {
        Fit first = figure(texts[0], box, narrowest), second = figure(texts[1], box, narrowest);
        // One without text (no reading of it) leaves the other its size.
        const int height = first.height <= 0    ? second.height
                           : second.height <= 0 ? first.height
                                                : std::min(first.height, second.height);
        for (Fit* fit : {&first, &second}) {
            if (fit->height > 0) {
                fit->resize(box, height);
            }
        }
        return {first, second};
    }

    // Centred on the box, the ink's top on a whole pixel.
    void draw(QPainter& painter, const QRectF& box, const QColor& colour) const {
        if (height <= 0) {
            return;
        }
        const double scale = height / bounds.height();
        painter.save();
        painter.translate(box.center().x(), std::round(box.top() + (box.height() - height) / 2));
        painter.scale(scale * narrow, scale);
        painter.translate(-bounds.center().x(), -bounds.top());
        painter.fillPath(outline, colour);
        painter.restore();
    }

private:
    double narrowest;

    void resize(const QRectF& box, int pixels) {
        height = std::max(0, pixels);
        const double width = bounds.width() * height / bounds.height();
        narrow = width > box.width() ? std::max(narrowest, box.width() / width) : 1;
    }
};

void drawFitted(QPainter& painter, const QString& text, const QRectF& box, const QColor& colour) {
    Fit(text, box).draw(painter, box, colour);
}

void drawFigure(QPainter& painter, const Item& item, const QRectF& box) {
    Fit::figure(figure(item), box).draw(painter, box, levelColour(item.remainingPercent));
}

// Two figures in boxes of the same size, alike.
void drawPair(QPainter& painter, const Square& square, const QRectF (&boxes)[2],
              double narrowest = 0.7) {
    const QString texts[] = {figure(square.figures[0]), figure(square.figures[1])};
    const auto [first, second] = Fit::alike(texts, boxes[0], narrowest);
    first.draw(painter, boxes[0], levelColour(square.figures[0].remainingPercent));
    second.draw(painter, boxes[1], levelColour(square.figures[1].remainingPercent));
}

// A mark sits a little inside its box: it names, the figures and bars say.
void drawMark(QPainter& painter, QuotaWindow window, const QRectF& box) {
    const double inset = std::floor(box.height() * 0.1);
    drawFitted(painter, mark(window), box.adjusted(0, inset, 0, -inset), muted);
}

// How far figures side by side may be narrowed.
constexpr double sideBySide = 0.6;

// Whole pixels, at least `least`.
double whole(double value, double least = 1) {
    return std::max(least, std::round(value));
}

// The square's places, in proportions of its side: panels scale whichever size of the icon
// they pick, so the picture is the same at every size. Rows fall on whole pixels, so that text
// and bars stay crisp at 16 px and a gap of one pixel is a clear line of the tile. A badge
// takes the right end of the footer, the bottom row, which otherwise holds the mark of a lone
// window or nothing; what the style draws above it keeps clear of it.
struct Frame {
    double side;
    QRectF area;  // inside the tile's padding
    bool badged;

    Frame(double side, bool badged) : side(side), badged(badged) {
        const double padding = whole(side * 0.07);
        area = QRectF(padding, padding, side - 2 * padding, side - 2 * padding);
    }

    double gap() const { return whole(side * 0.06); }
    double cornerRadius() const { return side * 0.24; }
    // A box near the top or bottom of the tile, narrowed to keep its ink a pixel inside the
    // rounded corners.
    QRectF offCorners(const QRectF& box) const {
        const double radius = cornerRadius(), centre = radius + 0.5;
        const double edge = std::min(box.top(), side - box.bottom());
        if (edge >= centre) {
            return box;
        }
        const double dy = centre - edge;
        const double inside =
            std::ceil(centre - std::sqrt(std::max(0.0, radius * radius - dy * dy))) + 1;
        const double inset = std::max(0.0, inside - box.left());
        return box.adjusted(inset, 0, -inset, 0);
    }
    QRectF footer(double share = 0.3) const {
        const double height = whole(side * share);
        return QRectF(area.left(), area.bottom() - height, area.width(), height);
    }
    // The area over the footer.
    QRectF body() const {
        return QRectF(area.left(), area.top(), area.width(), footer().top() - gap() - area.top());
    }
    // The part of a footer row the badge leaves to the mark; alone, centred off the tile's
    // corners.
    QRectF markBox(const QRectF& row) const {
        return badged ? row.adjusted(0, 0, -row.height() - gap(), 0) : offCorners(row);
    }
};

QRectF badgeBox(const QRectF& row) {
    return QRectF(row.right() - row.height(), row.top(), row.height(), row.height());
}

void drawBadge(QPainter& painter, const QRectF& box, Badge badge, double side) {
    const QPointF centre = box.center();
    const double radius = box.height() / 2;
    const double halo = std::max(0.8, side * 0.04);
    painter.setPen(Qt::NoPen);
    // A ring of the tile's colour keeps it apart from a bar or a ring running close to it.
    painter.setBrush(tile);
    painter.drawEllipse(centre, radius + halo, radius + halo);
    painter.setBrush(badge == Badge::stale ? QColor(0xff, 0xb3, 0x40) : QColor(0xff, 0x5a, 0x4f));
    painter.drawEllipse(centre, radius, radius);
    if (badge == Badge::blocked) {
        // On whole pixels, to stay a bar at 16 px.
        const double height = whole(radius * 0.4);
        painter.setBrush(tile);
        painter.drawRect(QRectF(centre.x() - radius * 0.62, std::round(centre.y() - height / 2),
                                radius * 1.24, height));
    }
    // No "!" in the dot: panels shrink the icon to a few pixels, where one reads as a "0"
    // beside the figures. The colour says it.
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

// An arc of a gauge, filled from its start along `sweep` (degrees, counter-clockwise positive).
void drawGauge(QPainter& painter, const QRectF& circle, double lineWidth, double start,
               double sweep, double remaining) {
    QPen pen(track, lineWidth, Qt::SolidLine, Qt::FlatCap);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(pen);
    const auto sixteenths = [](double degrees) {
        return static_cast<int>(std::lround(degrees * 16));
    };
    painter.drawArc(circle, sixteenths(start), sixteenths(sweep));
    if (remaining > 0) {
        pen.setColor(levelColour(remaining));
        painter.setPen(pen);
        painter.drawArc(circle, sixteenths(start), sixteenths(sweep * remaining / 100));
    }
}

// Two figures stacked, the five-hour one on top; or one over the footer with its mark.
QRectF drawFigures(QPainter& painter, const Square& square, const Frame& frame) {
    const QRectF& area = frame.area;
    const QRectF footer = frame.footer();
    if (square.figures.size() == 2) {
        const double height = std::floor((area.height() - frame.gap()) / 2);
        const QRectF rows[] = {
            frame.offCorners(QRectF(area.left(), area.top(), area.width(), height)),
            frame.offCorners(QRectF(area.left(), area.bottom() - height, area.width(), height))};
        drawPair(painter, square, rows);
        return footer;
    }
    const Item& item = square.figures.front();
    drawFigure(painter, item, frame.offCorners(frame.body()));
    if (square.marked) {
        drawMark(painter, *square.marked, frame.markBox(footer));
    }
    return footer;
}

QRectF drawBars(QPainter& painter, const Square& square, const Frame& frame) {
    const double side = frame.side;
    const QRectF& area = frame.area;
    const QRectF footer = frame.footer();
    if (square.windows.size() == 2 && square.figures.empty()) {
        // A row per window, the five-hour one on top, over the footer when badged.
        const QRectF rows = frame.badged ? frame.body() : area;
        const double barHeight = whole(side * (frame.badged ? 0.16 : 0.2), 2);
        for (std::size_t i = 0; i < 2; ++i) {
            const double y = std::round(rows.top() + (i + 0.5) * rows.height() / 2 - barHeight / 2);
            drawBar(painter, QRectF(rows.left(), y, rows.width(), barHeight),
                    square.windows[i].remainingPercent);
        }
        return footer;
    }
    if (square.windows.size() == 2) {
        // A column per window, the five-hour one on the left: its figure over its bar. The gap
        // between them keeps "65" and "66" two numbers; side by side, they may be narrower than
        // elsewhere. With a badge there is no room left for the bars at 16 px: the figures,
        // which say what the bars do, keep their size over the footer.
        const double barHeight = frame.badged ? 0 : whole(side * 0.14, 2);
        const double between = frame.badged ? 0 : frame.gap();
        const QRectF columns = frame.badged ? frame.body() : area;
        const double gap = whole(side * 0.14, 2);
        const double width = (columns.width() - gap) / 2;
        const QRectF room(0, 0, width, columns.height() - barHeight - between);
        const QString texts[] = {figure(square.figures[0]), figure(square.figures[1])};
        const auto [first, second] = Fit::alike(texts, room, sideBySide);
        const double inkHeight =
            std::min(room.height(), static_cast<double>(std::max(first.height, second.height)));
        // Figures and bars together in the middle; over a badge, as low as they may go, off the
        // tile's corners.
        const double top =
            frame.badged ? columns.bottom() - inkHeight
                         : std::round(columns.top() +
                                      (columns.height() - inkHeight - between - barHeight) / 2);
        QRectF boxes[2];
        for (std::size_t i = 0; i < 2; ++i) {
            const double left = columns.left() + i * (width + gap);
            boxes[i] = QRectF(left, top, width, inkHeight);
            if (!frame.badged) {
                drawBar(painter, QRectF(left, top + inkHeight + between, width, barHeight),
                        square.windows[i].remainingPercent);
            }
        }
        drawPair(painter, square, boxes, sideBySide);
        return footer;
    }
    const Item& item = square.windows.front();
    if (square.figures.empty()) {
        // Its mark over the bar, which makes room for a badge beside it.
        drawMark(painter, item.window,
                 frame.offCorners(
                     QRectF(area.left(), area.top(), area.width(), footer.top() - area.top())));
        const QRectF room = frame.markBox(footer);
        const double barHeight = whole(side * 0.2, 2);
        drawBar(painter,
                QRectF(room.left(), std::round(room.center().y() - barHeight / 2), room.width(),
                       barHeight),
                item.remainingPercent);
        return footer;
    }
    // Its figure over a thinner bar, the mark below.
    const QRectF body = frame.body();
    const double thin = whole(side * 0.1, 2);
    drawFigure(painter, item,
               frame.offCorners(QRectF(body.left(), body.top(), body.width(),
                                       body.height() - thin - frame.gap())));
    drawBar(painter, QRectF(body.left(), body.bottom() - thin, body.width(), thin),
            item.remainingPercent);
    drawMark(painter, item.window, frame.markBox(footer));
    return footer;
}

// An arch standing on the footer, when that holds something: a lone window's gauge filled
// clockwise from its left foot, or two halves parted at the top, the five-hour one on the left,
// each filled from its foot upward. The figure (or the lone window's mark) sits inside it.
QRectF drawRings(QPainter& painter, const Square& square, const Frame& frame) {
    const double side = frame.side;
    // A lower footer than elsewhere, so that the figure can sit in the middle of the circle.
    const QRectF footer = frame.footer(0.25);
    const double lineWidth = std::max(1.0, side * 0.075);
    // The ring reaches further out than the area: it has no corners to keep off.
    const double radius = side / 2 - std::max(1.0, side * 0.07) - lineWidth / 2;
    const QPointF centre(side / 2, side / 2);
    const QRectF circle(centre - QPointF(radius, radius), QSizeF(2 * radius, 2 * radius));
    // Three quarters of a circle when the footer holds nothing.
    const bool footed = frame.badged || (!square.figures.empty() && square.marked);
    const double drop =
        footed
            ? std::asin(std::clamp(
                  (footer.top() - frame.gap() - centre.y()) / (radius + lineWidth / 2), 0.0, 1.0))
            : std::numbers::pi / 4;
    const double dropDegrees = drop * 180 / std::numbers::pi;
    const double span = 180 + 2 * dropDegrees;
    if (square.windows.size() == 1) {
        drawGauge(painter, circle, lineWidth, 180 + dropDegrees, -span,
                  square.windows.front().remainingPercent);
    } else {
        // The parting, a clear line of the tile even at 16 px.
        const double parting =
            std::max(2.5, side * 0.12) / (radius - lineWidth / 2) * 180 / std::numbers::pi;
        const double half = (span - parting) / 2;
        drawGauge(painter, circle, lineWidth, 180 + dropDegrees, -half,
                  square.windows[0].remainingPercent);
        drawGauge(painter, circle, lineWidth, -dropDegrees, half,
                  square.windows[1].remainingPercent);
    }
    // Inside: the tallest box, clear of the line and over the footer, that is wide enough for
    // two digits.
    const double inner = radius - lineWidth / 2 - std::max(1.25, side * 0.05);
    QRectF middle;
    for (double height = std::round(side * 0.42); middle.isNull() && height >= 1; --height) {
        double bottom = std::round(centre.y() + height / 2);
        if (footed) {
            bottom = std::min(bottom, footer.top() - frame.gap());
        }
        const double reach = std::max(centre.y() - (bottom - height), bottom - centre.y());
        const double halfWidth = std::sqrt(std::max(0.0, inner * inner - reach * reach));
        if (2 * halfWidth >= 1.25 * height) {
            middle = QRectF(centre.x() - halfWidth, bottom - height, 2 * halfWidth, height);
        }
    }
    if (!square.figures.empty()) {
        const Item& item = square.figures.front();
        drawFigure(painter, item, middle);
    } else if (square.marked) {
        drawFitted(painter, mark(*square.marked), middle, ink);
    }
    if (!square.figures.empty() && square.marked) {
        drawMark(painter, *square.marked, frame.markBox(footer));
    }
    return footer;
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
    const Frame frame(side, badge != Badge::none);
    const auto square = MenuBarPresentation::square(style, items, frame.badged);
    QRectF footer = frame.footer();
    if (square.windows.empty()) {
        BrandAssets::menuBarIcon().paint(&painter, QRect(0, 0, pixels, pixels));
    } else {
        const double radius = frame.cornerRadius();
        painter.setPen(QPen(edge, 1));
        painter.setBrush(tile);
        painter.drawRoundedRect(QRectF(0.5, 0.5, side - 1, side - 1), radius, radius);
        footer = usesRings(style)  ? drawRings(painter, square, frame)
                 : usesBars(style) ? drawBars(painter, square, frame)
                                   : drawFigures(painter, square, frame);
    }
    if (frame.badged) {
        drawBadge(painter, badgeBox(footer), badge, side);
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
