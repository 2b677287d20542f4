#pragma once

#include <quotalume/l10n/localized_message.hpp>

#include <QWidget>

#include <optional>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace quotalume {

// A source's label, edited in place and taken by Rename (or Return); a refusal is said beneath
// it until the next attempt.
class LabelEditor final : public QWidget {
    Q_OBJECT

public:
    explicit LabelEditor(QWidget* parent = nullptr);

    // The stored label; a new one replaces whatever was typed.
    void setLabel(const std::string& label);
    void showProblem(std::optional<LocalizedMessage> problem);
    void retranslate();
    QLineEdit* field() const { return field_; }

Q_SIGNALS:
    void renameRequested(const QString& label);

private:
    void edited();

    QLineEdit* field_;
    QPushButton* rename_;
    QLabel* problem_;
    std::string shown_;
    std::optional<LocalizedMessage> problemShown_;
};

}  // namespace quotalume
