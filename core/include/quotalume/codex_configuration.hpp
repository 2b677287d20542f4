#pragma once

#include <string>

namespace quotalume {

// Where to find Codex and how long one session may take. Empty (or blank) paths mean
// "find it automatically".
struct CodexConfiguration {
    std::string executablePath;
    std::string homePath;
    double timeout;  // seconds; sessions raise values under one second to one

    friend bool operator==(const CodexConfiguration&, const CodexConfiguration&) = default;
};

}  // namespace quotalume
