#include "style/brand_assets.hpp"

#include <QPainter>

#include <array>
#include <system_error>

namespace quotalume {
namespace {

namespace fs = std::filesystem;

constexpr std::array<int, 8> iconSizes = {16, 22, 24, 32, 48, 64, 128, 256};

QImage loadLogo() {
    QImage image(QStringLiteral(":/quotalume/icons/256.png"));
    if (image.isNull()) {
        image = QIcon::fromTheme(QStringLiteral("quotalume")).pixmap(256).toImage();
    }
    return image;
}

QIcon loadIcon() {
    QIcon icon;
    for (int size : iconSizes) {
        icon.addFile(QStringLiteral(":/quotalume/icons/%1.png").arg(size), QSize(size, size));
    }
    if (icon.availableSizes().isEmpty()) {
        return QIcon::fromTheme(QStringLiteral("quotalume"));
    }
    return icon;
}

bool isFile(const fs::path& path) {
    std::error_code error;
    return fs::is_regular_file(path, error);
}

}  // namespace

const QImage& BrandAssets::logo() {
    static const QImage image = loadLogo();
    return image;
}

const QImage& BrandAssets::githubMark() {
    static const QImage image(QStringLiteral(":/quotalume/brand/source_mark_28.png"));
    return image;
}

const QImage& BrandAssets::globeMark() {
    static const QImage image(QStringLiteral(":/quotalume/brand/globe_28.png"));
    return image;
}

const QIcon& BrandAssets::menuBarIcon() {
    // Kept to the end of the process: an icon may hold pixmaps, which should not outlive the
    // application object by being destroyed after it.
    static const QIcon* icon = new QIcon(loadIcon());
    return *icon;
}

QImage BrandAssets::tinted(const QImage& image, const QColor& color) {
    QImage result = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&result);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(result.rect(), color);
    return result;
}

std::optional<fs::path> BrandAssets::resourcePath(const QString& name) {
    const fs::path file = name.toStdString();
    std::error_code error;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    if (!error) {
        fs::path beside =
            (executable.parent_path() / ".." / "share" / "quotalume" / file).lexically_normal();
        if (isFile(beside)) {
            return beside;
        }
    }
#ifdef QUOTALUME_BUILD_SHARE_DIR
    if (fs::path built = fs::path(QUOTALUME_BUILD_SHARE_DIR) / file; isFile(built)) {
        return built;
    }
#endif
    return std::nullopt;
}

}  // namespace quotalume
