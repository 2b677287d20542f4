#include <quotalume/l10n/localized_message.hpp>

#include <quotalume/support/json_decoding_error.hpp>
#include <quotalume/support/quotalume_error.hpp>
#include <quotalume/webhook/webhook_delivery_error.hpp>

#include <nlohmann/json.hpp>

#include <cerrno>
#include <new>
#include <system_error>

namespace quotalume {
namespace {

LocalizedMessage systemError(long long code) {
    return LocalizedMessage("error.system", {std::to_string(code)});
}

}  // namespace

LocalizedMessage LocalizedMessage::from(const std::exception& error) {
    if (auto* own = dynamic_cast<const QuotalumeError*>(&error)) {
        return own->userMessage();
    }
    if (auto* delivery = dynamic_cast<const WebhookDeliveryError*>(&error)) {
        return delivery->message();
    }
    if (auto* system = dynamic_cast<const std::system_error*>(&error)) {
        return systemError(system->code().value());
    }
    if (auto* decoding = dynamic_cast<const JSONDecodingError*>(&error)) {
        LocalizedMessage message = systemError(decoding->code());
        if (!decoding->member().empty() && !decoding->expected().empty()) {
            // The path comes from outside: shown, so kept short and on one line.
            std::string path = decoding->member().substr(0, 120);
            for (char& c : path) {
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
                    c = '?';
                }
            }
            message.arguments.push_back(std::move(path));
            message.arguments.push_back(decoding->expected());
        }
        return message;
    }
    if (dynamic_cast<const nlohmann::json::parse_error*>(&error)) {
        return systemError(3840);
    }
    if (dynamic_cast<const nlohmann::json::out_of_range*>(&error)) {
        return systemError(4865);
    }
    if (dynamic_cast<const nlohmann::json::exception*>(&error)) {
        return systemError(4864);
    }
    if (dynamic_cast<const std::bad_alloc*>(&error)) {
        return systemError(ENOMEM);
    }
    // An error that has no platform code of its own.
    return systemError(-1);
}

LocalizedMessage LocalizedMessage::from(std::exception_ptr error) {
    try {
        std::rethrow_exception(std::move(error));
    } catch (const std::exception& caught) {
        return from(caught);
    } catch (...) {
        return systemError(-1);
    }
}

void to_json(nlohmann::json& json, const LocalizedMessage& message) {
    json = {{"key", message.key}, {"arguments", message.arguments}};
}

nlohmann::json localizedJSON(const LocalizedMessage& message) {
    nlohmann::json out = message;
    out["message"] = message.localized();
    return out;
}

void from_json(const nlohmann::json& json, LocalizedMessage& message) {
    using Kind = JSONDecodingError::Kind;
    if (json.is_string()) {
        message = LocalizedMessage::fromLegacyText(json.get<std::string>());
        return;
    }
    if (!json.is_object()) {
        throw JSONDecodingError(Kind::typeMismatch, "message: expected an object or a string");
    }
    auto key = json.find("key");
    if (key == json.end() || key->is_null()) {
        throw JSONDecodingError(Kind::keyNotFound, "message: no \"key\"");
    }
    if (!key->is_string()) {
        throw JSONDecodingError(Kind::typeMismatch, "message: \"key\" is not a string");
    }
    std::vector<std::string> arguments;
    if (auto list = json.find("arguments"); list != json.end() && !list->is_null()) {
        if (!list->is_array()) {
            throw JSONDecodingError(Kind::typeMismatch, "message: \"arguments\" is not an array");
        }
        for (const auto& argument : *list) {
            if (!argument.is_string()) {
                throw JSONDecodingError(Kind::typeMismatch, "message: an argument is not a string");
            }
            arguments.push_back(argument.get<std::string>());
        }
    }
    message = LocalizedMessage(key->get<std::string>(), std::move(arguments));
}

}  // namespace quotalume
