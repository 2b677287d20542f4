#pragma once

#include <QFont>
#include <QString>

namespace quotalume {

// The dashboard's fixed fonts: the system family at fixed sizes, independent of the desktop's
// font size so the panel keeps its proportions.
class DashboardTypography {
public:
    DashboardTypography() = delete;

    static QFont brand();    // 18, semibold
    static QFont title();    // 13, semibold
    static QFont value();    // 28, semibold
    static QFont body();     // 12, medium
    static QFont caption();  // 11, regular
    static QFont action();   // 12, regular

    // `font` for a line of `text` in one weight: where some of its characters come from a font
    // without that weight (a CJK font with no bold face, say), the whole line is set regular
    // rather than in two weights side by side.
    static QFont oneWeight(QFont font, const QString& text);
};

}  // namespace quotalume
