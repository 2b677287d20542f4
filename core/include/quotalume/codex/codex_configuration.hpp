#pragma once

#include <optional>
#include <string>

namespace quotalume {

// Where to find Codex and how long one session may take. Empty (or blank) paths mean
// "find it automatically".
struct CodexConfiguration {
    // What the tray app and quotalume-cli allow one whole exchange with Codex.
    static constexpr double defaultTimeout = 25;

    std::string executablePath;
    std::string homePath;
    double timeout;  // seconds; sessions raise values under one second to one
    // A source after the first, by its label: what a view that follows another engine asks it
    // for. Codex never sees it.
    std::optional<std::string> sourceLabel;

    friend bool operator==(const CodexConfiguration&, const CodexConfiguration&) = default;
};

}  // namespace quotalume
