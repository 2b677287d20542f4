#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QString>

#include <filesystem>
#include <optional>

namespace quotalume {

// The brand images, each loaded once on first use, and the files shipped beside the program.
class BrandAssets {
public:
    BrandAssets() = delete;

    // The application logo (256 × 256) from the program's resources; else the theme's
    // "quotalume" icon; else a null image.
    static const QImage& logo();
    // The source-code mark: black on transparent, to be drawn in a text colour (`tinted`).
    // Null when missing.
    static const QImage& githubMark();
    // A globe in the same manner, for web-site links when the icon theme has none.
    static const QImage& globeMark();
    // The application icon in all its sizes, for windows and the tray.
    static const QIcon& menuBarIcon();

    // `image` with every pixel in `color`, keeping its alpha.
    static QImage tinted(const QImage& image, const QColor& color);

    // A file shipped with the program, like the licence: <exe dir>/../share/quotalume/NAME
    // for installs and build trees alike, else the build tree's share folder. Nothing when
    // neither holds it.
    static std::optional<std::filesystem::path> resourcePath(const QString& name);
};

}  // namespace quotalume
