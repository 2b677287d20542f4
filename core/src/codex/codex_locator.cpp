#include <quotalume/codex_locator.hpp>
#include <quotalume/quotalume_error.hpp>
#include <quotalume/text.hpp>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace quotalume {
namespace {

class NoApplicationRegistry final : public ApplicationRegistry {
public:
    std::vector<std::string> applications(std::string_view) const override { return {}; }
};

std::string appending(std::string path, std::string_view component) {
    if (path.empty() || path.back() != '/') {
        path.push_back('/');
    }
    return path.append(component);
}

bool hasAppExtension(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') {
        path.remove_suffix(1);
    }
    std::string name(path.substr(path.rfind('/') + 1));
    auto dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) {
        return false;
    }
    return asciiLowercased(name.substr(dot + 1)) == "app";
}

bool isUsableExecutable(const std::string& path) {
    struct stat info {};
    return path.starts_with('/') && ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

bool isDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

const ApplicationRegistry& ApplicationRegistry::platform() {
    static const NoApplicationRegistry registry;
    return registry;
}

std::string CodexLocator::executable(std::string_view custom,
                                     const std::optional<std::vector<std::string>>& applications,
                                     const ApplicationRegistry& registry) {
    std::vector<std::string> candidates;
    std::string_view setting = trimmed(custom);
    if (setting.empty()) {
        for (const auto& bundle :
             applications ? *applications : registry.applications(bundleIdentifier)) {
            candidates.push_back(appending(bundle, bundleExecutable));
        }
    } else {
        std::string path = expandingTilde(setting);
        if (!path.starts_with('/')) {
            throw QuotalumeError(QuotalumeError::Case::executableMissing);
        }
        candidates.push_back(hasAppExtension(path) ? appending(path, bundleExecutable) : path);
    }
    for (const auto& candidate : candidates) {
        if (isUsableExecutable(candidate)) {
            return candidate;
        }
    }
    throw QuotalumeError(QuotalumeError::Case::executableMissing);
}

std::string CodexLocator::home(std::string_view custom, const Environment& environment) {
    std::string candidate;
    std::string_view setting = trimmed(custom);
    if (!setting.empty()) {
        candidate = expandingTilde(setting);
    } else if (const char* variable = environment("CODEX_HOME"); variable != nullptr) {
        candidate = variable;
    } else {
        candidate = userHomeDirectory() + "/.codex";
    }
    if (!candidate.starts_with('/')) {
        throw QuotalumeError(QuotalumeError::Case::invalidHome);
    }
    // Dot-dot is removed as text, so "link/.." names another folder than the one stat() would
    // reach through the link: check the path Codex will be given, not the one typed.
    std::string normal = std::filesystem::path(candidate).lexically_normal().string();
    while (normal.size() > 1 && normal.back() == '/') {
        normal.pop_back();
    }
    if (!isDirectory(normal)) {
        throw QuotalumeError(QuotalumeError::Case::invalidHome);
    }
    return normal;
}

}  // namespace quotalume
