#include "menu_bar_renderer.hpp"

#include <gtest/gtest.h>

namespace quotalume {
namespace {

TEST(MenuBarRendererTest, NoImageWithoutItems) {
    EXPECT_FALSE(MenuBarRenderer{}.image().has_value());
}

}  // namespace
}  // namespace quotalume
