#include "webhook_json_writer.hpp"

#include <nlohmann/json.hpp>
#include <unicode/utf8.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <system_error>

namespace quotalume {
namespace {

using nlohmann::json;

void writeString(std::string& out, const std::string& text, SlashEscaping slashes) {
    static constexpr char hex[] = "0123456789abcdef";
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(text.size());
    out.push_back('"');
    for (std::int32_t i = 0; i < length;) {
        const std::int32_t start = i;
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        if (c < 0) {
            throw std::system_error(EILSEQ, std::generic_category(), "webhook text is not UTF-8");
        }
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '/':
                out += slashes == SlashEscaping::backslash ? "\\/" : "/";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    out += "\\u00";
                    out.push_back(hex[c >> 4]);
                    out.push_back(hex[c & 0xF]);
                } else {
                    out.append(text, static_cast<std::size_t>(start),
                               static_cast<std::size_t>(i - start));
                }
        }
    }
    out.push_back('"');
}

template <typename Number>
void writeNumber(std::string& out, Number number) {
    char buffer[64];
    auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, number);
    if (error != std::errc()) {
        throw std::system_error(std::make_error_code(error), "number not writable");
    }
    out.append(buffer, end);
}

void write(std::string& out, const json& value, SlashEscaping slashes) {
    switch (value.type()) {
        case json::value_t::null:
            out += "null";
            return;
        case json::value_t::boolean:
            out += value.get<bool>() ? "true" : "false";
            return;
        case json::value_t::number_integer:
            writeNumber(out, value.get<std::int64_t>());
            return;
        case json::value_t::number_unsigned:
            writeNumber(out, value.get<std::uint64_t>());
            return;
        case json::value_t::number_float: {
            double number = value.get<double>();
            if (!std::isfinite(number)) {
                throw std::system_error(EDOM, std::generic_category(),
                                        "JSON has no NaN or infinity");
            }
            // The shortest text that reads back exactly, in plain decimals where a reader
            // expects them (0.0001, not 1e-04); exponents only for the very small and large.
            char buffer[400];
            const double magnitude = std::fabs(number);
            const bool plain = magnitude == 0 || (magnitude >= 1e-6 && magnitude < 1e21);
            auto [end, error] = plain ? std::to_chars(buffer, buffer + sizeof buffer, number,
                                                      std::chars_format::fixed)
                                      : std::to_chars(buffer, buffer + sizeof buffer, number);
            if (error != std::errc()) {
                throw std::system_error(std::make_error_code(error), "number not writable");
            }
            out.append(buffer, end);
            return;
        }
        case json::value_t::string:
            writeString(out, value.get_ref<const std::string&>(), slashes);
            return;
        case json::value_t::array: {
            out.push_back('[');
            bool first = true;
            for (const auto& element : value) {
                if (!first) {
                    out.push_back(',');
                }
                first = false;
                write(out, element, slashes);
            }
            out.push_back(']');
            return;
        }
        case json::value_t::object: {
            out.push_back('{');
            bool first = true;
            for (const auto& [key, member] : value.items()) {
                if (!first) {
                    out.push_back(',');
                }
                first = false;
                writeString(out, key, slashes);
                out.push_back(':');
                write(out, member, slashes);
            }
            out.push_back('}');
            return;
        }
        case json::value_t::binary:
        case json::value_t::discarded:
            break;
    }
    throw std::system_error(EINVAL, std::generic_category(), "not a JSON value");
}

}  // namespace

std::string writeWebhookJSON(const json& value, SlashEscaping slashes) {
    std::string out;
    write(out, value, slashes);
    return out;
}

}  // namespace quotalume
