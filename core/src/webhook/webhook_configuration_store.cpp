#include <quotalume/webhook/webhook_configuration_store.hpp>

#include <quotalume/support/bounded_json.hpp>
#include <quotalume/support/json_decoding_error.hpp>
#include <quotalume/support/private_file.hpp>
#include <quotalume/support/quotalume_error.hpp>
#include <quotalume/support/uuid.hpp>

#include <nlohmann/json.hpp>

#include <cerrno>
#include <system_error>

namespace quotalume {
namespace {

using nlohmann::json;

// The file holds four short strings; anything this large is not ours.
constexpr std::size_t largestFile = 1 << 20;

[[noreturn]] void readFailure(long long code) {
    throw QuotalumeError::webhook(LocalizedMessage("error.config_read", {std::to_string(code)}));
}

[[noreturn]] void writeFailure(int code) {
    throw QuotalumeError::webhook(LocalizedMessage("error.config_write", {std::to_string(code)}));
}

std::string encode(const WebhookConfiguration& configuration) {
    try {
        return json(configuration).dump(2) + "\n";
    } catch (const json::type_error&) {
        writeFailure(EILSEQ);  // text that is not UTF-8
    }
}

}  // namespace

WebhookConfigurationStore::WebhookConfigurationStore(std::optional<std::filesystem::path> directory,
                                                     FileOperations operations)
    : directory_(directory ? std::move(*directory) : defaultDirectory()),
      operations_(std::move(operations)) {}

std::filesystem::path WebhookConfigurationStore::defaultDirectory(
    const std::function<const char*(const char*)>& environment) {
    return xdgDirectory("XDG_DATA_HOME", ".local/share", environment) / "Quotalume";
}

WebhookConfiguration WebhookConfigurationStore::load() const {
    std::optional<std::string> content;
    try {
        content = readSmallFile(url(), largestFile, {.privateToOwner = true});
    } catch (const NotPrivateFile& error) {
        const bool shared = error.reason() == NotPrivateFile::Reason::sharedMode;
        throw QuotalumeError::webhook(LocalizedMessage(
            shared ? "error.config_shared" : "error.config_foreign", {url().string()}));
    } catch (const std::system_error& error) {
        readFailure(error.code().value());
    }
    if (!content) {
        return {};
    }
    json document = parseBoundedJSON(*content);
    if (document.is_discarded()) {
        readFailure(3840);
    }
    try {
        return document.get<WebhookConfiguration>();
    } catch (const JSONDecodingError& error) {
        // The member at fault, as a decoding failure names it, after the code older builds read.
        LocalizedMessage named = LocalizedMessage::from(error);
        named.key = "error.config_read";
        throw QuotalumeError::webhook(std::move(named));
    }
}

WebhookConfiguration WebhookConfigurationStore::loadForSending() const {
    WebhookConfiguration loaded = load();
    if (loaded.url.empty()) {
        throw QuotalumeError::webhook(LocalizedMessage("error.webhook_missing"));
    }
    (void)loaded.validatedURL();
    return loaded;
}

void WebhookConfigurationStore::save(const WebhookConfiguration& configuration) const {
    const std::string content = encode(configuration);
    try {
        // The file holds the credentials: owner-only from the first instant.
        replaceFileAtomically(url(), content, std::string(temporaryPrefix) + randomUUID() + ".tmp",
                              operations_);
    } catch (const std::system_error& error) {
        writeFailure(error.code().value());
    }
}

}  // namespace quotalume
