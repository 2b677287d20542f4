#include "menu_bar_renderer.hpp"

namespace quotalume {

std::optional<QImage> MenuBarRenderer::image() const { return std::nullopt; }

}  // namespace quotalume
