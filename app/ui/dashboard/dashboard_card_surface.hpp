#pragma once

#include <QWidget>

namespace quotalume {

// The rounded background of a dashboard card: the theme's surface grey with a hairline edge.
class DashboardCardSurface : public QWidget {
    Q_OBJECT

public:
    static constexpr qreal cornerRadius = 10;

    explicit DashboardCardSurface(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace quotalume
