#pragma once

#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <filesystem>
#include <optional>

class QLabel;
class QPushButton;
class QToolButton;

namespace quotalume {

class LicenseView;

// The About page: logo, name, tagline and version, links to the web site and the source, the
// author and the licence, and a button to post a thank-you.
class AboutView : public QWidget {
    Q_OBJECT

public:
    // The licence sheet shows the shipped LICENSE file.
    explicit AboutView(QWidget* parent = nullptr);
    // The licence sheet shows `licenseFile` (nothing: the licence is not available).
    explicit AboutView(std::optional<std::filesystem::path> licenseFile, QWidget* parent = nullptr);

    // Renders every text again in the current language.
    void retranslate();

    // The product web site in the current language.
    static QUrl websiteURL();
    static QUrl sourceURL();

    // The licence sheet while it is open.
    LicenseView* licenseSheet() const { return license_; }
    bool showingLicense() const { return license_ != nullptr; }
    void showLicense();

protected:
    void changeEvent(QEvent* event) override;

private:
    // Colours and icons drawn from the palette.
    void restyle();

    std::optional<std::filesystem::path> licenseFile_;
    QLabel* tagline_;
    QLabel* version_;
    QPushButton* website_;
    QPushButton* source_;
    QLabel* authorTitle_;
    QLabel* author_;
    QLabel* licenseTitle_;
    QToolButton* licenseLink_;
    QPushButton* thanks_;
    QPointer<LicenseView> license_;
};

}  // namespace quotalume
