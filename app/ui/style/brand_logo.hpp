#pragma once

#include <QImage>
#include <QWidget>

namespace quotalume {

// The logo as a rounded tile with a thin edge, `size` pixels square. Decoration only: it takes
// no focus and has no accessible name.
class BrandLogo : public QWidget {
    Q_OBJECT

public:
    explicit BrandLogo(int size, QWidget* parent = nullptr);

    // The corner radius for a tile of `size`.
    static qreal cornerRadius(int size) { return 0.225 * size; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int size_;
    // The logo scaled for the last device pixel ratio drawn at.
    QImage scaled_;
};

}  // namespace quotalume
