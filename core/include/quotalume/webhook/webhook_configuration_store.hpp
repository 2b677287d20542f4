#pragma once

#include <quotalume/support/private_file.hpp>
#include <quotalume/webhook/webhook_configuration.hpp>

#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>

namespace quotalume {

// The webhook configuration in a file of its own, "webhook.json", because it holds the
// credentials: readable by the owner only and replaced atomically.
//
// The file is pretty-printed JSON, one member per line in key order. Saving creates missing
// folders with mode 0700 (an existing one keeps its mode), writes a ".webhook-<UUID>.tmp"
// created exclusively with mode 0600, flushes it to disk and renames it over the file. A
// failed save removes the temporary file and leaves the previous file as it was.
class WebhookConfigurationStore {
public:
    using FileOperations = quotalume::FileOperations;
    // How a save's temporary file is named: the prefix, a UUID, ".tmp".
    static constexpr std::string_view temporaryPrefix = ".webhook-";

    // Without a folder: defaultDirectory().
    explicit WebhookConfigurationStore(
        std::optional<std::filesystem::path> directory = std::nullopt,
        FileOperations operations = FileOperations::system());

    // $XDG_DATA_HOME/Quotalume; an unset, empty or relative XDG_DATA_HOME means
    // ~/.local/share. std::system_error(ENOENT) when there is no home directory.
    static std::filesystem::path defaultDirectory(
        const std::function<const char*(const char*)>& environment = nullptr);

    const std::filesystem::path& directory() const { return directory_; }
    // The file's location: directory()/webhook.json.
    std::filesystem::path url() const { return directory_ / "webhook.json"; }

    // The stored configuration, or the default one when there is no file. A file others could
    // have read or replaced is refused as it is, never narrowed or followed:
    // QuotalumeError::webhook("error.config_shared" for group or other permissions,
    // "error.config_foreign" for a link or another owner, {path}). Any other failure throws
    // QuotalumeError::webhook("error.config_read", {code}): the errno of a failed read, or the
    // JSON code (3840 not JSON, 4864 wrong type, 4865 missing member).
    WebhookConfiguration load() const;
    // The stored configuration, ready to send to: as load, but a configuration without an
    // address fails with "error.webhook_missing" and a refused address with its reason.
    WebhookConfiguration loadForSending() const;
    // Throws QuotalumeError::webhook("error.config_write", {errno}).
    void save(const WebhookConfiguration& configuration) const;

private:
    std::filesystem::path directory_;
    FileOperations operations_;
};

}  // namespace quotalume
