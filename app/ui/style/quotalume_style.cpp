#include "style/quotalume_style.hpp"

#include <QApplication>
#include <QPainter>
#include <QRectF>
#include <QWidget>

#include <array>

namespace quotalume {
namespace {

struct GreyLevels {
    double light;
    double dark;
};

// In the order of QuotalumeStyle::Grey.
constexpr std::array<GreyLevels, 6> greyLevels = {{
    {0.965, 0.105},  // background
    {0.12, 0.94},    // foreground
    {1.0, 0.145},    // surface
    {0.93, 0.205},   // subtleSurface
    {0.855, 0.29},   // border
    {0.83, 0.31},    // progressTrack
}};

}  // namespace

bool QuotalumeStyle::isDark(const QPalette& palette) {
    return palette.color(QPalette::Active, QPalette::Window).lightnessF() < 0.5;
}

bool QuotalumeStyle::isDark() {
    return isDark(QApplication::palette());
}

QColor QuotalumeStyle::grey(Grey grey, bool dark) {
    const GreyLevels& levels = greyLevels[static_cast<std::size_t>(grey)];
    const double level = dark ? levels.dark : levels.light;
    return QColor::fromRgbF(float(level), float(level), float(level));
}

QColor QuotalumeStyle::accent(bool dark) {
    return dark ? QColor(10, 132, 255) : QColor(0, 122, 255);
}

QColor QuotalumeStyle::focusRing(bool dark) {
    return grey(Grey::foreground, dark);
}

void QuotalumeStyle::drawFocusRing(QPainter& painter, const QRectF& shape, double radius,
                                   bool dark) {
    constexpr double width = 2;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(focusRing(dark), width));
    const double half = width / 2;
    painter.drawRoundedRect(shape.adjusted(half, half, -half, -half), radius, radius);
    painter.restore();
}

bool QuotalumeStyle::showsFocusRing(QStyle::State state) {
    return (state & QStyle::State_HasFocus) && (state & QStyle::State_KeyboardFocusChange);
}

bool QuotalumeStyle::showsFocusRing(const QWidget& widget) {
    return widget.hasFocus() && widget.window()->testAttribute(Qt::WA_KeyboardFocusChange);
}

QColor QuotalumeStyle::success(bool dark) {
    return dark ? QColor(48, 209, 88) : QColor(52, 199, 89);
}

QColor QuotalumeStyle::warning(bool dark) {
    return dark ? QColor(255, 159, 10) : QColor(255, 149, 0);
}

QLinearGradient QuotalumeStyle::proBadgeGradient() {
    QLinearGradient gradient(0, 0, 1, 0);
    gradient.setCoordinateMode(QGradient::ObjectMode);
    gradient.setColorAt(0, QColor::fromRgbF(0.98f, 0.92f, 0.93f));
    gradient.setColorAt(1, QColor::fromRgbF(0.82f, 0.95f, 0.97f));
    return gradient;
}

void QuotalumeStyle::applyTheme(QWidget* root) {
    QPalette palette = root->palette();
    const QColor tint = accent(isDark(palette));
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Highlight, tint);
        palette.setColor(group, QPalette::Link, tint);
        palette.setColor(group, QPalette::LinkVisited, tint);
    }
    palette.setColor(QPalette::Active, QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Inactive, QPalette::HighlightedText, Qt::white);
    root->setPalette(palette);
}

}  // namespace quotalume
