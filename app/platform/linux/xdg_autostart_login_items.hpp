#pragma once

#include "ports.hpp"

#include <quotalume/support/private_file.hpp>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace quotalume {

// Launch at login through an XDG autostart entry, quotalume.desktop, in the user's autostart
// folder. Nothing needs approval on Linux.
class XdgAutostartLoginItems final : public LoginItemService {
public:
    static constexpr std::size_t largestEntry = 64 * 1024;

    // `executable`: the absolute path the entry starts. `directory`: the autostart folder,
    // $XDG_CONFIG_HOME/autostart (default ~/.config/autostart) when absent.
    explicit XdgAutostartLoginItems(std::string executable,
                                    std::optional<std::filesystem::path> directory = std::nullopt,
                                    FileOperations operations = FileOperations::system());

    static std::filesystem::path defaultDirectory(
        const std::function<const char*(const char*)>& environment = nullptr);

    // Enabled: the entry exists and neither hides itself nor is switched off.
    LoginItemStatus status() const override;
    // Registering writes our entry over whatever is there; unregistering removes it.
    bool setRegistered(bool registered) override;

    std::filesystem::path entryPath() const { return directory_ / "quotalume.desktop"; }
    // The entry's text, or nothing when the executable's path cannot be written in one: it
    // must be absolute UTF-8 without control characters or "=" (which Exec does not allow).
    static std::optional<std::string> entry(const std::string& executable);

private:
    std::string executable_;
    std::filesystem::path directory_;  // empty when there is no home to find it in
    FileOperations operations_;
};

}  // namespace quotalume
