#pragma once

#include <QWidget>

#include <string>
#include <vector>

class QFormLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

namespace quotalume {

class AccountsSection;
class LabelEditor;
class MonitorBridge;
class NewSourceForm;

// Where Codex is: the executable and its home folder, with the executables found in the usual
// install places offered for one click. Nothing is adopted until Save. Below, the first source's
// label and the other accounts watched beside it.
class SourcePage final : public QWidget {
    Q_OBJECT

public:
    explicit SourcePage(MonitorBridge& bridge, QWidget* parent = nullptr);

    void retranslate();
    void refresh();
    // Looks at the file system: what automatic detection finds and the suggestions. Nothing is
    // found until the first call; the window makes it each time it is shown.
    void rescan();

private:
    void choose();
    void showFindings();

    MonitorBridge& bridge_;
    QGroupBox* section_;
    QFormLayout* form_;
    QLabel* executableLabel_;
    QLineEdit* executable_;
    QPushButton* choose_;
    QWidget* suggestions_;
    QVBoxLayout* suggestionRows_;
    QLabel* homeLabel_;
    QLineEdit* home_;
    // The saved source the fields were last filled from: a change saved elsewhere (the
    // dashboard's offer) replaces what the user has not edited, so Save cannot put it back.
    std::string shownPath_;
    std::string shownHome_;
    QLabel* current_;
    QPushButton* save_;
    QLabel* feedback_;
    QLabel* labelLabel_;
    LabelEditor* label_;
    AccountsSection* accounts_;
    NewSourceForm* newSource_;
    std::string detected_;
    std::vector<std::string> found_;
};

}  // namespace quotalume
