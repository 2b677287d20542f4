#pragma once

#include <QFont>

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
};

}  // namespace quotalume
