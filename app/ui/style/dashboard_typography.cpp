#include "style/dashboard_typography.hpp"

#include <QApplication>
#include <QGlyphRun>
#include <QRawFont>
#include <QTextLayout>

namespace quotalume {
namespace {

QFont font(qreal size, QFont::Weight weight) {
    QFont font = QApplication::font();
    font.setPointSizeF(size);
    font.setWeight(weight);
    return font;
}

}  // namespace

QFont DashboardTypography::brand() {
    return font(18, QFont::DemiBold);
}
QFont DashboardTypography::title() {
    return font(13, QFont::DemiBold);
}
QFont DashboardTypography::value() {
    return font(28, QFont::DemiBold);
}
QFont DashboardTypography::body() {
    return font(12, QFont::Medium);
}
QFont DashboardTypography::caption() {
    return font(11, QFont::Normal);
}
QFont DashboardTypography::action() {
    return font(12, QFont::Normal);
}

QFont DashboardTypography::oneWeight(QFont font, const QString& text) {
    if (font.weight() <= QFont::Normal || text.isEmpty()) {
        return font;
    }
    QTextLayout layout(text, font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    bool heavy = false;
    bool regular = false;
    for (const QGlyphRun& run : layout.glyphRuns()) {
        (run.rawFont().weight() > QFont::Normal ? heavy : regular) = true;
    }
    if (heavy && regular) {
        font.setWeight(QFont::Normal);
    }
    return font;
}

}  // namespace quotalume
