#include <quotalume/codex/codex_locator.hpp>
#include <quotalume/support/private_file.hpp>
#include <quotalume/support/quotalume_error.hpp>
#include <quotalume/support/text.hpp>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <system_error>
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

// "~/" relative to `home`; anything else that is not absolute is no folder to look in.
std::optional<std::string> absoluteFolder(std::string_view path, const std::string& home) {
    if (path.starts_with("~/") && !home.empty()) {
        return home + std::string(path.substr(1));
    }
    if (path.starts_with('/')) {
        return std::string(path);
    }
    return std::nullopt;
}

// The global prefix npm would use, read the way npm reads it but without running npm.
std::optional<std::string> npmPrefix(const CodexLocator::Environment& environment,
                                     const std::string& home) {
    for (const char* name : {"NPM_CONFIG_PREFIX", "npm_config_prefix"}) {
        if (const char* value = environment(name); value != nullptr && *value != '\0') {
            return absoluteFolder(value, home);
        }
    }
    if (home.empty()) {
        return std::nullopt;
    }
    std::string npmrc;
    try {
        npmrc = readSmallFile(home + "/.npmrc", 1 << 16).value_or("");
    } catch (const std::system_error&) {
        return std::nullopt;
    }
    std::optional<std::string> prefix;
    for (std::string_view line : split(npmrc, '\n')) {
        line = trimmed(line);
        auto equals = line.find('=');
        if (line.starts_with(';') || line.starts_with('#') || equals == std::string_view::npos ||
            trimmed(line.substr(0, equals)) != "prefix") {
            continue;
        }
        std::string_view value = trimmed(line.substr(equals + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        prefix = absoluteFolder(value, home);  // the last one counts, as in npm
    }
    return prefix;
}

// Digit runs compare as numbers, so v20.1.0 comes after v9.11.2.
bool versionLess(std::string_view a, std::string_view b) {
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    while (!a.empty() && !b.empty()) {
        if (isDigit(a.front()) && isDigit(b.front())) {
            auto number = [&](std::string_view& text) {
                auto end = std::find_if_not(text.begin(), text.end(), isDigit) - text.begin();
                std::string_view digits = text.substr(0, static_cast<std::size_t>(end));
                text.remove_prefix(digits.size());
                return digits.substr(std::min(digits.find_first_not_of('0'), digits.size()));
            };
            auto x = number(a), y = number(b);
            if (x.size() != y.size()) {
                return x.size() < y.size();
            }
            if (x != y) {
                return x < y;
            }
            continue;
        }
        if (a.front() != b.front()) {
            return a.front() < b.front();
        }
        a.remove_prefix(1);
        b.remove_prefix(1);
    }
    return a.size() < b.size();
}

// The bin folders of the node versions nvm installed, newest first.
std::vector<std::string> nvmFolders(const std::string& home) {
    // More versions than anyone keeps installed; the listing stops there.
    constexpr std::size_t mostVersions = 256;
    std::vector<std::string> versions;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(home + "/.nvm/versions/node", error), end;
         !error && entry != end && versions.size() < mostVersions; entry.increment(error)) {
        versions.push_back(entry->path().filename().string());
    }
    std::sort(versions.begin(), versions.end(),
              [](const auto& a, const auto& b) { return versionLess(b, a); });
    for (auto& version : versions) {
        version = home + "/.nvm/versions/node/" + version + "/bin";
    }
    return versions;
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

std::vector<std::string> CodexLocator::suggestions(const Environment& environment) {
    const std::string home = userHomeDirectory(environment);
    std::vector<std::string> folders;
    if (const char* path = environment("PATH"); path != nullptr) {
        for (std::string_view entry : split(path, ':')) {
            // An empty or relative entry means the working directory, which is nowhere in
            // particular.
            if (entry.starts_with('/')) {
                folders.emplace_back(entry);
            }
        }
    }
    if (!home.empty()) {
        folders.push_back(home + "/.local/bin");
    }
    folders.emplace_back("/usr/local/bin");
    if (auto prefix = npmPrefix(environment, home)) {
        folders.push_back(*prefix + "/bin");
    }
    if (!home.empty()) {
        auto nvm = nvmFolders(home);
        folders.insert(folders.end(), nvm.begin(), nvm.end());
    }

    std::vector<std::string> found;
    std::set<std::string> realPaths;
    for (const auto& folder : folders) {
        std::string candidate = appending(folder, "codex");
        struct stat info {};
        if (::stat(candidate.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
            ::access(candidate.c_str(), X_OK) != 0) {
            continue;
        }
        std::unique_ptr<char, decltype(&std::free)> real(::realpath(candidate.c_str(), nullptr),
                                                         &std::free);
        if (real && realPaths.insert(real.get()).second) {
            found.push_back(std::move(candidate));
        }
    }
    return found;
}

}  // namespace quotalume
