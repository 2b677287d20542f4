#include "settings/settings_form.hpp"

#include <quotalume/l10n/l10n.hpp>

#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>

namespace quotalume {
namespace {

constexpr qreal captionScale = 0.88;

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
