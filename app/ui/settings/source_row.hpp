#pragma once

#include <quotalume/l10n/localized_message.hpp>
#include <quotalume/preferences/account_sources.hpp>

#include <QFrame>

#include <optional>
#include <string>

class QLabel;
class QPushButton;

namespace quotalume {

class LabelEditor;
class WarningLine;

// One source after the first: its label to rename, where it reads, how its last reading went,
// and the buttons that move or remove it. Every button names the source to a screen reader.
class SourceRow final : public QFrame {
    Q_OBJECT

public:
    explicit SourceRow(QWidget* parent = nullptr);

    void present(const AccountSource& source, bool first, bool last);
    // The label of an earlier source that reads the same account, and the last reading's error.
    void showReading(std::optional<std::string> sameAs, std::optional<LocalizedMessage> error);
    LabelEditor& label() const { return *label_; }
    void retranslate();
    // After a move: the button that moves the same way, else the other.
    void focusMove(int by);
    void focusRemove();

Q_SIGNALS:
    void moveRequested(int by);
    void removeRequested();

private:
    AccountSource source_;
    std::optional<std::string> sameAs_;
    std::optional<LocalizedMessage> error_;
    LabelEditor* label_;
    QLabel* home_;
    QLabel* executable_;
    QLabel* same_;
    WarningLine* errorLine_;
    QPushButton* up_;
    QPushButton* down_;
    QPushButton* remove_;
};

}  // namespace quotalume
