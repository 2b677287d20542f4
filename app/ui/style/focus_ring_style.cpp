#include "style/focus_ring_style.hpp"

#include "style/quotalume_style.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QPainter>
#include <QPointer>
#include <QRadioButton>
#include <QStyleFactory>
#include <QStyleOption>

namespace quotalume {
namespace {

// Calls `draw` with a copy of `option` without focus, so the base style draws none of its own.
template <typename Draw>
void withoutFocus(const QStyleOption* option, Draw draw) {
    const auto strip = [&](auto copy) {
        copy.state &= ~QStyle::State_HasFocus;
        draw(&copy);
    };
    if (const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option)) {
        strip(*button);
    } else if (const auto* tool = qstyleoption_cast<const QStyleOptionToolButton*>(option)) {
        strip(*tool);
    } else if (const auto* frame = qstyleoption_cast<const QStyleOptionFrame*>(option)) {
        strip(*frame);
    } else if (const auto* combo = qstyleoption_cast<const QStyleOptionComboBox*>(option)) {
        strip(*combo);
    } else {
        strip(*option);
    }
}

}  // namespace

FocusRingStyle::FocusRingStyle(QStyle* base, qreal radius) : QProxyStyle(base), radius_(radius) {}

QStyle* FocusRingStyle::applicationStyle() {
    return QStyleFactory::create(QApplication::style()->name());
}

FocusRingStyle* FocusRingStyle::shared() {
    static QPointer<FocusRingStyle> instance;
    if (instance == nullptr) {
        instance = new FocusRingStyle(applicationStyle(), ringRadius);
        instance->setParent(QCoreApplication::instance());
    }
    return instance;
}

void FocusRingStyle::ring(const QStyleOption& option, const QRectF& shape,
                          QPainter* painter) const {
    if (QuotalumeStyle::showsFocusRing(option.state)) {
        QuotalumeStyle::drawFocusRing(*painter, shape, radius_,
                                      QuotalumeStyle::isDark(option.palette));
    }
}

void FocusRingStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                                   QPainter* painter, const QWidget* widget) const {
    switch (element) {
        case PE_FrameFocusRect: {
            // Buttons are ringed whole; a check box's focus rectangle is its label's.
            const bool labelled = qobject_cast<const QCheckBox*>(widget) != nullptr ||
                                  qobject_cast<const QRadioButton*>(widget) != nullptr;
            const bool button = !labelled && qobject_cast<const QAbstractButton*>(widget);
            ring(*option,
                 button ? QRectF(widget->rect()) : QRectF(option->rect).adjusted(-2, -1, 2, 1),
                 painter);
            return;
        }
        case PE_IndicatorCheckBox:
        case PE_IndicatorRadioButton:
        case PE_PanelButtonCommand:
        case PE_PanelButtonBevel:
        case PE_PanelButtonTool:
        case PE_FrameButtonTool:
        case PE_FrameLineEdit:
        case PE_PanelLineEdit:
            withoutFocus(option, [&](const QStyleOption* unfocused) {
                QProxyStyle::drawPrimitive(element, unfocused, painter, widget);
            });
            // A text field's frame is its shape; the others ask for the focus rectangle.
            if (element == PE_PanelLineEdit) {
                ring(*option, option->rect, painter);
            }
            return;
        default:
            QProxyStyle::drawPrimitive(element, option, painter, widget);
    }
}

void FocusRingStyle::drawControl(ControlElement element, const QStyleOption* option,
                                 QPainter* painter, const QWidget* widget) const {
    // Some styles show a push button's focus in its frame alone, asking for no focus rectangle.
    if (element != CE_PushButton) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }
    withoutFocus(option, [&](const QStyleOption* unfocused) {
        QProxyStyle::drawControl(element, unfocused, painter, widget);
    });
    ring(*option, option->rect, painter);
}

void FocusRingStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                                        QPainter* painter, const QWidget* widget) const {
    if (control != CC_ComboBox) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    withoutFocus(option, [&](const QStyleOption* unfocused) {
        QProxyStyle::drawComplexControl(control, static_cast<const QStyleOptionComplex*>(unfocused),
                                        painter, widget);
    });
    ring(*option, option->rect, painter);
}

}  // namespace quotalume
