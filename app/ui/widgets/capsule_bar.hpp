#pragma once

#include <QColor>
#include <QWidget>

#include <optional>

namespace quotalume {

// A capsule track filled from the leading edge with the remaining share of a window: red under
// 25 %, yellow under 50 %, green above. Nothing is filled when the share is unknown.
class CapsuleBar : public QWidget {
    Q_OBJECT

public:
    static constexpr int barHeight = 6;

    explicit CapsuleBar(QWidget* parent = nullptr);

    // 0…100; absent: no fill.
    void setRemaining(std::optional<double> remaining);
    std::optional<double> remaining() const { return remaining_; }

    static QColor fillColor(double remaining, bool dark);
    // The filled width in a track `width` wide, never negative.
    static qreal fillWidth(qreal width, double remaining);

    QSize sizeHint() const override { return {100, barHeight}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<double> remaining_;
};

}  // namespace quotalume
