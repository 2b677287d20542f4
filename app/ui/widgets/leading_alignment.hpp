#pragma once

#include <QLabel>
#include <QWidget>

namespace quotalume {

// Text on the leading side of `widget`'s layout, which is the right in a right-to-left one. A
// label's own leading side follows its text: words in a left-to-right script would stay on the
// left of a right-to-left layout.
inline Qt::Alignment leadingAlignment(const QWidget* widget,
                                      Qt::Alignment vertical = Qt::AlignVCenter) {
    const Qt::Alignment side =
        widget->layoutDirection() == Qt::RightToLeft ? Qt::AlignRight : Qt::AlignLeft;
    return Qt::AlignAbsolute | side | vertical;
}

// Every label inside `root` that keeps the default, leading alignment gets the layout's leading
// side instead; one set otherwise (a figure to the right, a centred placeholder) keeps it. The
// layout's direction is the application's, set as it starts.
inline void alignLabelsToLayout(const QWidget* root) {
    for (QLabel* label : root->findChildren<QLabel*>()) {
        if ((label->alignment() & Qt::AlignHorizontal_Mask) == Qt::AlignLeading) {
            label->setAlignment(
                leadingAlignment(label, label->alignment() & Qt::AlignVertical_Mask));
        }
    }
}

}  // namespace quotalume
