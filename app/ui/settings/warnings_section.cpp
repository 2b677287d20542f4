#include "settings/warnings_section.hpp"

#include "monitor_bridge.hpp"
#include "settings/settings_form.hpp"

#include <quotalume/reset/limit_warning.hpp>

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>

#include <algorithm>

namespace quotalume {

WarningsSection::WarningsSection(MonitorBridge& bridge, QWidget* parent)
    : QGroupBox(parent), bridge_(bridge), form_(new QFormLayout(this)) {
    setObjectName(QStringLiteral("warning.section"));
    form_->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form_->setRowWrapPolicy(QFormLayout::WrapLongRows);
    form_->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    levelsRow_ = new QWidget(this);
    auto* row = new QHBoxLayout(levelsRow_);
    row->setContentsMargins(0, 0, 0, 0);
    for (std::size_t i = 0; i < levels_.size(); ++i) {
        const auto level = WarningPreferences::selectableLevels[i];
        levels_[i] = new QCheckBox(QStringLiteral("%1%").arg(level), levelsRow_);
        levels_[i]->setObjectName(QStringLiteral("warning.level.%1").arg(level));
        row->addWidget(levels_[i]);
        connect(levels_[i], &QCheckBox::toggled, this, [this] { store(); });
    }
    row->addStretch();
    forecast_ = new QCheckBox(this);
    forecast_->setObjectName(QStringLiteral("warning.forecast_toggle"));
    connect(forecast_, &QCheckBox::toggled, this, [this] { store(); });
    form_->addRow(new QLabel(this), levelsRow_);
    form_->addRow(forecast_);
    retranslate();
    refresh();
}

void WarningsSection::retranslate() {
    setTitle(SettingsForm::text("warning.section"));
    SettingsForm::setLabel(form_, levelsRow_, "warning.levels");
    forecast_->setText(SettingsForm::text("warning.forecast_toggle"));
}

void WarningsSection::refresh() {
    const WarningPreferences& shown = bridge_.monitor().preferences().warnings();
    for (std::size_t i = 0; i < levels_.size(); ++i) {
        const QSignalBlocker block(levels_[i]);
        levels_[i]->setChecked(std::find(shown.levels.begin(), shown.levels.end(),
                                         WarningPreferences::selectableLevels[i]) !=
                               shown.levels.end());
    }
    const QSignalBlocker block(forecast_);
    forecast_->setChecked(shown.forecast);
}

void WarningsSection::store() {
    WarningPreferences next = bridge_.monitor().preferences().warnings();
    next.levels.clear();
    for (std::size_t i = 0; i < levels_.size(); ++i) {
        if (levels_[i]->isChecked()) {
            next.levels.push_back(WarningPreferences::selectableLevels[i]);
        }
    }
    next.forecast = forecast_->isChecked();
    bridge_.monitor().preferences().setWarnings(next);
}

}  // namespace quotalume
