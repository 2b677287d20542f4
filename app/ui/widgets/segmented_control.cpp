#include "widgets/segmented_control.hpp"

#include "style/quotalume_style.hpp"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>

namespace quotalume {
namespace {

constexpr qreal trackRadius = 7;
constexpr qreal segmentRadius = 5;
constexpr int inset = 2;
constexpr int horizontalPadding = 14;
constexpr int verticalPadding = 5;
constexpr qreal hoverOpacity = 0.06;

class Segment final : public QAbstractButton {
public:
    explicit Segment(SegmentedControl* control) : QAbstractButton(control), control_(control) {
        setCheckable(true);
        // The chosen segment alone is a Tab stop; the control hands the stop on.
        setFocusPolicy(Qt::NoFocus);
        setAttribute(Qt::WA_Hover);
    }

    QSize sizeHint() const override {
        const QFontMetrics metrics = fontMetrics();
        return {metrics.horizontalAdvance(text()) + 2 * horizontalPadding,
                metrics.height() + 2 * verticalPadding};
    }

protected:
    void keyPressEvent(QKeyEvent* event) override {
        const bool left = event->key() == Qt::Key_Left;
        if ((left || event->key() == Qt::Key_Right) &&
            (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            // The arrow's own direction: Left goes on to the next segment right to left.
            control_->step(this, left != isRightToLeft() ? -1 : 1);
            return;
        }
        QAbstractButton::keyPressEvent(event);
    }

    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const bool dark = QuotalumeStyle::isDark(palette());
        const QRectF shape = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        QPainterPath path;
        path.addRoundedRect(shape, segmentRadius, segmentRadius);
        QColor ink = palette().color(QPalette::WindowText);
        if (isChecked()) {
            painter.fillPath(path, QuotalumeStyle::accent(dark));
            ink = Qt::white;
        } else if (underMouse() || isDown()) {
            QColor hover = QuotalumeStyle::grey(QuotalumeStyle::Grey::foreground, dark);
            hover.setAlphaF(isDown() ? 2 * hoverOpacity : hoverOpacity);
            painter.fillPath(path, hover);
        }
        if (QuotalumeStyle::showsFocusRing(*this)) {
            QuotalumeStyle::drawFocusRing(painter, rect(), segmentRadius, dark);
        }
        painter.setPen(ink);
        painter.drawText(rect(), Qt::AlignCenter, text());
    }

private:
    SegmentedControl* control_;
};

// A page tab: named by its text, selected while chosen, chosen by its press action.
class SegmentAccessible final : public QAccessibleWidget {
public:
    explicit SegmentAccessible(Segment* segment)
        : QAccessibleWidget(segment, QAccessible::PageTab) {}

    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Name && segment()->accessibleName().isEmpty()) {
            return segment()->text();
        }
        return QAccessibleWidget::text(kind);
    }

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.selectable = true;
        state.selected = segment()->isChecked();
        return state;
    }

    QStringList actionNames() const override {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& action) override {
        if (action == pressAction()) {
            segment()->click();
        } else {
            QAccessibleWidget::doAction(action);
        }
    }

private:
    QAbstractButton* segment() const { return static_cast<QAbstractButton*>(widget()); }
};

QAccessibleInterface* segmentedControlAccessible(const QString&, QObject* object) {
    if (auto* control = qobject_cast<SegmentedControl*>(object)) {
        return new QAccessibleWidget(control, QAccessible::PageTabList);
    }
    if (auto* segment = dynamic_cast<Segment*>(object)) {
        return new SegmentAccessible(segment);
    }
    return nullptr;
}

}  // namespace

SegmentedControl::SegmentedControl(QWidget* parent)
    : QWidget(parent), group_(new QButtonGroup(this)), layout_(new QHBoxLayout(this)) {
    static const bool accessible = (QAccessible::installFactory(segmentedControlAccessible), true);
    (void)accessible;
    layout_->setContentsMargins(inset, inset, inset, inset);
    layout_->setSpacing(inset);
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    connect(group_, &QButtonGroup::buttonToggled, this, [](QAbstractButton* segment, bool chosen) {
        segment->setFocusPolicy(chosen ? Qt::TabFocus : Qt::NoFocus);
        QAccessible::State selected;
        selected.selected = true;
        QAccessibleStateChangeEvent event(segment, selected);
        QAccessible::updateAccessibility(&event);
    });
}

QAbstractButton* SegmentedControl::addSegment(const QString& objectName) {
    auto* segment = new Segment(this);
    segment->setObjectName(objectName);
    group_->addButton(segment, layout_->count());
    layout_->addWidget(segment);
    return segment;
}

void SegmentedControl::step(QAbstractButton* from, int by) {
    QAbstractButton* to = group_->button(group_->id(from) + by);
    if (to == nullptr) {
        return;  // no wrapping round, as in a tab bar
    }
    to->click();
    to->setFocus(by < 0 ? Qt::BacktabFocusReason : Qt::TabFocusReason);
}

void SegmentedControl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool dark = QuotalumeStyle::isDark(palette());
    QPainterPath track;
    track.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), trackRadius, trackRadius);
    painter.fillPath(track, QuotalumeStyle::grey(QuotalumeStyle::Grey::subtleSurface, dark));
    painter.setPen(QuotalumeStyle::grey(QuotalumeStyle::Grey::border, dark));
    painter.drawPath(track);
}

}  // namespace quotalume
