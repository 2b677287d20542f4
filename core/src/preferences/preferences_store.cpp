#include <quotalume/preferences/preferences_store.hpp>

#include "../support/encoding.hpp"
#include <quotalume/support/bounded_json.hpp>
#include <quotalume/support/text.hpp>
#include <quotalume/support/uuid.hpp>

#include <nlohmann/json.hpp>
#include <openssl/evp.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace quotalume {
namespace {

using nlohmann::json;

// Strict standard base64 with padding; EVP_DecodeBlock alone accepts surrounding white space
// and counts padding as decoded bytes.
std::optional<PreferencesStore::Bytes> fromBase64(const std::string& text) {
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::size_t padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=') {
        ++padding;
    }
    for (std::size_t i = 0; i < text.size() - padding; ++i) {
        char c = text[i];
        bool valid = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                     c == '+' || c == '/';
        if (!valid) {
            return std::nullopt;
        }
    }
    PreferencesStore::Bytes bytes(text.size() / 4 * 3 + 1);
    int length = EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                 static_cast<int>(text.size()));
    if (length < 0) {
        return std::nullopt;
    }
    bytes.resize(static_cast<std::size_t>(length) - padding);
    return bytes;
}

// The preferences are a few short strings; anything this large is not ours.
constexpr std::size_t largestFile = 1 << 20;

std::mutex standardMutex;
std::shared_ptr<PreferencesStore> standardStore;

}  // namespace

std::optional<std::string> PreferencesStore::string(const std::string& key) const {
    auto stored = value(key);
    if (stored && std::holds_alternative<std::string>(*stored)) {
        return std::get<std::string>(std::move(*stored));
    }
    return std::nullopt;
}

std::optional<PreferencesStore::Bytes> PreferencesStore::data(const std::string& key) const {
    auto stored = value(key);
    if (stored && std::holds_alternative<Bytes>(*stored)) {
        return std::get<Bytes>(std::move(*stored));
    }
    return std::nullopt;
}

void PreferencesStore::setString(const std::string& key, std::string value) {
    setValue(key, Value(std::move(value)));
}

void PreferencesStore::setData(const std::string& key, Bytes value) {
    setValue(key, Value(std::move(value)));
}

void PreferencesStore::remove(const std::string& key) {
    setValue(key, std::nullopt);
}

std::shared_ptr<PreferencesStore> PreferencesStore::standard() {
    std::lock_guard lock(standardMutex);
    if (!standardStore) {
        standardStore = std::make_shared<FilePreferencesStore>(FilePreferencesStore::defaultPath());
    }
    return standardStore;
}

std::shared_ptr<PreferencesStore> PreferencesStore::setStandard(
    std::shared_ptr<PreferencesStore> store) {
    std::lock_guard lock(standardMutex);
    std::swap(standardStore, store);
    return store;
}

std::optional<PreferencesStore::Value> MemoryPreferencesStore::value(const std::string& key) const {
    std::lock_guard lock(mutex_);
    auto found = values_.find(key);
    if (found == values_.end()) {
        return std::nullopt;
    }
    return found->second;
}

void MemoryPreferencesStore::setValue(const std::string& key, std::optional<Value> value) {
    std::lock_guard lock(mutex_);
    if (value) {
        values_.insert_or_assign(key, std::move(*value));
    } else {
        values_.erase(key);
    }
}

FilePreferencesStore::FilePreferencesStore(std::filesystem::path path, FileOperations operations)
    : path_(std::move(path)), operations_(std::move(operations)) {
    std::optional<std::string> content;
    try {
        content = readSmallFile(path_, largestFile);
    } catch (const std::system_error& error) {
        // Something that is not a file at all is left alone; a file we cannot read is backed
        // up before the first write replaces it.
        const int code = error.code().value();
        unreadableFile_ = code != EISDIR && code != EINVAL;
    }
    if (!content || content->empty()) {
        return;
    }
    json document = parseBoundedJSON(*content);
    if (document.is_discarded() || !document.is_object()) {
        unreadableFile_ = true;
        return;
    }
    for (const auto& [key, member] : document.items()) {
        if (member.is_string()) {
            values_.emplace(key, member.get<std::string>());
            continue;
        }
        if (member.is_object() && member.size() == 1 && member.contains("data") &&
            member["data"].is_string()) {
            if (auto bytes = fromBase64(member["data"].get<std::string>())) {
                values_.emplace(key, std::move(*bytes));
                continue;
            }
        }
        foreignMembers_.emplace(key, member.dump());
    }
}

std::filesystem::path FilePreferencesStore::defaultPath(
    const std::function<const char*(const char*)>& environment) {
    return xdgDirectory("XDG_CONFIG_HOME", ".config", environment) / "Quotalume" / "defaults.json";
}

std::optional<std::filesystem::path> FilePreferencesStore::unreadableFile() const {
    std::lock_guard lock(mutex_);
    return unreadableFile_ ? std::optional(path_) : std::nullopt;
}

std::optional<PreferencesStore::Value> FilePreferencesStore::value(const std::string& key) const {
    std::lock_guard lock(mutex_);
    auto found = values_.find(key);
    if (found == values_.end()) {
        return std::nullopt;
    }
    return found->second;
}

void FilePreferencesStore::setValue(const std::string& key, std::optional<Value> value) {
    std::lock_guard lock(mutex_);
    auto next = values_;
    if (value) {
        next.insert_or_assign(key, std::move(*value));
    } else {
        next.erase(key);
    }
    writeFile(next, key);
    values_ = std::move(next);
    foreignMembers_.erase(key);
}

void FilePreferencesStore::writeFile(const std::map<std::string, Value>& values,
                                     const std::string& changedKey) {
    json document = json::object();
    for (const auto& [key, member] : foreignMembers_) {
        if (key != changedKey) {
            document[key] = json::parse(member);
        }
    }
    for (const auto& [key, member] : values) {
        if (const auto* text = std::get_if<std::string>(&member)) {
            document[key] = *text;
        } else {
            document[key] = {{"data", base64(std::get<Bytes>(member))}};
        }
    }
    std::string content;
    try {
        content = document.dump(2) + "\n";
    } catch (const json::type_error&) {
        throw std::system_error(EILSEQ, std::system_category(), "preferences text is not UTF-8");
    }

    std::string backup;
    if (unreadableFile_) {
        backup = moveAside(path_, "corrupt").value_or(std::filesystem::path()).string();
    }
    try {
        replaceFileAtomically(path_, content,
                              "." + path_.filename().string() + "." + randomUUID() + ".tmp",
                              operations_);
    } catch (const std::system_error&) {
        // Put the unreadable file back where it was, so a failed write changes nothing.
        if (!backup.empty()) {
            ::rename(backup.c_str(), path_.c_str());
        }
        throw;
    }
    unreadableFile_ = false;
}

}  // namespace quotalume
