#pragma once

#include "dashboard/quota_card.hpp"

#include <QWidget>

#include <vector>

class QGridLayout;
class QLabel;

namespace quotalume {

class DashboardCardSurface;
class Engine;
struct EngineReading;

// One account's quota cards, shortest window first, or a placeholder while there are none
// (loading, or nothing to show). Full cards stack; compact ones stand two abreast.
class CardStack : public QWidget {
    Q_OBJECT

public:
    explicit CardStack(QuotaCard::Density density, QWidget* parent = nullptr);

    void render(const EngineReading& reading, Engine& monitor);

private:
    void place(const std::vector<QuotaWindow>& windows);

    QuotaCard::Density density_;
    QGridLayout* grid_;
    std::vector<QuotaCard*> cards_;
    DashboardCardSurface* placeholder_;
    QLabel* placeholderIcon_;
    QLabel* placeholderText_;
};

}  // namespace quotalume
