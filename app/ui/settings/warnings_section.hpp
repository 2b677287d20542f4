#pragma once

#include <QGroupBox>

#include <array>
#include <string>
#include <utility>
#include <vector>

class QCheckBox;
class QFormLayout;
class QLabel;

namespace quotalume {

class MonitorBridge;

// Early warnings: the levels of what is left at which to warn, the forecast's warning, moved
// resets and banked resets not applied, and which of the other buckets Codex reported are
// announced too.
class WarningsSection final : public QGroupBox {
    Q_OBJECT

public:
    explicit WarningsSection(MonitorBridge& bridge, QWidget* parent = nullptr);

    void retranslate();
    void refresh();

private:
    void store();
    // One box per bucket Codex reported besides its own, and one for every bucket.
    void listBuckets();

    MonitorBridge& bridge_;
    QFormLayout* form_;
    QWidget* levelsRow_;
    std::array<QCheckBox*, 4> levels_{};
    QCheckBox* forecast_;
    QCheckBox* resetMoved_;
    QCheckBox* creditNotApplied_;
    QWidget* bucketsRow_;
    QCheckBox* allBuckets_;
    QLabel* noBuckets_;
    std::vector<std::pair<std::string, QCheckBox*>> buckets_;
    std::vector<std::pair<std::string, std::string>> listed_;  // the boxes' buckets: id, name
};

}  // namespace quotalume
