#include "widgets/subtle_button.hpp"

#include "style/quotalume_style.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QPointer>
#include <QStyleOptionButton>
#include <QStyleOptionToolButton>
#include <QVariantAnimation>
#include <QWidget>

namespace quotalume {
namespace {

constexpr qreal disabledLabelOpacity = 0.4;

void fillRounded(QPainter* painter, const QRectF& rect, const QPalette& palette, qreal opacity,
                 qreal radius) {
    if (opacity <= 0) {
        return;
    }
    QColor fill =
        QuotalumeStyle::grey(QuotalumeStyle::Grey::foreground, QuotalumeStyle::isDark(palette));
    fill.setAlphaF(float(opacity));
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(fill);
    painter->drawRoundedRect(rect, radius, radius);
    painter->restore();
}

// Labels take the window's text colour, as the button has no face of its own to contrast with.
template <typename Option>
Option quietLabel(const QStyleOption* option, QPainter* painter) {
    Option label = *static_cast<const Option*>(option);
    const QColor text = label.palette.color(QPalette::Active, QPalette::WindowText);
    label.palette.setColor(QPalette::ButtonText, text);
    if (!(label.state & QStyle::State_Enabled)) {
        painter->setOpacity(painter->opacity() * disabledLabelOpacity);
        label.palette.setColor(QPalette::Disabled, QPalette::ButtonText, text);
    }
    return label;
}

}  // namespace

SubtleButtonStyle::SubtleButtonStyle(QStyle* base) : FocusRingStyle(base, cornerRadius) {}

SubtleButtonStyle* SubtleButtonStyle::shared() {
    static QPointer<SubtleButtonStyle> instance;
    if (instance == nullptr) {
        instance = new SubtleButtonStyle(applicationStyle());
        instance->setParent(QCoreApplication::instance());
    }
    return instance;
}

void SubtleButtonStyle::apply(QAbstractButton* button) {
    button->setAttribute(Qt::WA_Hover);
    button->setStyle(shared());
}

qreal SubtleButtonStyle::backgroundOpacity(QStyle::State state) {
    if (!(state & State_Enabled)) {
        return 0;
    }
    if (state & State_Sunken) {
        return 0.09;
    }
    return (state & State_MouseOver) ? 0.045 : 0;
}

void SubtleButtonStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                                      QPainter* painter, const QWidget* widget) const {
    switch (element) {
        case PE_PanelButtonCommand:
        case PE_PanelButtonBevel:
        case PE_PanelButtonTool:
            fillRounded(painter, option->rect, option->palette, backgroundOpacity(option->state),
                        cornerRadius);
            return;
        default:
            FocusRingStyle::drawPrimitive(element, option, painter, widget);
    }
}

void SubtleButtonStyle::drawControl(ControlElement element, const QStyleOption* option,
                                    QPainter* painter, const QWidget* widget) const {
    switch (element) {
        case CE_PushButtonBevel:
            // No default-button frame and no bevel: only the quiet background.
            drawPrimitive(PE_PanelButtonCommand, option, painter, widget);
            return;
        case CE_PushButtonLabel: {
            painter->save();
            const auto label = quietLabel<QStyleOptionButton>(option, painter);
            FocusRingStyle::drawControl(element, &label, painter, widget);
            painter->restore();
            return;
        }
        case CE_ToolButtonLabel: {
            painter->save();
            const auto label = quietLabel<QStyleOptionToolButton>(option, painter);
            FocusRingStyle::drawControl(element, &label, painter, widget);
            painter->restore();
            return;
        }
        default:
            FocusRingStyle::drawControl(element, option, painter, widget);
    }
}

SubtleHover::SubtleHover(QWidget* target)
    : QObject(target), target_(target), animation_(new QVariantAnimation(this)) {
    animation_->setDuration(durationMilliseconds);
    animation_->setEasingCurve(QEasingCurve::OutQuad);
    connect(animation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        level_ = value.toReal();
        target_->update();
    });
    target->installEventFilter(this);
}

SubtleHover* SubtleHover::attach(QWidget* target) {
    return new SubtleHover(target);
}

bool SubtleHover::eventFilter(QObject* watched, QEvent* event) {
    if (watched != target_) {
        return false;
    }
    switch (event->type()) {
        case QEvent::Enter:
            hovered_ = true;
            update();
            break;
        case QEvent::Leave:
            hovered_ = false;
            update();
            break;
        case QEvent::EnabledChange:
            update();
            break;
        case QEvent::Paint: {
            // Painted before the widget's own paint event, so the highlight lies behind it.
            QPainter painter(target_);
            fillRounded(&painter, QRectF(target_->rect()), target_->palette(), highlightOpacity(),
                        cornerRadius);
            break;
        }
        default:
            break;
    }
    return false;
}

void SubtleHover::update() {
    const qreal wanted = (hovered_ && target_->isEnabled()) ? 1 : 0;
    if (animation_->state() == QAbstractAnimation::Running &&
        animation_->endValue().toReal() == wanted) {
        return;
    }
    animation_->stop();
    // Desktops that switch animations off (KDE's animation speed at "instant", styles that
    // follow it) report a zero widget animation duration; the UI effects flag would be a
    // poorer signal, as platform themes without such a setting leave it off altogether.
    const int duration =
        target_->style()->styleHint(QStyle::SH_Widget_Animation_Duration, nullptr, target_);
    if (duration == 0 || level_ == wanted) {
        level_ = wanted;
        target_->update();
        return;
    }
    animation_->setStartValue(level_);
    animation_->setEndValue(wanted);
    animation_->start();
}

}  // namespace quotalume
