#include "about/about_view.hpp"

#include "about/license_view.hpp"
#include "about/link_opener.hpp"
#include "about_links.hpp"
#include "style/brand_assets.hpp"
#include "style/brand_logo.hpp"

#include <quotalume/l10n/app_language.hpp>
#include <quotalume/l10n/l10n.hpp>
#include <quotalume/reset/reset_event.hpp>
#include <quotalume/version.hpp>

#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <initializer_list>
#include <string_view>

namespace quotalume {
namespace {

constexpr int logoSize = 80;
constexpr int markSize = 14;

QString translated(std::string_view key) {
    return QString::fromStdString(L10n::text(key));
}

QUrl constantURL(const char* text) {
    return QUrl(QString::fromUtf8(text), QUrl::StrictMode);
}

// Sizes relative to the body text, as the platform's text styles are.
QFont scaledFont(QFont font, qreal factor) {
    font.setPointSizeF(font.pointSizeF() * factor);
    return font;
}
constexpr qreal calloutScale = 0.95;
constexpr qreal captionScale = 0.88;

QIcon themeIcon(std::initializer_list<const char*> names, const QIcon& fallback) {
    for (const char* name : names) {
        QIcon icon = QIcon::fromTheme(QString::fromLatin1(name));
        if (!icon.isNull()) {
            return icon;
        }
    }
    return fallback;
}

// A template mark in the button's text colour.
QIcon markIcon(const QImage& mark, const QPalette& palette) {
    if (mark.isNull()) {
        return {};
    }
    return QIcon(QPixmap::fromImage(
        BrandAssets::tinted(mark, palette.color(QPalette::Active, QPalette::ButtonText))));
}

QLabel* secondaryLabel(QWidget* parent, const QFont& font) {
    auto* label = new QLabel(parent);
    label->setFont(font);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

}  // namespace

AboutView::AboutView(QWidget* parent)
    : AboutView(BrandAssets::resourcePath(QStringLiteral("LICENSE")), parent) {}

AboutView::AboutView(std::optional<std::filesystem::path> licenseFile, QWidget* parent)
    : QWidget(parent), licenseFile_(std::move(licenseFile)) {
    setMinimumWidth(360);
    const QFont callout = scaledFont(font(), calloutScale);
    const QFont caption = scaledFont(font(), captionScale);

    auto* name = new QLabel(QStringLiteral("Quotalume"), this);
    QFont title = font();
    title.setPointSizeF(28);
    title.setBold(true);
    name->setFont(title);

    tagline_ = secondaryLabel(this, callout);
    tagline_->setObjectName(QStringLiteral("tagline"));
    tagline_->setWordWrap(true);
    tagline_->setAlignment(Qt::AlignHCenter);

    version_ = secondaryLabel(this, caption);
    version_->setObjectName(QStringLiteral("version"));
    version_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);

    website_ = new QPushButton(this);
    website_->setObjectName(QStringLiteral("website"));
    website_->setIconSize(QSize(markSize, markSize));
    connect(website_, &QPushButton::clicked, this, [] { LinkOpener::open(websiteURL()); });

    source_ = new QPushButton(QStringLiteral("GitHub"), this);
    source_->setObjectName(QStringLiteral("source"));
    source_->setIconSize(QSize(markSize, markSize));
    connect(source_, &QPushButton::clicked, this, [] { LinkOpener::open(sourceURL()); });

    auto* links = new QHBoxLayout;
    links->setSpacing(8);
    links->addWidget(website_);
    links->addWidget(source_);

    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setForegroundRole(QPalette::Mid);

    authorTitle_ = secondaryLabel(this, caption);
    author_ = new QLabel(this);
    author_->setObjectName(QStringLiteral("author"));
    author_->setFont(caption);
    author_->setTextFormat(Qt::RichText);
    author_->setTextInteractionFlags(Qt::TextBrowserInteraction);
    connect(author_, &QLabel::linkActivated, this,
            [](const QString& link) { LinkOpener::open(QUrl(link, QUrl::StrictMode)); });

    licenseTitle_ = secondaryLabel(this, caption);
    licenseLink_ = new QToolButton(this);
    licenseLink_->setObjectName(QStringLiteral("license"));
    licenseLink_->setText(QStringLiteral("MIT"));
    licenseLink_->setFont(caption);
    licenseLink_->setAutoRaise(true);
    licenseLink_->setCursor(Qt::PointingHandCursor);
    connect(licenseLink_, &QToolButton::clicked, this, &AboutView::showLicense);

