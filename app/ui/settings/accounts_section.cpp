#include "settings/accounts_section.hpp"

#include "monitor_bridge.hpp"
#include "settings/label_editor.hpp"
#include "settings/settings_form.hpp"
#include "settings/source_editing.hpp"
#include "settings/source_row.hpp"

#include <quotalume/preferences/config_keys.hpp>

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QSignalBlocker>

#include <algorithm>

namespace quotalume {

AccountsSection::AccountsSection(MonitorBridge& bridge, QWidget* parent)
    : QGroupBox(parent), bridge_(bridge), form_(new QFormLayout(this)) {
    setObjectName(QStringLiteral("source.accounts_section"));
    form_->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form_->setRowWrapPolicy(QFormLayout::WrapLongRows);
    form_->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    tray_ = new QComboBox(this);
    tray_->setObjectName(QStringLiteral("source.tray"));
    SettingsForm::addLabelledRow(form_, tray_);
    none_ = SettingsForm::caption(this, "source.none");
    form_->addRow(none_);
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        auto* row = new SourceRow(this);
        rows_[i] = row;
        form_->addRow(row);
        connect(&row->label(), &LabelEditor::renameRequested, this,
                [this, i](const QString& label) { rename(i, label); });
        connect(row, &SourceRow::moveRequested, this, [this, i](int by) { move(i, by); });
        connect(row, &SourceRow::removeRequested, this, [this, i] { remove(i); });
    }

    connect(tray_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0) {
            (void)SourceEditing(bridge_.monitor().preferences())
                .showInTray(tray_->itemData(index).toString().toStdString());
        }
    });
    retranslate();
    refresh();
}

void AccountsSection::retranslate() {
    setTitle(SettingsForm::text("source.accounts_section"));
    SettingsForm::setLabel(form_, tray_, "source.tray");
    none_->setText(SettingsForm::text("source.none"));
    for (SourceRow* row : rows_) {
        row->retranslate();
    }
    trayLabels_.clear();  // the choices' names are listed again
    listTrayChoices();
}

void AccountsSection::refresh() {
    const AccountSources& sources = bridge_.monitor().preferences().current().sources;
    const std::size_t count = sources.others.size();
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (i < count) {
            rows_[i]->present(sources.others[i], i == 0, i + 1 == count);
        }
        form_->setRowVisible(rows_[i], i < count);
    }
    none_->setVisible(count == 0);
    form_->setRowVisible(tray_, sources.several());
    listTrayChoices();
    showReadings();
}

void AccountsSection::showReadings() {
    const auto& readings = bridge_.monitor().otherReadings();
    const std::size_t count = bridge_.monitor().preferences().current().sources.others.size();
    for (std::size_t i = 0; i < count && i < rows_.size(); ++i) {
        if (i < readings.size()) {
            rows_[i]->showReading(readings[i]->sameAs(), readings[i]->lastError());
        } else {
            rows_[i]->showReading(std::nullopt, std::nullopt);
        }
    }
}

void AccountsSection::listTrayChoices() {
    const Preferences& chosen = bridge_.monitor().preferences().current();
    std::vector<std::string> labels{chosen.sources.firstLabel};
    for (const AccountSource& other : chosen.sources.others) {
        labels.push_back(other.label);
    }
    const QSignalBlocker block(tray_);
    if (labels != trayLabels_) {
        trayLabels_ = labels;
        tray_->clear();
        // The first source is stored as no choice at all, so it stays chosen when renamed.
        tray_->addItem(QString::fromStdString(labels.front()), QString());
        for (std::size_t i = 1; i < labels.size(); ++i) {
            const QString label = QString::fromStdString(labels[i]);
            tray_->addItem(label, label);
        }
        tray_->addItem(SettingsForm::text("source.tray_closest"),
                       QString::fromLatin1(Preferences::closestAccount.data(),
                                           Preferences::closestAccount.size()));
    }
    int index = 0;
    if (chosen.trayAccount == Preferences::closestAccount) {
        index = tray_->count() - 1;
    } else if (auto found = chosen.sources.find(chosen.trayAccount)) {
        index = static_cast<int>(*found);
    }
    tray_->setCurrentIndex(index);
}

void AccountsSection::rename(std::size_t row, const QString& label) {
    auto refused =
        SourceEditing(bridge_.monitor().preferences()).rename(row + 1, label.toStdString());
    rows_[row]->label().showProblem(std::move(refused));
    refresh();
}

void AccountsSection::move(std::size_t row, int by) {
    auto refused = SourceEditing(bridge_.monitor().preferences()).move(row + 1, by);
    rows_[row]->label().showProblem(std::move(refused));
    refresh();
    const auto to = static_cast<std::ptrdiff_t>(row) + by;
    if (to >= 0 && static_cast<std::size_t>(to) < rows_.size()) {
        rows_[static_cast<std::size_t>(to)]->focusMove(by);
    }
}

void AccountsSection::remove(std::size_t row) {
    auto refused = SourceEditing(bridge_.monitor().preferences()).remove(row + 1);
    rows_[row]->label().showProblem(std::move(refused));
    refresh();
    const std::size_t left = bridge_.monitor().preferences().current().sources.others.size();
    if (left > 0) {
        rows_[std::min(row, left - 1)]->focusRemove();
    }
}

}  // namespace quotalume
