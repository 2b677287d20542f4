#include "settings/settings_form.hpp"

#include <quotalume/l10n/l10n.hpp>

#include <QAbstractButton>
#include <QApplication>
#include <QFormLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QPointer>
#include <QPushButton>

namespace quotalume {
namespace {

constexpr qreal captionScale = 0.88;

// Return that the focused control leaves goes out through its parents to the window: the
// nearest scope takes it, so no scope further out presses its button as well.
class DefaultButtonScope final : public QObject {
public:
    DefaultButtonScope(QWidget* scope, QAbstractButton* button)
        : QObject(scope), scope_(scope), button_(button) {
        scope->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) {
            return false;
        }
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) ||
            (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
            return false;
        }
        QAbstractButton* pressed = qobject_cast<QPushButton*>(QApplication::focusWidget());
        if (pressed == nullptr || !scope_->isAncestorOf(pressed)) {
            pressed = button_;
        }
        if (pressed != nullptr && pressed->isEnabled() && pressed->isVisibleTo(scope_)) {
            pressed->click();
        }
        return true;
    }

private:
    QWidget* scope_;
    QPointer<QAbstractButton> button_;
};

}  // namespace

QString SettingsForm::text(std::string_view key) {
    return QString::fromStdString(L10n::text(key));
}

QFormLayout* SettingsForm::addSection(QWidget* page, const char* objectName, QGroupBox*& box) {
    box = new QGroupBox(page);
    box->setObjectName(QString::fromLatin1(objectName));
    auto* form = new QFormLayout(box);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form->setRowWrapPolicy(QFormLayout::WrapLongRows);
    form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    page->layout()->addWidget(box);
    return form;
}

QLabel* SettingsForm::addLabelledRow(QFormLayout* form, QWidget* field) {
    auto* label = new QLabel(field->parentWidget());
    label->setBuddy(field);
    form->addRow(label, field);
    return label;
}

void SettingsForm::setDefaultButton(QWidget* scope, QAbstractButton* button) {
    new DefaultButtonScope(scope, button);
}

void SettingsForm::setLabel(QFormLayout* form, QWidget* field, std::string_view key) {
    if (auto* label = qobject_cast<QLabel*>(form->labelForField(field))) {
        label->setText(text(key));
    }
}

QLabel* SettingsForm::caption(QWidget* parent, const char* objectName) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(objectName));
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    label->setForegroundRole(QPalette::PlaceholderText);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * captionScale);
    label->setFont(font);
    return label;
}

void SettingsForm::show(QLabel* caption, const std::optional<LocalizedMessage>& message) {
    caption->setText(message ? QString::fromStdString(message->localized()) : QString());
    caption->setVisible(message.has_value());
}

}  // namespace quotalume
