#include "settings/new_source_form.hpp"

#include "monitor_bridge.hpp"
#include "settings/settings_form.hpp"
#include "settings/source_editing.hpp"

#include <quotalume/l10n/l10n.hpp>

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <string>

namespace quotalume {

NewSourceForm::NewSourceForm(MonitorBridge& bridge, QWidget* parent)
    : QGroupBox(parent), bridge_(bridge), form_(new QFormLayout(this)) {
    setObjectName(QStringLiteral("source.add_section"));
    form_->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form_->setRowWrapPolicy(QFormLayout::WrapLongRows);
    form_->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label_ = new QLineEdit(this);
    label_->setObjectName(QStringLiteral("source.new_label"));
    home_ = new QLineEdit(this);
    home_->setObjectName(QStringLiteral("source.new_home"));
    executable_ = new QLineEdit(this);
    executable_->setObjectName(QStringLiteral("source.new_executable"));
    add_ = new QPushButton(this);
    add_->setObjectName(QStringLiteral("source.add"));
    auto* addRow = new QHBoxLayout;
    addRow->addStretch();
    addRow->addWidget(add_);
    feedback_ = SettingsForm::caption(this, "source.add_feedback");
    full_ = SettingsForm::caption(this, "source.full");
    for (QLineEdit* field : {label_, home_, executable_}) {
        SettingsForm::addLabelledRow(form_, field);
    }
    // Return in any field adds, as the window presses a scope's default button.
    SettingsForm::setDefaultButton(this, add_);
    form_->addRow(addRow);
    form_->addRow(feedback_);
    form_->addRow(full_);

    connect(add_, &QPushButton::clicked, this, &NewSourceForm::add);
    retranslate();
    refresh();
}

void NewSourceForm::retranslate() {
    setTitle(SettingsForm::text("source.add_section"));
    SettingsForm::setLabel(form_, label_, "source.label_field");
    SettingsForm::setLabel(form_, home_, "source.home");
    SettingsForm::setLabel(form_, executable_, "source.executable");
    home_->setPlaceholderText(SettingsForm::text("source.default_home"));
    executable_->setPlaceholderText(SettingsForm::text("source.automatic"));
    // The first source's fields bear the same visible names.
    label_->setAccessibleName(SettingsForm::text("source.new_label"));
    home_->setAccessibleName(SettingsForm::text("source.new_home"));
    executable_->setAccessibleName(SettingsForm::text("source.new_executable"));
    add_->setText(SettingsForm::text("source.add"));
    full_->setText(
        QString::fromStdString(L10n::text("source.full", std::to_string(AccountSources::maximum))));
    SettingsForm::show(feedback_, refused_);
}

void NewSourceForm::refresh() {
    const bool full = SourceEditing::full(bridge_.monitor().preferences().current().sources);
    for (QWidget* control : {static_cast<QWidget*>(label_), static_cast<QWidget*>(home_),
                             static_cast<QWidget*>(executable_), static_cast<QWidget*>(add_)}) {
        control->setEnabled(!full);
    }
    full_->setVisible(full);
}

void NewSourceForm::add() {
    if (!add_->isEnabled()) {
        return;
    }
    refused_ = SourceEditing(bridge_.monitor().preferences())
                   .add({label_->text().toStdString(), home_->text().toStdString(),
                         executable_->text().toStdString()});
    SettingsForm::show(feedback_, refused_);
    if (!refused_) {
        for (QLineEdit* field : {label_, home_, executable_}) {
            field->clear();
        }
    }
    refresh();
}

}  // namespace quotalume
