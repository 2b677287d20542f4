// Feeds arbitrary bytes as one line from the child: the bounded parse every line goes through,
// the read-only check of a request the child sends back, and the re-serialisation of a reply.

#include <quotalume/bounded_json.hpp>
#include <quotalume/codex_read_only_policy.hpp>

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto message =
        quotalume::parseBoundedJSON(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!message.is_object()) {
        return 0;
    }
    (void)message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    auto method = message.find("method");
    if (method != message.end() && method->is_string()) {
        auto params = message.find("params");
        const nlohmann::json* object =
            params != message.end() && params->is_object() ? &*params : nullptr;
        (void)quotalume::CodexReadOnlyPolicy::permits(method->get_ref<const std::string&>(),
                                                      object);
    }
    return 0;
}
