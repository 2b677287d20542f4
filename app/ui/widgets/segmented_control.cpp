#include "widgets/segmented_control.hpp"

#include "style/quotalume_style.hpp"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QFocusEvent>
#include <QHBoxLayout>
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
    explicit Segment(QWidget* parent) : QAbstractButton(parent) {
        setCheckable(true);
        setFocusPolicy(Qt::TabFocus);
        setAttribute(Qt::WA_Hover);
    }

    QSize sizeHint() const override {
        const QFontMetrics metrics = fontMetrics();
        return {metrics.horizontalAdvance(text()) + 2 * horizontalPadding,
                metrics.height() + 2 * verticalPadding};
    }

protected:
    // The focus ring only for keyboard users, as native controls do.
    void focusInEvent(QFocusEvent* event) override {
        keyboardFocus_ =
            event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
        QAbstractButton::focusInEvent(event);
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
        if (hasFocus() && keyboardFocus_) {
            painter.setPen(QPen(QuotalumeStyle::accent(dark), 1.5));
            painter.drawPath(path);
        }
        painter.setPen(ink);
        painter.drawText(rect(), Qt::AlignCenter, text());
    }

private:
    bool keyboardFocus_ = false;
};

}  // namespace

SegmentedControl::SegmentedControl(QWidget* parent)
    : QWidget(parent), group_(new QButtonGroup(this)), layout_(new QHBoxLayout(this)) {
    layout_->setContentsMargins(inset, inset, inset, inset);
    layout_->setSpacing(inset);
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
}

QAbstractButton* SegmentedControl::addSegment(const QString& objectName) {
    auto* segment = new Segment(this);
    segment->setObjectName(objectName);
    group_->addButton(segment, layout_->count());
    layout_->addWidget(segment);
    return segment;
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
