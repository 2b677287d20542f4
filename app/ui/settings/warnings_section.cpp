#include "settings/warnings_section.hpp"

#include "monitor_bridge.hpp"
#include "settings/settings_form.hpp"

#include <quotalume/reset/limit_warning.hpp>

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

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
    resetMoved_ = new QCheckBox(this);
    resetMoved_->setObjectName(QStringLiteral("warning.moved_toggle"));
    connect(resetMoved_, &QCheckBox::toggled, this, [this] { store(); });
    creditNotApplied_ = new QCheckBox(this);
    creditNotApplied_->setObjectName(QStringLiteral("warning.unapplied_toggle"));
    connect(creditNotApplied_, &QCheckBox::toggled, this, [this] { store(); });
    bucketsRow_ = new QWidget(this);
    bucketsRow_->setObjectName(QStringLiteral("warning.buckets"));
    auto* column = new QVBoxLayout(bucketsRow_);
    column->setContentsMargins(0, 0, 0, 0);
    allBuckets_ = new QCheckBox(bucketsRow_);
    allBuckets_->setObjectName(QStringLiteral("warning.buckets_all"));
    connect(allBuckets_, &QCheckBox::toggled, this, [this] { store(); });
    column->addWidget(allBuckets_);
    noBuckets_ = new QLabel(bucketsRow_);
    noBuckets_->setObjectName(QStringLiteral("warning.buckets_none"));
    noBuckets_->setWordWrap(true);
    column->addWidget(noBuckets_);
    SettingsForm::addLabelledRow(form_, levelsRow_);
    form_->addRow(forecast_);
    form_->addRow(resetMoved_);
    form_->addRow(creditNotApplied_);
    SettingsForm::addLabelledRow(form_, bucketsRow_);
    retranslate();
    refresh();
}

void WarningsSection::listBuckets() {
    std::vector<std::pair<std::string, std::string>> reported;  // id and name
    for (const BucketSummary& other : bridge_.monitor().reading().otherBuckets()) {
        reported.emplace_back(other.bucket.id(), other.bucket.title());
    }
    if (reported == listed_) {
        return;
    }
    listed_ = std::move(reported);
    for (auto& [id, box] : buckets_) {
        delete box;
    }
    buckets_.clear();
    for (const auto& [id, name] : listed_) {
        // Codex's name as it is: an "&" in it marks no shortcut.
        auto* box = new QCheckBox(
            QString::fromStdString(name).replace(QLatin1Char('&'), QStringLiteral("&&")),
            bucketsRow_);
        box->setObjectName(QStringLiteral("warning.bucket.") + QString::fromStdString(id));
        connect(box, &QCheckBox::toggled, this, [this] { store(); });
        bucketsRow_->layout()->addWidget(box);
        buckets_.emplace_back(id, box);
    }
    noBuckets_->setVisible(buckets_.empty());
}

void WarningsSection::retranslate() {
    setTitle(SettingsForm::text("warning.section"));
    SettingsForm::setLabel(form_, levelsRow_, "warning.levels");
    forecast_->setText(SettingsForm::text("warning.forecast_toggle"));
    resetMoved_->setText(SettingsForm::text("warning.moved_toggle"));
    creditNotApplied_->setText(SettingsForm::text("warning.unapplied_toggle"));
    SettingsForm::setLabel(form_, bucketsRow_, "warning.buckets");
    allBuckets_->setText(SettingsForm::text("warning.buckets_all"));
    noBuckets_->setText(SettingsForm::text("warning.buckets_none"));
}

void WarningsSection::refresh() {
    const WarningPreferences& shown = bridge_.monitor().preferences().warnings();
    for (std::size_t i = 0; i < levels_.size(); ++i) {
        const QSignalBlocker block(levels_[i]);
        levels_[i]->setChecked(std::find(shown.levels.begin(), shown.levels.end(),
                                         WarningPreferences::selectableLevels[i]) !=
                               shown.levels.end());
    }
    listBuckets();
    for (auto [box, on] :
         {std::pair(forecast_, shown.forecast), std::pair(resetMoved_, shown.resetMoved),
          std::pair(creditNotApplied_, shown.creditNotApplied),
          std::pair(allBuckets_, shown.allBuckets)}) {
        const QSignalBlocker block(box);
        box->setChecked(on);
    }
    for (auto& [id, box] : buckets_) {
        const QSignalBlocker block(box);
        // Under "every limit" the boxes keep the ids chosen, for when it is unticked.
        box->setChecked(std::find(shown.buckets.begin(), shown.buckets.end(), id) !=
                        shown.buckets.end());
        box->setEnabled(!shown.allBuckets);
    }
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
    next.resetMoved = resetMoved_->isChecked();
    next.creditNotApplied = creditNotApplied_->isChecked();
    next.allBuckets = allBuckets_->isChecked();
    // Ids chosen earlier that Codex no longer reports stay chosen.
    for (const auto& [id, box] : buckets_) {
        std::erase(next.buckets, id);
        if (box->isChecked()) {
            next.buckets.push_back(id);
        }
    }
    bridge_.monitor().preferences().setWarnings(next);
}

}  // namespace quotalume
