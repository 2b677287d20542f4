#pragma once

#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quotalume {

// Finds installed Codex desktop applications by their bundle identifier. Linux keeps no such
// registry, so the Linux implementation finds none; a second platform adds its own file.
class ApplicationRegistry {
public:
    virtual ~ApplicationRegistry() = default;
    virtual std::vector<std::string> applications(std::string_view bundleIdentifier) const = 0;

    static const ApplicationRegistry& platform();
};

// Resolves the executable and home directory a session needs. Stateless: every call looks at
// the file system again. The shell's PATH is never searched.
struct CodexLocator {
    static constexpr const char* bundleIdentifier = "com.openai.codex";
    static constexpr const char* bundleExecutable = "Contents/Resources/codex";

    // An absolute path of an existing, executable, non-directory file, or executableMissing.
    // `applications`: bundle paths to look in when `custom` is blank; absent asks the registry.
    static std::string executable(
        std::string_view custom,
        const std::optional<std::vector<std::string>>& applications = std::nullopt,
        const ApplicationRegistry& registry = ApplicationRegistry::platform());

    using Environment = std::function<const char*(const char*)>;
    // The absolute, normalised path of an existing directory, or invalidHome. A blank `custom`
    // means $CODEX_HOME exactly as set, else ~/.codex.
    static std::string home(std::string_view custom, const Environment& environment = ::getenv);

    // Executable regular files named "codex" in the folders people install it to, for the user
    // to choose from when automatic detection finds nothing; never adopted by themselves. In
    // order: the absolute PATH entries, ~/.local/bin, /usr/local/bin, the npm global prefix's
    // bin ($NPM_CONFIG_PREFIX, $npm_config_prefix, else "prefix=" in ~/.npmrc; npm is never
    // run) and ~/.nvm/versions/node/*/bin, newest version first. One path per file, the first
    // that leads to it, however many links do.
    static std::vector<std::string> suggestions(const Environment& environment = ::getenv);
};

}  // namespace quotalume
