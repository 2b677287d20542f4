#pragma once

#include <QProxyStyle>

namespace quotalume {

// Standard controls with QuotalumeStyle's keyboard focus ring in place of the base style's focus
// frame, which is often drawn in the selection colour: here the accent says on, selected or
// default. Buttons are ringed along their edge, check boxes around their label, text fields and
// combo boxes along their frame.
class FocusRingStyle : public QProxyStyle {
    Q_OBJECT

public:
    static constexpr qreal ringRadius = 4;

    // The one instance windows share; it belongs to the application object. Set on a window
    // with a style sheet, it reaches every control inside, present and future.
    static FocusRingStyle* shared();

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget = nullptr) const override;

protected:
    // `base` belongs to the new style; `radius` rounds the ring along a button's edge.
    FocusRingStyle(QStyle* base, qreal radius);
    // A copy of the application's own style, not the platform default.
    static QStyle* applicationStyle();

private:
    void ring(const QStyleOption& option, const QRectF& shape, QPainter* painter) const;

    qreal radius_;
};

}  // namespace quotalume
