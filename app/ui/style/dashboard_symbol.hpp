#pragma once

#include <QColor>
#include <QIcon>

class QLabel;

namespace quotalume {

// The few symbols the dashboard shows: the icon theme's when it has one, else a simple
// drawing in `color`, so the panel never shows a gap on a desktop without a full theme.
enum class DashboardSymbol {
    chart,
    grid,
    bell,
    bellSlash,
    alertCircle,
    noticeCircle,  // the outlined form, for the milder warning
    alertTriangle,
    refresh,
    settings,
    power,
    close,  // always drawn: a theme's close icon is often a coloured badge, too loud
};

QIcon dashboardSymbol(DashboardSymbol symbol, const QColor& color, int size = 16);
// Shows the symbol in `label`, `size` pixels square at the label's pixel ratio.
void setDashboardSymbol(QLabel* label, DashboardSymbol symbol, const QColor& color, int size);

}  // namespace quotalume
