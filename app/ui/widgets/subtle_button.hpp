#pragma once

#include "style/focus_ring_style.hpp"

#include <QObject>

class QAbstractButton;
class QVariantAnimation;
class QWidget;

namespace quotalume {

// A quiet button: the label on a rounded background that only shows while the button is
// hovered or pressed, and never while it is disabled; a disabled label is dimmed. Keyboard focus
// rings its rounded shape.
class SubtleButtonStyle : public FocusRingStyle {
    Q_OBJECT

public:
    static constexpr qreal cornerRadius = 6;

    // The one instance buttons share; it belongs to the application object.
    static SubtleButtonStyle* shared();
    static void apply(QAbstractButton* button);

    // The foreground colour's opacity behind the label in `state`.
    static qreal backgroundOpacity(QStyle::State state);

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;

private:
    explicit SubtleButtonStyle(QStyle* base);
};

// A rounded highlight behind any widget while the pointer is over it and it is enabled,
// faded in and out unless the desktop asks for no animations. Belongs to the widget.
class SubtleHover : public QObject {
    Q_OBJECT

public:
    static constexpr qreal cornerRadius = 6;
    static constexpr qreal opacity = 0.1;
    static constexpr int durationMilliseconds = 100;

    static SubtleHover* attach(QWidget* target);

    // The highlight's current opacity: 0 to `opacity`, in between while it fades.
    qreal highlightOpacity() const { return opacity * level_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit SubtleHover(QWidget* target);
    void update();

    QWidget* target_;
    QVariantAnimation* animation_;
    bool hovered_ = false;
    qreal level_ = 0;
};

}  // namespace quotalume
