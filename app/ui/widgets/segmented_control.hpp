#pragma once

#include <QWidget>

class QAbstractButton;
class QButtonGroup;
class QHBoxLayout;

namespace quotalume {

// A row of exclusive segments on one rounded track; the chosen one is filled with the accent.
// To the keyboard and to assistive technologies it is a tab list: Tab stops at the chosen segment
// only, Left and Right choose its neighbour, and each segment is a page tab, selected while
// chosen, whose press chooses it.
class SegmentedControl final : public QWidget {
    Q_OBJECT

public:
    explicit SegmentedControl(QWidget* parent = nullptr);

    // A new segment at the end; its id in group() is its position.
    QAbstractButton* addSegment(const QString& objectName);
    QButtonGroup* group() const { return group_; }
    // Chooses the segment `by` places after `from`, when there is one, and gives it focus.
    void step(QAbstractButton* from, int by);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QButtonGroup* group_;
    QHBoxLayout* layout_;
};

}  // namespace quotalume
