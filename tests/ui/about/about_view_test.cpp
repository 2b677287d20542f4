#include "about/about_view.hpp"
#include "about/license_view.hpp"
#include "about/link_opener.hpp"
#include "monitor_harness.hpp"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QPushButton>

namespace quotalume {
namespace {

using test::find;

// Links the view opens, instead of a browser.
struct CapturedLinks {
    ~CapturedLinks() { LinkOpener::setHandler(std::move(previous)); }

    std::vector<QUrl> urls;
    LinkOpener::Handler previous =
        LinkOpener::setHandler([this](const QUrl& url) { urls.push_back(url); });
};

TEST(AboutViewTest, OpensItsLinksInTheCurrentLanguageAndItsLicenceSheet) {
    const test::InterfaceLanguage language(AppLanguage::german);
    CapturedLinks links;
    AboutView view(std::nullopt);
    view.show();
    for (const char* button : {"website", "source", "thanks"}) {
        find<QAbstractButton>(view, button)->click();
    }
    ASSERT_EQ(links.urls.size(), 3u);
    EXPECT_EQ(links.urls[0].toString().toStdString(), QUOTALUME_TEST_WEBSITE_URL "/de/");
    EXPECT_EQ(links.urls[1].toString().toStdString(), QUOTALUME_TEST_SOURCE_URL);
    EXPECT_EQ(links.urls[2].toEncoded().toStdString(), ZenthoThanks::composeURL());

    // The licence sheet shows the view's file and closes with Escape or Done, to open again.
    for (const bool escape : {true, false}) {
        SCOPED_TRACE(escape ? "Escape" : "Done");
        find<QAbstractButton>(view, "license")->click();
        ASSERT_TRUE(view.showingLicense());
        LicenseView* sheet = view.licenseSheet();
        EXPECT_TRUE(sheet->isVisible());
        EXPECT_EQ(sheet->text(), test::text("about.license_unavailable"));
        if (escape) {
            QKeyEvent key(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QCoreApplication::sendEvent(sheet, &key);
        } else {
            sheet->doneButton()->click();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_FALSE(view.showingLicense());
    }
}

TEST(LicenseViewTest, ShowsTheLicenceFileOrSaysItIsUnavailable) {
    const test::TempDir folder;
    const QString unavailable = test::text("about.license_unavailable");
    const struct {
        const char* name;
        std::optional<std::filesystem::path> file;
        QString shown;
    } rows[] = {
        {"UTF-8 text, paragraphs joined",
         folder.write("LICENSE",
                      "MIT License\n\nCopyright © 2026 Somebody\r\nand others.\n  indented\n"),
         QStringLiteral("MIT License\n\nCopyright © 2026 Somebody and others.\n  indented\n")},
        {"missing", folder.path() / "absent", unavailable},
        {"no file at all", std::nullopt, unavailable},
        {"not UTF-8", folder.write("latin1", "Copyright \xa9 2026\n"), unavailable},
        {"a folder", folder.path(), unavailable},
        {"too large", folder.write("large", std::string(LicenseView::maximumFileSize + 1, 'a')),
         unavailable},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(LicenseView(row.file).text().toStdString(), row.shown.toStdString()) << row.name;
    }
}

}  // namespace
}  // namespace quotalume
