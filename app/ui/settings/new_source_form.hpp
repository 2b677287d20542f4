#pragma once

#include <quotalume/l10n/localized_message.hpp>

#include <QGroupBox>

#include <optional>

class QFormLayout;
class QLabel;
class QLineEdit;
class QPushButton;

namespace quotalume {

class MonitorBridge;

// Adds a source: a label, a Codex home and optionally an executable, checked as Save and
// Connect checks the first source's. A refusal is said beneath and nothing is stored; at the
// limit of sources Add is disabled.
class NewSourceForm final : public QGroupBox {
    Q_OBJECT

public:
    explicit NewSourceForm(MonitorBridge& bridge, QWidget* parent = nullptr);

    void retranslate();
    void refresh();
    QLineEdit* firstField() const { return label_; }

private:
    void add();

    MonitorBridge& bridge_;
    QFormLayout* form_;
    QLineEdit* label_;
    QLineEdit* home_;
    QLineEdit* executable_;
    QPushButton* add_;
    QLabel* feedback_;
    QLabel* full_;
    std::optional<LocalizedMessage> refused_;
};

}  // namespace quotalume
