#pragma once

#include "dashboard/dashboard_card_surface.hpp"
#include "style/dashboard_symbol.hpp"

#include <QString>

class QLabel;

namespace quotalume {

// A card of one line and an optional caption under a symbol, with a figure on the right: what
// Codex says beyond the two windows (a blocked account, a spend limit, banked resets).
class LimitNotice : public DashboardCardSurface {
    Q_OBJECT

public:
    explicit LimitNotice(const char* name, QWidget* parent = nullptr);

    // An empty caption or value is hidden; `colour` tints the symbol and the line.
    void render(DashboardSymbol symbol, const QColor& colour, const QString& line,
                const QString& caption = {}, const QString& value = {});
    QString line() const;

private:
    QLabel* icon_;
    QLabel* line_;
    QLabel* caption_;
    QLabel* value_;
};

}  // namespace quotalume
