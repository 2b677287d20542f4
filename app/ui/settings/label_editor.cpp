#include "settings/label_editor.hpp"

#include "settings/settings_form.hpp"

#include <quotalume/l10n/l10n.hpp>
#include <quotalume/preferences/account_sources.hpp>

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace quotalume {

LabelEditor::LabelEditor(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("source.label_editor"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    auto* row = new QHBoxLayout;
    field_ = new QLineEdit(this);
    field_->setObjectName(QStringLiteral("source.label"));
    // Room for a label's longest form; the store refuses more anyway.
    field_->setMaxLength(static_cast<int>(AccountSources::longestLabel) * 2);
    rename_ = new QPushButton(this);
    rename_->setObjectName(QStringLiteral("source.rename"));
    rename_->setEnabled(false);
    row->addWidget(field_, 1);
    row->addWidget(rename_);
    column->addLayout(row);
    problem_ = SettingsForm::caption(this, "source.label_problem");
    problem_->hide();
    column->addWidget(problem_);

    // A label naming the editor names its field; Return in it renames.
    setFocusProxy(field_);
    SettingsForm::setDefaultButton(this, rename_);

    connect(field_, &QLineEdit::textChanged, this, &LabelEditor::edited);
    connect(rename_, &QPushButton::clicked, this,
            [this] { Q_EMIT renameRequested(field_->text()); });
    retranslate();
}

void LabelEditor::setLabel(const std::string& label) {
    if (label == shown_) {
        return;
    }
    // Typing left over belongs to the label it was typed over, perhaps another source's.
    field_->setText(QString::fromStdString(label));
    shown_ = label;
    edited();
    retranslate();
}

void LabelEditor::edited() {
    rename_->setEnabled(field_->text().trimmed() != QString::fromStdString(shown_));
}

void LabelEditor::showProblem(std::optional<LocalizedMessage> problem) {
    problemShown_ = std::move(problem);
    SettingsForm::show(problem_, problemShown_);
}

void LabelEditor::retranslate() {
    rename_->setText(SettingsForm::text("source.rename"));
    field_->setAccessibleName(QString::fromStdString(L10n::text("source.label_of", shown_)));
    rename_->setAccessibleName(QString::fromStdString(L10n::text("source.rename_named", shown_)));
    SettingsForm::show(problem_, problemShown_);
}

}  // namespace quotalume