    auto* facts = new QGridLayout;
    facts->setHorizontalSpacing(8);
    facts->setVerticalSpacing(2);
    facts->addWidget(authorTitle_, 0, 0, Qt::AlignRight | Qt::AlignVCenter);
    facts->addWidget(author_, 0, 1, Qt::AlignLeft | Qt::AlignVCenter);
    facts->addWidget(licenseTitle_, 1, 0, Qt::AlignRight | Qt::AlignVCenter);
    facts->addWidget(licenseLink_, 1, 1, Qt::AlignLeft | Qt::AlignVCenter);

    thanks_ = new QPushButton(this);
    thanks_->setObjectName(QStringLiteral("thanks"));
    thanks_->setIcon(themeIcon({"thumbs-up", "thumb-up", "emblem-favorite"}, QIcon()));
    connect(thanks_, &QPushButton::clicked, this, [] {
        LinkOpener::open(
            QUrl(QString::fromStdString(ZenthoThanks::composeURL()), QUrl::StrictMode));
    });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 28, 24, 28);
    layout->setSpacing(0);
    layout->addWidget(new BrandLogo(logoSize, this), 0, Qt::AlignHCenter);
    layout->addSpacing(14);
    layout->addWidget(name, 0, Qt::AlignHCenter);
    layout->addSpacing(6);
    layout->addWidget(tagline_);
    layout->addSpacing(6);
    layout->addWidget(version_, 0, Qt::AlignHCenter);
    layout->addSpacing(18);
    layout->addLayout(links);
    layout->setAlignment(links, Qt::AlignHCenter);
    layout->addSpacing(18);
    layout->addWidget(divider);
    layout->addSpacing(14);
    layout->addLayout(facts);
    layout->setAlignment(facts, Qt::AlignHCenter);
    layout->addSpacing(18);
    layout->addWidget(thanks_, 0, Qt::AlignHCenter);

    retranslate();
    restyle();
}

void AboutView::retranslate() {
    tagline_->setText(translated("app.tagline"));
    const std::string_view version = quotalumeVersion;
    version_->setText(QString::fromStdString(
        L10n::text("about.version", version.empty() ? std::string("—") : std::string(version))));
    website_->setText(translated("about.website"));
    authorTitle_->setText(translated("about.author"));
    licenseTitle_->setText(translated("about.license"));
    thanks_->setText(translated("thanks.button"));
    thanks_->setToolTip(translated("thanks.help"));
}

QUrl AboutView::websiteURL() {
    QUrl url = constantURL(about_links::website);
    QString path = url.path();
    while (path.endsWith(u'/')) {
        path.chop(1);
    }
    url.setPath(path + QString::fromStdString(websitePath(L10n::language())));
    return url;
}

QUrl AboutView::sourceURL() {
    return constantURL(about_links::source);
}

void AboutView::showLicense() {
    if (license_ != nullptr) {
        license_->raise();
        license_->activateWindow();
        return;
    }
    license_ = new LicenseView(licenseFile_, this);
    license_->setAttribute(Qt::WA_DeleteOnClose);
    license_->setWindowModality(Qt::WindowModal);
    license_->open();
}

void AboutView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) {
        restyle();
    }
    QWidget::changeEvent(event);
}

void AboutView::restyle() {
    // The icon theme's globe when it has one, else ours in the text colour.
    const QIcon globe = themeIcon({"globe", "web-browser-symbolic", "web-browser"}, QIcon());
    website_->setIcon(globe.isNull() ? markIcon(BrandAssets::globeMark(), palette()) : globe);
    source_->setIcon(markIcon(BrandAssets::githubMark(), palette()));
    // Rich text takes its link colour when it is set, not when the palette changes.
    author_->setText(
        QStringLiteral("<a href=\"%1\" style=\"color: %2; text-decoration: none;\">%3</a>")
            .arg(constantURL(about_links::author).toString(QUrl::FullyEncoded).toHtmlEscaped(),
                 palette().color(QPalette::Link).name(),
                 QString::fromUtf8(about_links::authorHandle).toHtmlEscaped()));
    // The handle starts where the button's text does, so the two values line up.
    const int inset = (licenseLink_->sizeHint().width() -
                       licenseLink_->fontMetrics().horizontalAdvance(licenseLink_->text())) /
                      2;
    author_->setIndent(std::max(inset, 0));
    // Only the text colour is the button's own; everything else still comes from the page.
    QPalette link;
    link.setColor(QPalette::ButtonText, palette().color(QPalette::Link));
    licenseLink_->setPalette(link);
}

}  // namespace quotalume
