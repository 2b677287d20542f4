#pragma once

#include <quotalume/usage/quota_window.hpp>

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace quotalume {

class PreferencesStore;

// Which windows the tray shows.
enum class MenuBarScope { fiveHour, weekly, both };
inline constexpr std::array<MenuBarScope, 3> allMenuBarScopes = {
    MenuBarScope::fiveHour, MenuBarScope::weekly, MenuBarScope::both};

const char* rawValue(MenuBarScope scope);  // "5h", "7d", "both"
bool includes(MenuBarScope scope, QuotaWindow window);
std::string title(MenuBarScope scope);  // "menu_scope.<raw>" rendered
// "appearance.menuBarScope"; anything but "5h" and "7d" reads as both.
MenuBarScope loadMenuBarScope(const PreferencesStore& store);
void save(MenuBarScope scope, PreferencesStore& store);

// How the tray draws them.
enum class MenuBarStyle { percentage, bars, barsPercentage, rings, ringsPercentage };
inline constexpr std::array<MenuBarStyle, 5> allMenuBarStyles = {
    MenuBarStyle::percentage, MenuBarStyle::bars, MenuBarStyle::barsPercentage, MenuBarStyle::rings,
    MenuBarStyle::ringsPercentage};

const char* rawValue(MenuBarStyle style);  // "percentage", "bars", "bars_percentage", …
std::optional<MenuBarStyle> menuBarStyleFromRaw(std::string_view raw);
bool usesBars(MenuBarStyle style);
bool usesRings(MenuBarStyle style);
bool showsPercentage(MenuBarStyle style);
std::string title(MenuBarStyle style);  // "menu_style.<raw>" rendered
// "appearance.menuBarStyle"; the older "text" and "stacked", and anything unknown, read as
// percentage.
MenuBarStyle loadMenuBarStyle(const PreferencesStore& store);
void save(MenuBarStyle style, PreferencesStore& store);

}  // namespace quotalume
