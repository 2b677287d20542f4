#include <quotalume/support/bounded_json.hpp>

namespace quotalume {
namespace {

// One pass over the text, tracking strings so brackets inside them do not count. For text
// that is not JSON the count may be off, but then the parser refuses it at or before the
// point where the count went wrong. Containers and separators are counted too: a wide line
// of "[{},{},…" costs the parser far more memory than its bytes.
bool withinBounds(std::string_view text, std::size_t maximumDepth, std::size_t maximumValues) {
    std::size_t depth = 0;
    std::size_t values = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{' || c == ',') {
            if (++values > maximumValues) {
                return false;
            }
            if (c != ',' && ++depth > maximumDepth) {
                return false;
            }
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return true;
}

}  // namespace

nlohmann::json parseBoundedJSON(std::string_view text, std::size_t maximumDepth,
                                std::size_t maximumValues) {
    if (!withinBounds(text, maximumDepth, maximumValues)) {
        return nlohmann::json(nlohmann::json::value_t::discarded);
    }
    return nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
}

}  // namespace quotalume
