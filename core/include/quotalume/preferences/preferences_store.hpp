#pragma once

#include <quotalume/support/private_file.hpp>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <variant>
#include <vector>

namespace quotalume {

// The per-user preferences: small strings and byte blobs under string keys ("settings",
// "appearance.language", …). A key holds one kind of value; asking for the other kind reads
// as absent. Every operation is safe to call from any thread.
class PreferencesStore {
public:
    using Bytes = std::vector<std::uint8_t>;
    using Value = std::variant<std::string, Bytes>;

    virtual ~PreferencesStore() = default;

    std::optional<std::string> string(const std::string& key) const;
    std::optional<Bytes> data(const std::string& key) const;
    // Writes that fail throw (std::system_error for the file store) and change nothing.
    void setString(const std::string& key, std::string value);
    void setData(const std::string& key, Bytes value);
    void remove(const std::string& key);

    // A file whose values could not be read, so defaults stand in for them until the next write
    // keeps it aside; nothing for a store without such a file.
    virtual std::optional<std::filesystem::path> unreadableFile() const { return std::nullopt; }

    // The process-wide store the app, the CLI and L10n share: the file at
    // FilePreferencesStore::defaultPath(), opened on first use (std::system_error when there
    // is no home directory to put it in), unless an override was installed.
    static std::shared_ptr<PreferencesStore> standard();
    // Installs an override for standard(); nullptr goes back to the default file. Returns the
    // store that was installed before (nullptr when standard() had not been used).
    static std::shared_ptr<PreferencesStore> setStandard(std::shared_ptr<PreferencesStore> store);

protected:
    virtual std::optional<Value> value(const std::string& key) const = 0;
    // nullopt removes the key.
    virtual void setValue(const std::string& key, std::optional<Value> value) = 0;
};

// Installs a store as the standard one for its lifetime and puts the previous one back.
class ScopedStandardPreferences {
public:
    explicit ScopedStandardPreferences(std::shared_ptr<PreferencesStore> store)
        : previous_(PreferencesStore::setStandard(std::move(store))) {}
    ~ScopedStandardPreferences() { PreferencesStore::setStandard(std::move(previous_)); }
    ScopedStandardPreferences(const ScopedStandardPreferences&) = delete;
    ScopedStandardPreferences& operator=(const ScopedStandardPreferences&) = delete;

private:
    std::shared_ptr<PreferencesStore> previous_;
};

// Keeps everything in memory; for tests, demo runs and command-line overrides.
class MemoryPreferencesStore : public PreferencesStore {
protected:
    std::optional<Value> value(const std::string& key) const override;
    void setValue(const std::string& key, std::optional<Value> value) override;

private:
    mutable std::mutex mutex_;
    std::map<std::string, Value> values_;
};

// One JSON object per user, loaded once at construction and rewritten whole on every change:
//
//     {"appearance.language": "fr", "settings": {"data": "eyJyZWZyZXNo…"}}
//
// Strings are JSON strings; byte blobs are objects whose "data" member holds them in standard
// base64 with padding. Members of any other form (written by a newer version) are kept as
// they are and written back unchanged, but read as absent.
//
// Writing: the folder is created with mode 0700 when missing (an existing one is left as it
// is), the new content goes to a fresh temporary file in the same folder, created exclusive
// with mode 0600, then is flushed to disk and renamed over the file. A failed write throws
// std::system_error with the errno of the failed step, removes the temporary file, and
// leaves both the file on disk and the values in memory as they were.
//
// A file that exists but cannot be read or parsed reads as empty and is not touched until the
// first set or remove; that write first renames it to "defaults.json.corrupt-<UTC time>" beside
// it (never replacing an earlier backup), so the user's data is kept for inspection. Reading it
// as empty is what the rest of the program expects of an unreadable preferences file.
//
// Text written to the file must be UTF-8; other keys or strings fail with EILSEQ.
class FilePreferencesStore : public PreferencesStore {
public:
    using FileOperations = quotalume::FileOperations;

    explicit FilePreferencesStore(std::filesystem::path path,
                                  FileOperations operations = FileOperations::system());

    // $XDG_CONFIG_HOME/Quotalume/defaults.json; an unset, empty or relative XDG_CONFIG_HOME
    // means ~/.config, the home directory coming from HOME when absolute, else the password
    // database. std::system_error(ENOENT) when neither names a home directory.
    static std::filesystem::path defaultPath(
        const std::function<const char*(const char*)>& environment = nullptr);

    const std::filesystem::path& path() const { return path_; }
    // This file while it could not be read or parsed and waits to be backed up on the next write.
    std::optional<std::filesystem::path> unreadableFile() const override;

protected:
    std::optional<Value> value(const std::string& key) const override;
    void setValue(const std::string& key, std::optional<Value> value) override;

private:
    void writeFile(const std::map<std::string, Value>& values, const std::string& changedKey);

    std::filesystem::path path_;
    FileOperations operations_;
    mutable std::mutex mutex_;
    std::map<std::string, Value> values_;
    std::map<std::string, std::string> foreignMembers_;  // serialised JSON, kept verbatim
    bool unreadableFile_ = false;
};

}  // namespace quotalume
