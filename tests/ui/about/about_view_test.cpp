#include "about/about_view.hpp"
#include "about/license_view.hpp"
#include "about/link_opener.hpp"

#include <quotalume/app_language.hpp>
#include <quotalume/l10n.hpp>
#include <quotalume/preferences_store.hpp>
#include <quotalume/reset_event.hpp>
#include <quotalume/version.hpp>

#include <QCoreApplication>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quotalume {
namespace {

// The interface language for one test, kept in memory rather than the user's preferences.
class ScopedLanguage {
public:
    explicit ScopedLanguage(AppLanguage language)
        : preferences_(std::make_shared<MemoryPreferencesStore>()) {
        L10n::setPreference(language);
    }

private:
    ScopedStandardPreferences preferences_;
};

// Links the view opens, instead of a browser.
class CapturedLinks {
public:
    CapturedLinks()
        : previous_(LinkOpener::setHandler([this](const QUrl& url) { urls.push_back(url); })) {}
    ~CapturedLinks() { LinkOpener::setHandler(std::move(previous_)); }

    std::vector<QUrl> urls;

private:
    LinkOpener::Handler previous_;
};

template <typename Widget>
Widget* child(const QWidget& view, const char* name) {
    auto* widget = view.findChild<Widget*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

QString unavailableIn(AppLanguage language) {
    return QString::fromStdString(L10n::text("about.license_unavailable", language));
}

std::string text(const QString& text) {
    return text.toStdString();
}

struct LanguageCase {
    AppLanguage language;
    std::string version;
    std::string website;
    std::string authorTitle;
    std::string license;
    std::string thanks;
    std::string thanksHelp;
    std::string websitePath;
};

TEST(AboutViewTest, ShowsItsTextsAndOpensItsLinksInTheCurrentLanguage) {
    const std::string version = quotalumeVersion;
    const std::vector<LanguageCase> cases = {
        {AppLanguage::english, "Version " + version, "Website", "Author", "License", "Say Thanks",
         "Post a thank-you for the limit reset", "/"},
        {AppLanguage::german, "Version " + version, "Website", "Autor", "Lizenz", "Danke sagen",
         "Einen Dankesbeitrag für die Zurücksetzung posten", "/de/"},
    };
    for (const LanguageCase& row : cases) {
        SCOPED_TRACE(std::string(rawValue(row.language)));
        ScopedLanguage language(row.language);
        CapturedLinks links;
        AboutView view;

        EXPECT_EQ(text(child<QLabel>(view, "version")->text()), row.version);
        EXPECT_TRUE(child<QLabel>(view, "version")->textInteractionFlags() &
                    Qt::TextSelectableByMouse);
        EXPECT_EQ(text(child<QPushButton>(view, "website")->text()), row.website);
        EXPECT_EQ(text(child<QPushButton>(view, "source")->text()), "GitHub");
        EXPECT_EQ(text(child<QToolButton>(view, "license")->text()), "MIT");
        EXPECT_EQ(text(child<QPushButton>(view, "thanks")->text()), row.thanks);
        EXPECT_EQ(text(child<QPushButton>(view, "thanks")->toolTip()), row.thanksHelp);
        QStringList labels;
        for (const QLabel* label : view.findChildren<QLabel*>()) {
            labels << label->text();
        }
        EXPECT_TRUE(labels.contains(QString::fromStdString(row.authorTitle)))
            << text(labels.join('|'));
        EXPECT_TRUE(labels.contains(QString::fromStdString(row.license))) << text(labels.join('|'));
        EXPECT_TRUE(child<QLabel>(view, "author")->text().contains(QUOTALUME_TEST_AUTHOR_HANDLE));

        child<QPushButton>(view, "website")->click();
        child<QPushButton>(view, "source")->click();
        child<QPushButton>(view, "thanks")->click();
        ASSERT_EQ(links.urls.size(), 3u);
        EXPECT_EQ(text(links.urls[0].toString()), QUOTALUME_TEST_WEBSITE_URL + row.websitePath);
        EXPECT_EQ(text(links.urls[1].toString()), QUOTALUME_TEST_SOURCE_URL);
        EXPECT_EQ(links.urls[2].toEncoded().toStdString(), ZenthoThanks::composeURL());
    }
}

TEST(LicenseViewTest, ShowsTheLicenceFileOrSaysItIsUnavailable) {
    ScopedLanguage language(AppLanguage::german);
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const auto write = [&](const char* name, const QByteArray& bytes) {
        QFile file(folder.filePath(QString::fromLatin1(name)));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return std::filesystem::path(file.fileName().toStdString());
    };
    const QString licence =
        QStringLiteral("MIT License\n\nCopyright © 2026 Somebody\r\nand others.\n  indented\n");
    const QString unavailable = unavailableIn(AppLanguage::german);
    const struct {
        const char* name;
        std::optional<std::filesystem::path> file;
        QString shown;
    } cases[] = {
        {"UTF-8 text, paragraphs joined", write("LICENSE", licence.toUtf8()),
         QStringLiteral("MIT License\n\nCopyright © 2026 Somebody and others.\n  indented\n")},
        {"missing", std::filesystem::path(folder.filePath("absent").toStdString()), unavailable},
        {"no file at all", std::nullopt, unavailable},
        {"not UTF-8", write("latin1", "Copyright \xa9 2026\n"), unavailable},
        {"a folder", std::filesystem::path(folder.path().toStdString()), unavailable},
        {"too large", write("large", QByteArray(qsizetype(LicenseView::maximumFileSize) + 1, 'a')),
         unavailable},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        LicenseView sheet(row.file);
        EXPECT_EQ(text(sheet.text()), text(row.shown));
        EXPECT_EQ(text(sheet.doneButton()->text()), "Fertig");
        EXPECT_TRUE(sheet.doneButton()->isDefault());
        EXPECT_EQ(sheet.size(), QSize(460, 520));
    }
}

TEST(LicenseViewTest, OpensFromTheAboutViewAndClosesWithEscapeOrDone) {
    ScopedLanguage language(AppLanguage::english);
    const struct {
        const char* name;
        std::function<void(LicenseView&)> close;
    } cases[] = {
        {"Escape",
         [](LicenseView& sheet) {
             QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
             QCoreApplication::sendEvent(&sheet, &escape);
         }},
        {"Done", [](LicenseView& sheet) { sheet.doneButton()->click(); }},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        AboutView view(std::nullopt);
        view.show();
        child<QToolButton>(view, "license")->click();
        ASSERT_TRUE(view.showingLicense());
        LicenseView* sheet = view.licenseSheet();
        EXPECT_TRUE(sheet->isVisible());
        EXPECT_EQ(text(sheet->text()), text(unavailableIn(AppLanguage::english)));

        row.close(*sheet);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_FALSE(view.showingLicense());
    }
}

}  // namespace
}  // namespace quotalume
