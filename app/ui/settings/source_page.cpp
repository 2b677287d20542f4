#include "settings/source_page.hpp"

#include "monitor_bridge.hpp"
#include "settings/accounts_section.hpp"
#include "settings/label_editor.hpp"
#include "settings/new_source_form.hpp"
#include "settings/settings_form.hpp"
#include "settings/source_editing.hpp"

#include <quotalume/codex/codex_locator.hpp>
#include <quotalume/l10n/l10n.hpp>

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <exception>
#include <tuple>

namespace quotalume {
namespace {

QString qstring(const std::string& text) {
    return QString::fromStdString(text);
}

// Where the chooser opens: beside the executable already named, else where installs go.
QString startFolder(const QString& typed) {
    const QFileInfo file(QDir::cleanPath(typed.trimmed()));
    if (!typed.trimmed().isEmpty() && file.isAbsolute() && file.dir().exists()) {
        return file.dir().path();
    }
    const QString installs = QStringLiteral("/usr/local/bin");
    return QFileInfo(installs).isDir() ? installs : QDir::homePath();
}

}  // namespace

SourcePage::SourcePage(MonitorBridge& bridge, QWidget* parent) : QWidget(parent), bridge_(bridge) {
    setObjectName(QStringLiteral("settings.source"));
    auto* layout = new QVBoxLayout(this);
    form_ = SettingsForm::addSection(this, "source.custom_section", section_);

    const Settings& settings = bridge_.monitor().settings();
    shownPath_ = settings.codexPath;
    shownHome_ = settings.codexHome;
    executable_ = new QLineEdit(qstring(settings.codexPath), section_);
    executable_->setObjectName(QStringLiteral("source.executable"));
    choose_ = new QPushButton(section_);
    choose_->setObjectName(QStringLiteral("source.choose"));
    auto* executableRow = new QHBoxLayout;
    executableRow->addWidget(executable_, 1);
    executableRow->addWidget(choose_);

    suggestions_ = new QWidget(section_);
    suggestions_->setObjectName(QStringLiteral("source.suggestions"));
    suggestionRows_ = new QVBoxLayout(suggestions_);
    suggestionRows_->setContentsMargins(0, 0, 0, 0);

    home_ = new QLineEdit(qstring(settings.codexHome), section_);
    home_->setObjectName(QStringLiteral("source.home"));
    current_ = SettingsForm::caption(section_, "source.current");
    current_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    save_ = new QPushButton(section_);
    save_->setObjectName(QStringLiteral("source.save"));
    auto* saveRow = new QHBoxLayout;
    saveRow->addStretch();
    saveRow->addWidget(save_);
    feedback_ = SettingsForm::caption(section_, "source.feedback");

    executableLabel_ = new QLabel(section_);
    homeLabel_ = new QLabel(section_);
    form_->addRow(executableLabel_, executableRow);
    form_->addRow(QString(), suggestions_);
    form_->addRow(homeLabel_, home_);
    form_->addRow(current_);
    form_->addRow(saveRow);
    form_->addRow(feedback_);
    // Renamed on its own: Save and Connect reads again, a new label needs no reading.
    labelLabel_ = new QLabel(section_);
    label_ = new LabelEditor(section_);
    label_->setObjectName(QStringLiteral("source.first_label"));
    form_->addRow(labelLabel_, label_);
    executableLabel_->setBuddy(executable_);
    homeLabel_->setBuddy(home_);
    labelLabel_->setBuddy(label_);
    // Return in the fields above saves and connects; the label editor renames.
    SettingsForm::setDefaultButton(section_, save_);
    accounts_ = new AccountsSection(bridge_, this);
    layout->addWidget(accounts_);
    newSource_ = new NewSourceForm(bridge_, this);
    layout->addWidget(newSource_);
    layout->addStretch();

    connect(choose_, &QPushButton::clicked, this, &SourcePage::choose);
    connect(label_, &LabelEditor::renameRequested, this, [this](const QString& label) {
        label_->showProblem(
            SourceEditing(bridge_.monitor().preferences()).rename(0, label.toStdString()));
        refresh();
    });
    connect(save_, &QPushButton::clicked, this, [this] {
        bridge_.monitor().saveAndConnect(executable_->text().toStdString(),
                                         home_->text().toStdString());
    });

    retranslate();
    refresh();
}

void SourcePage::retranslate() {
    section_->setTitle(SettingsForm::text("source.custom_section"));
    executableLabel_->setText(SettingsForm::text("source.executable"));
    homeLabel_->setText(SettingsForm::text("source.home"));
    executable_->setPlaceholderText(SettingsForm::text("source.automatic"));
    home_->setPlaceholderText(SettingsForm::text("source.default_home"));
    choose_->setText(SettingsForm::text("source.choose"));
    save_->setText(SettingsForm::text("source.save"));
    labelLabel_->setText(SettingsForm::text("source.label_field"));
    label_->retranslate();
    accounts_->retranslate();
    newSource_->retranslate();
    showFindings();
}

void SourcePage::refresh() {
    const Settings& settings = bridge_.monitor().settings();
    for (auto [field, shown, saved] : {std::tuple{executable_, &shownPath_, &settings.codexPath},
                                       std::tuple{home_, &shownHome_, &settings.codexHome}}) {
        if (*saved != *shown) {
            if (field->text() == qstring(*shown)) {
                field->setText(qstring(*saved));
            }
            *shown = *saved;
        }
    }
    SettingsForm::show(feedback_, bridge_.monitor().readings().sourceConnection().message());
    label_->setLabel(bridge_.monitor().preferences().current().sources.firstLabel);
    accounts_->refresh();
    newSource_->refresh();
}

void SourcePage::rescan() {
    try {
        detected_ = CodexLocator::executable("");
    } catch (const std::exception&) {
        detected_.clear();
    }
    found_ = CodexLocator::suggestions();
    showFindings();
}

void SourcePage::showFindings() {
    current_->setText(detected_.empty() ? QString()
                                        : qstring(L10n::text("source.current", detected_)));
    current_->setVisible(!detected_.empty());

    while (QLayoutItem* item = suggestionRows_->takeAt(0)) {
        delete item->widget();
        delete item->layout();
        delete item;
    }
    for (const std::string& path : found_) {
        auto* row = new QWidget(suggestions_);
        row->setObjectName(QStringLiteral("source.suggestion"));
        auto* rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(0, 0, 0, 0);
        QLabel* text = SettingsForm::caption(row, "source.found");
        text->setText(qstring(L10n::text("source.found", path)));
        text->setTextInteractionFlags(Qt::TextSelectableByMouse);
        auto* use = new QPushButton(SettingsForm::text("source.use"), row);
        use->setObjectName(QStringLiteral("source.use"));
        use->setToolTip(qstring(path));
        rowLayout->addWidget(text, 1);
        rowLayout->addWidget(use);
        connect(use, &QPushButton::clicked, this,
                [this, path = qstring(path)] { executable_->setText(path); });
        suggestionRows_->addWidget(row);
    }
    form_->setRowVisible(suggestions_, !found_.empty());
}

void SourcePage::choose() {
    auto* dialog = new QFileDialog(window(), SettingsForm::text("source.choose"),
                                   startFolder(executable_->text()));
    dialog->setObjectName(QStringLiteral("source.chooser"));
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    connect(dialog, &QFileDialog::fileSelected, this,
            [this](const QString& file) { executable_->setText(file); });
    dialog->open();
}

}  // namespace quotalume
