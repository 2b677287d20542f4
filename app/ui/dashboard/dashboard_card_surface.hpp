#pragma once

#include <QWidget>

namespace quotalume {

// The rounded background of a dashboard card: the theme's surface grey with a hairline edge,
// and the keyboard focus ring around it while a card that takes focus has it from the keyboard.
class DashboardCardSurface : public QWidget {
    Q_OBJECT

public:
    static constexpr qreal cornerRadius = 10;

    // How assistive technology reads the card: its parts one by one, or as one element, its
    // own accessible name and description, the parts left out so that nothing is read twice.
    enum class Reading { parts, asOne };

    explicit DashboardCardSurface(QWidget* parent = nullptr, Reading reading = Reading::parts);

    Reading reading() const { return reading_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const Reading reading_;
};

}  // namespace quotalume
