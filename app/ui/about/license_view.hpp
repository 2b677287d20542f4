#pragma once

#include <QDialog>
#include <QString>

#include <cstddef>
#include <filesystem>
#include <optional>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace quotalume {

// The licence sheet: the text of the shipped licence file, read-only and selectable, and a
// Done button; Escape closes it too.
class LicenseView : public QDialog {
    Q_OBJECT

public:
    // Larger files are not a licence we shipped.
    static constexpr std::size_t maximumFileSize = 64 * 1024;

    // `licenseFile` nothing: the licence is not available.
    explicit LicenseView(std::optional<std::filesystem::path> licenseFile,
                         QWidget* parent = nullptr);

    // The file's UTF-8 text; when it is missing, unreadable, too large or not UTF-8, the
    // "license unavailable" text in the current language.
    static QString licenseText(const std::optional<std::filesystem::path>& licenseFile);

    // What the sheet shows: the licence text with its paragraphs joined into lines.
    QString text() const;
    QPushButton* doneButton() const { return done_; }

private:
    QPlainTextEdit* text_;
    QPushButton* done_;
};

}  // namespace quotalume
