#pragma once

#include <QColor>
#include <QLinearGradient>
#include <QPalette>
#include <QStyle>

class QPainter;
class QRectF;
class QWidget;

namespace quotalume {

// The shared colours of the dashboard, the settings window and the about view.
class QuotalumeStyle {
public:
    // Opaque greys whose level depends on the appearance.
    enum class Grey { background, foreground, surface, subtleSurface, border, progressTrack };

    QuotalumeStyle() = delete;

    // Dark when the palette's window colour is closer to black than to white.
    static bool isDark(const QPalette& palette);
    // The application palette's answer.
    static bool isDark();

    static QColor grey(Grey grey, bool dark);
    static QColor grey(Grey grey) { return QuotalumeStyle::grey(grey, isDark()); }

    // System-like blue, green and orange; the dark variants are a little lighter.
    static QColor accent(bool dark);
    static QColor success(bool dark);
    static QColor warning(bool dark);
    static QColor accent() { return accent(isDark()); }
    static QColor success() { return success(isDark()); }
    static QColor warning() { return warning(isDark()); }

    // Behind the "Pro" plan badge: pink to ice blue, leading to trailing edge of whatever shape
    // it fills (object bounding mode).
    static QLinearGradient proBadgeGradient();

    // The keyboard focus ring: two pixels of the foreground grey just inside `shape`, a rounded
    // rectangle of `radius`. Never the accent, which says on, selected or default.
    static QColor focusRing(bool dark);
    static void drawFocusRing(QPainter& painter, const QRectF& shape, double radius, bool dark);
    // Whether a control shows the ring: it has focus and the keyboard moved it there (Tab,
    // Backtab, the arrows of a group, a shortcut), as native controls decide. Focus taken by a
    // click shows none until the keyboard is used in that window.
    static bool showsFocusRing(QStyle::State state);
    static bool showsFocusRing(const QWidget& widget);

    // Gives `root` and everything inside it the accent as selection and link colour, in the
    // variant that fits the appearance of `root`'s palette.
    static void applyTheme(QWidget* root);
};

}  // namespace quotalume
