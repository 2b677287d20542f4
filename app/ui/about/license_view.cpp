#include "about/license_view.hpp"

#include <quotalume/l10n/l10n.hpp>
#include <quotalume/support/private_file.hpp>

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringDecoder>
#include <QVBoxLayout>

#include <exception>
#include <string>

namespace quotalume {
namespace {

QString unavailable() {
    return QString::fromStdString(L10n::text("about.license_unavailable"));
}

// Hard-wrapped paragraphs are joined so that the sheet wraps them to its own width; blank lines
// and lines that start indented keep their breaks.
QString reflowed(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    const QStringList lines = text.split(u'\n');
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const bool last = i + 1 == lines.size();
        const bool joined = !last && !lines[i].trimmed().isEmpty() &&
                            !lines[i + 1].trimmed().isEmpty() && !lines[i + 1].front().isSpace();
        if (joined) {
            QStringView line = lines[i];
            while (line.back().isSpace()) {
                line.chop(1);
            }
            out += line;
            out += u' ';
        } else {
            out += lines[i];
            if (!last) {
                out += u'\n';
            }
        }
    }
    return out;
}

}  // namespace

LicenseView::LicenseView(std::optional<std::filesystem::path> licenseFile, QWidget* parent)
    : QDialog(parent), text_(new QPlainTextEdit(this)), done_(new QPushButton(this)) {
    const QString title = QStringLiteral("MIT License");
    setWindowTitle(title);
    setFixedSize(460, 520);

    auto* heading = new QLabel(title, this);
    QFont headline = heading->font();
    headline.setBold(true);
    heading->setFont(headline);

    QFont callout = text_->font();
    callout.setPointSizeF(callout.pointSizeF() * 12.0 / 13.0);
    text_->setFont(callout);
    text_->setReadOnly(true);
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    text_->setPlainText(reflowed(licenseText(licenseFile)));

    done_->setText(QString::fromStdString(L10n::text("common.done")));
    done_->setDefault(true);
    connect(done_, &QPushButton::clicked, this, &QDialog::accept);
    // Keys go to the button first, so Return and Escape work at once and no caret blinks in
    // the text.
    done_->setFocus();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(16);
    layout->addWidget(heading);
    layout->addWidget(text_, 1);
    layout->addWidget(done_, 0, Qt::AlignRight);
}

QString LicenseView::licenseText(const std::optional<std::filesystem::path>& licenseFile) {
    if (!licenseFile) {
        return unavailable();
    }
    std::optional<std::string> bytes;
    try {
        bytes = readSmallFile(*licenseFile, maximumFileSize);
    } catch (const std::exception&) {
        // A folder, a device or an oversized file in its place: no licence of ours.
        return unavailable();
    }
    if (!bytes) {
        return unavailable();
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(QByteArrayView(bytes->data(), qsizetype(bytes->size())));
    if (decoder.hasError() || text.trimmed().isEmpty()) {
        return unavailable();
    }
    return text;
}

QString LicenseView::text() const {
    return text_->toPlainText();
}

}  // namespace quotalume
