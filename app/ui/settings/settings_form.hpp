#pragma once

#include <quotalume/l10n/localized_message.hpp>

#include <QString>

#include <optional>
#include <string>
#include <string_view>

class QAbstractButton;
class QFormLayout;
class QGroupBox;
class QLabel;
class QWidget;

namespace quotalume {

// The pieces every settings page is made of.
class SettingsForm {
public:
    SettingsForm() = delete;

    // The text of `key` in the current language.
    static QString text(std::string_view key);

    // A titled group holding a form, added to `page`'s vertical layout.
    static QFormLayout* addSection(QWidget* page, const char* objectName, QGroupBox*& box);
    // A row of `form` whose label (without text yet) names `field`, to the eye and, as its
    // buddy, to a screen reader.
    static QLabel* addLabelledRow(QFormLayout* form, QWidget* field);
    // The text of `key` on the label of `field`'s row in `form`.
    static void setLabel(QFormLayout* form, QWidget* field, std::string_view key);

    // As in a dialog, Return (or Enter) that no control inside `scope` takes presses the
    // focused push button, else `button` when there is one; a scope inside `scope` answers
    // first.
    static void setDefaultButton(QWidget* scope, QAbstractButton* button);

    // Small secondary text that wraps.
    static QLabel* caption(QWidget* parent, const char* objectName);
    // Shows the message in the current language, or hides the caption when there is none.
    static void show(QLabel* caption, const std::optional<LocalizedMessage>& message);
};

}  // namespace quotalume
