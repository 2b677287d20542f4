#include <quotalume/presentation/menu_bar_style.hpp>

#include <quotalume/l10n/l10n.hpp>
#include <quotalume/preferences/preferences_store.hpp>

namespace quotalume {
namespace {

constexpr const char* scopeKey = "appearance.menuBarScope";
constexpr const char* styleKey = "appearance.menuBarStyle";

}  // namespace

const char* rawValue(MenuBarScope scope) {
    switch (scope) {
        case MenuBarScope::fiveHour:
            return "5h";
        case MenuBarScope::weekly:
            return "7d";
        case MenuBarScope::both:
            break;
    }
    return "both";
}

bool includes(MenuBarScope scope, QuotaWindow window) {
    return scope == MenuBarScope::both ||
           window ==
               (scope == MenuBarScope::fiveHour ? QuotaWindow::fiveHour : QuotaWindow::weekly);
}

std::string title(MenuBarScope scope) {
    return L10n::render(std::string("menu_scope.") + rawValue(scope));
}

MenuBarScope loadMenuBarScope(const PreferencesStore& store) {
    auto stored = store.string(scopeKey);
    if (stored == "5h") {
        return MenuBarScope::fiveHour;
    }
    if (stored == "7d") {
        return MenuBarScope::weekly;
    }
    return MenuBarScope::both;
}

void save(MenuBarScope scope, PreferencesStore& store) {
    store.setString(scopeKey, rawValue(scope));
}

const char* rawValue(MenuBarStyle style) {
    switch (style) {
        case MenuBarStyle::percentage:
            return "percentage";
        case MenuBarStyle::bars:
            return "bars";
        case MenuBarStyle::barsPercentage:
            return "bars_percentage";
        case MenuBarStyle::rings:
            return "rings";
        case MenuBarStyle::ringsPercentage:
            break;
    }
    return "rings_percentage";
}

std::optional<MenuBarStyle> menuBarStyleFromRaw(std::string_view raw) {
    for (MenuBarStyle style : allMenuBarStyles) {
        if (raw == rawValue(style)) {
            return style;
        }
    }
    return std::nullopt;
}

bool usesBars(MenuBarStyle style) {
    return style == MenuBarStyle::bars || style == MenuBarStyle::barsPercentage;
}

bool usesRings(MenuBarStyle style) {
    return style == MenuBarStyle::rings || style == MenuBarStyle::ringsPercentage;
}

bool showsPercentage(MenuBarStyle style) {
    return style == MenuBarStyle::percentage || style == MenuBarStyle::barsPercentage ||
           style == MenuBarStyle::ringsPercentage;
}

std::string title(MenuBarStyle style) {
    return L10n::render(std::string("menu_style.") + rawValue(style));
}

MenuBarStyle loadMenuBarStyle(const PreferencesStore& store) {
    auto stored = store.string(styleKey);
    return stored ? menuBarStyleFromRaw(*stored).value_or(MenuBarStyle::percentage)
                  : MenuBarStyle::percentage;
}

void save(MenuBarStyle style, PreferencesStore& store) {
    store.setString(styleKey, rawValue(style));
}

}  // namespace quotalume
