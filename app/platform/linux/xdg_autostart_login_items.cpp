#include "xdg_autostart_login_items.hpp"

#include <quotalume/support/private_file.hpp>
#include <quotalume/support/text.hpp>
#include <quotalume/support/uuid.hpp>

#include <exception>
#include <string_view>
#include <system_error>

namespace quotalume {
namespace {

// The executable as the first word of an Exec value: quoted when it holds a character the
// command line reserves, "%" doubled, then written as a string value (backslashes doubled).
std::string execValue(std::string_view executable) {
    constexpr std::string_view reserved = " \t\n\"'\\><~|&;$*?#()`";
    const bool quoted = executable.find_first_of(reserved) != std::string_view::npos;
    std::string word = quoted ? "\"" : "";
    for (char c : executable) {
        if (quoted && (c == '"' || c == '`' || c == '$' || c == '\\')) {
            word += '\\';
        }
        word += c;
        if (c == '%') {
            word += '%';
        }
    }
    if (quoted) {
        word += '"';
    }
    std::string value;
    for (char c : word) {
        value += c;
        if (c == '\\') {
            value += '\\';
        }
    }
    return value;
}

// The value of `key` in the [Desktop Entry] group, spaces around "=" ignored.
std::optional<std::string_view> desktopEntryValue(std::string_view content, std::string_view key) {
    auto strip = [](std::string_view text) {
        while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
            text.remove_prefix(1);
        }
        while (!text.empty() &&
               (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
            text.remove_suffix(1);
        }
        return text;
    };
    bool inGroup = false;
    while (!content.empty()) {
        const auto end = content.find('\n');
        const std::string_view line = strip(content.substr(0, end));
        content = end == std::string_view::npos ? std::string_view() : content.substr(end + 1);
        if (line.starts_with('[')) {
            inGroup = line == "[Desktop Entry]";
            continue;
        }
        const auto equals = line.find('=');
        if (inGroup && equals != std::string_view::npos && strip(line.substr(0, equals)) == key) {
            return strip(line.substr(equals + 1));
        }
    }
    return std::nullopt;
}

}  // namespace

XdgAutostartLoginItems::XdgAutostartLoginItems(std::string executable,
                                               std::optional<std::filesystem::path> directory,
                                               FileOperations operations)
    : executable_(std::move(executable)), operations_(std::move(operations)) {
    if (directory) {
        directory_ = std::move(*directory);
        return;
    }
    try {
        directory_ = defaultDirectory();
    } catch (const std::exception&) {
        // No home: nothing can be registered, and nothing is.
    }
}

std::filesystem::path XdgAutostartLoginItems::defaultDirectory(
    const std::function<const char*(const char*)>& environment) {
    return xdgDirectory("XDG_CONFIG_HOME", ".config", environment) / "autostart";
}

std::optional<std::string> XdgAutostartLoginItems::entry(const std::string& executable) {
    if (!executable.starts_with('/') || hasControlCharacter(executable) ||
        executable.find('=') != std::string::npos || repairingUTF8(executable)) {
        return std::nullopt;
    }
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Quotalume\n"
           "Comment=Watches the usage limits of your Codex account\n"
           "Exec=" +
           execValue(executable) +
           "\n"
           "Icon=quotalume\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

LoginItemStatus XdgAutostartLoginItems::status() const {
    if (directory_.empty()) {
        return LoginItemStatus::disabled;
    }
    std::optional<std::string> content;
    try {
        content = readSmallFile(entryPath(), largestEntry);
    } catch (const std::exception&) {
        return LoginItemStatus::disabled;  // what cannot be read cannot start anything either
    }
    if (!content || desktopEntryValue(*content, "Hidden") == "true" ||
        desktopEntryValue(*content, "X-GNOME-Autostart-enabled") == "false") {
        return LoginItemStatus::disabled;
    }
    return LoginItemStatus::enabled;
}

bool XdgAutostartLoginItems::setRegistered(bool registered) {
    if (directory_.empty()) {
        return false;
    }
    if (!registered) {
        std::error_code error;
        std::filesystem::remove(entryPath(), error);
        return !error;  // an entry that is already gone is no failure
    }
    const std::optional<std::string> content = entry(executable_);
    if (!content) {
        return false;
    }
    try {
        createPrivateDirectories(directory_);
        replaceFileAtomically(entryPath(), *content, ".quotalume.desktop." + randomUUID() + ".tmp",
                              operations_);
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

}  // namespace quotalume
