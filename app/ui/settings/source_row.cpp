#include "settings/source_row.hpp"

#include "settings/label_editor.hpp"
#include "settings/settings_form.hpp"
#include "widgets/warning_line.hpp"

#include <quotalume/l10n/l10n.hpp>
#include <quotalume/support/text.hpp>

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace quotalume {
namespace {

QString qtext(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

SourceRow::SourceRow(QWidget* parent) : QFrame(parent) {
    setObjectName(QStringLiteral("source.row"));
    setFrameShape(QFrame::StyledPanel);
    auto* column = new QVBoxLayout(this);
    label_ = new LabelEditor(this);
    column->addWidget(label_);
    home_ = SettingsForm::caption(this, "source.row_home");
    executable_ = SettingsForm::caption(this, "source.row_executable");
    same_ = SettingsForm::caption(this, "source.same_as");
    for (QLabel* caption : {home_, executable_, same_}) {
        caption->setTextInteractionFlags(Qt::TextSelectableByMouse);
        column->addWidget(caption);
    }
    // Under the dashboard's warning sign, as the same failure is shown there.
    errorLine_ = new WarningLine(this);
    errorLine_->setObjectName(QStringLiteral("source.row_error"));
    column->addWidget(errorLine_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    up_ = new QPushButton(this);
    up_->setObjectName(QStringLiteral("source.move_up"));
    down_ = new QPushButton(this);
    down_->setObjectName(QStringLiteral("source.move_down"));
    remove_ = new QPushButton(this);
    remove_->setObjectName(QStringLiteral("source.remove"));
    for (QPushButton* button : {up_, down_, remove_}) {
        buttons->addWidget(button);
    }
    column->addLayout(buttons);

    connect(up_, &QPushButton::clicked, this, [this] { Q_EMIT moveRequested(-1); });
    connect(down_, &QPushButton::clicked, this, [this] { Q_EMIT moveRequested(1); });
    connect(remove_, &QPushButton::clicked, this, [this] { Q_EMIT removeRequested(); });
}

void SourceRow::present(const AccountSource& source, bool first, bool last) {
    up_->setEnabled(!first);
    down_->setEnabled(!last);
    if (source == source_) {
        return;
    }
    if (source.label != source_.label) {
        label_->showProblem(std::nullopt);
    }
    source_ = source;
    label_->setLabel(source.label);
    retranslate();
}

void SourceRow::showReading(std::optional<std::string> sameAs,
                            std::optional<LocalizedMessage> error) {
    if (sameAs == sameAs_ && error == error_) {
        return;  // the views publish far more often than a reading changes
    }
    sameAs_ = std::move(sameAs);
    error_ = std::move(error);
    retranslate();
}

void SourceRow::retranslate() {
    const std::string& label = source_.label;
    setAccessibleName(qtext(label));
    label_->retranslate();
    // Stored paths are shown escaped: a control character in one cannot pass for another line.
    home_->setText(qtext(source_.codexHome.empty()
                             ? L10n::text("source.row_default_home")
                             : L10n::text("source.row_home", escapedLine(source_.codexHome))));
    executable_->setText(
        qtext(source_.codexPath.empty()
                  ? L10n::text("source.row_automatic")
                  : L10n::text("source.row_executable", escapedLine(source_.codexPath))));
    same_->setText(sameAs_ ? qtext(L10n::text("source.same_as", *sameAs_)) : QString());
    same_->setVisible(sameAs_.has_value());
    errorLine_->setMessage(error_);
    up_->setText(SettingsForm::text("source.move_up"));
    down_->setText(SettingsForm::text("source.move_down"));
    remove_->setText(SettingsForm::text("source.remove"));
    up_->setAccessibleName(qtext(L10n::text("source.move_up_named", label)));
    down_->setAccessibleName(qtext(L10n::text("source.move_down_named", label)));
    remove_->setAccessibleName(qtext(L10n::text("source.remove_named", label)));
}

void SourceRow::focusMove(int by) {
    QPushButton* same = by < 0 ? up_ : down_;
    (same->isEnabled() ? same : (by < 0 ? down_ : up_))->setFocus(Qt::TabFocusReason);
}

void SourceRow::focusRemove() {
    remove_->setFocus(Qt::TabFocusReason);
}

}  // namespace quotalume
