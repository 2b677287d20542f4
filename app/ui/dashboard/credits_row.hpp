#pragma once

#include <quotalume/usage/rate_limits.hpp>

#include "dashboard/dashboard_card_surface.hpp"

class QLabel;

namespace quotalume {

// The account's credits: a label and the balance, with the outdated tag when stale.
class CreditsRow : public DashboardCardSurface {
    Q_OBJECT

public:
    // Compact: a smaller balance and a lower row, for a screen with little room.
    explicit CreditsRow(bool compact = false, QWidget* parent = nullptr);

    void render(const CreditsSnapshot& credits, bool stale);

private:
    QLabel* icon_;
    QLabel* title_;
    QLabel* stale_;
    QLabel* value_;
};

}  // namespace quotalume
