#include "strings_file.hpp"

#include <cstdint>

namespace quotalume {
namespace {

void appendUTF8(std::string& out, char32_t codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

bool isHighSurrogate(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool isLowSurrogate(char32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUTF8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        auto byte = static_cast<unsigned char>(text[i]);
        std::size_t length = byte < 0x80                    ? 1
                             : byte >= 0xC2 && byte <= 0xDF ? 2
                             : byte >= 0xE0 && byte <= 0xEF ? 3
                             : byte >= 0xF0 && byte <= 0xF4 ? 4
                                                            : 0;
        if (length == 0 || i + length > text.size()) {
            return false;
        }
        char32_t codePoint = length == 1 ? byte : byte & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            codePoint = (codePoint << 6) | (next & 0x3F);
        }
        if ((length == 3 &&
             (codePoint < 0x800 || isHighSurrogate(codePoint) || isLowSurrogate(codePoint))) ||
            (length == 4 && (codePoint < 0x10000 || codePoint > 0x10FFFF))) {
            return false;
        }
        i += length;
    }
    return true;
}

// UTF-16 with a byte-order mark, as some editors save strings files, turned into UTF-8.
std::optional<std::string> utf16ToUTF8(std::string_view bytes, bool bigEndian) {
    if (bytes.size() % 2 != 0) {
        return std::nullopt;
    }
    auto unitAt = [&](std::size_t index) {
        auto first = static_cast<unsigned char>(bytes[index]);
        auto second = static_cast<unsigned char>(bytes[index + 1]);
        return static_cast<char32_t>(bigEndian ? (first << 8) | second : (second << 8) | first);
    };
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        char32_t unit = unitAt(i);
        if (isHighSurrogate(unit)) {
            if (i + 3 >= bytes.size() || !isLowSurrogate(unitAt(i + 2))) {
                return std::nullopt;
            }
            unit = 0x10000 + ((unit - 0xD800) << 10) + (unitAt(i + 2) - 0xDC00);
            i += 2;
        } else if (isLowSurrogate(unit)) {
            return std::nullopt;
        }
        appendUTF8(out, unit);
    }
    return out;
}

class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) {}

    std::optional<StringsTable> parse() {
        StringsTable table;
        for (;;) {
            if (!skipSpaceAndComments()) {
                return std::nullopt;
            }
            if (atEnd()) {
                return table;
            }
            auto key = string();
            if (!key || !skipSpaceAndComments() || !consume('=') || !skipSpaceAndComments()) {
                return std::nullopt;
            }
            auto value = string();
            if (!value || !skipSpaceAndComments() || !consume(';')) {
                return std::nullopt;
            }
            table.insert_or_assign(std::move(*key), std::move(*value));
        }
    }

private:
    bool atEnd() const { return position_ >= text_.size(); }
    char peek(std::size_t ahead = 0) const {
        return position_ + ahead < text_.size() ? text_[position_ + ahead] : '\0';
    }
    bool consume(char expected) {
        if (atEnd() || peek() != expected) {
            return false;
        }
        ++position_;
        return true;
    }

    static bool isSpace(char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
    }
    static bool isUnquotedCharacter(char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '.' || c == '-';
    }

    // False on an unterminated block comment.
    bool skipSpaceAndComments() {
        while (!atEnd()) {
            if (isSpace(peek())) {
                ++position_;
            } else if (peek() == '/' && peek(1) == '/') {
                std::size_t end = text_.find('\n', position_);
                position_ = end == std::string_view::npos ? text_.size() : end + 1;
            } else if (peek() == '/' && peek(1) == '*') {
                std::size_t end = text_.find("*/", position_ + 2);
                if (end == std::string_view::npos) {
                    return false;
                }
                position_ = end + 2;
            } else {
                break;
            }
        }
        return true;
    }

    std::optional<std::string> string() {
        if (consume('"')) {
            return quotedRest();
        }
        std::size_t start = position_;
        while (!atEnd() && isUnquotedCharacter(peek())) {
            ++position_;
        }
        if (position_ == start) {
            return std::nullopt;
        }
        return std::string(text_.substr(start, position_ - start));
    }

    std::optional<char32_t> hexUnit() {
        char32_t unit = 0;
        for (int digit = 0; digit < 4; ++digit) {
            char c = peek();
            int value = c >= '0' && c <= '9'   ? c - '0'
                        : c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                               : -1;
            if (atEnd() || value < 0) {
                return std::nullopt;
            }
            unit = (unit << 4) | static_cast<char32_t>(value);
            ++position_;
        }
        return unit;
    }

    std::optional<char32_t> unicodeEscape() {
        auto unit = hexUnit();
        if (!unit || isLowSurrogate(*unit)) {
            return std::nullopt;
        }
        if (!isHighSurrogate(*unit)) {
            return unit;
        }
        if (peek() != '\\' || (peek(1) != 'u' && peek(1) != 'U')) {
            return std::nullopt;
        }
        position_ += 2;
        auto low = hexUnit();
        if (!low || !isLowSurrogate(*low)) {
            return std::nullopt;
        }
        return 0x10000 + ((*unit - 0xD800) << 10) + (*low - 0xDC00);
    }

    // After the opening quote; through the closing one.
    std::optional<std::string> quotedRest() {
        std::string out;
        while (!atEnd()) {
            char c = text_[position_++];
            if (c == '"') {
                return out;
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (atEnd()) {
                return std::nullopt;
            }
            char escape = text_[position_++];
            switch (escape) {
                case '"':
                case '\\':
                case '\'':
                case '/':
                    out += escape;
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 'u':
                case 'U': {
                    auto codePoint = unicodeEscape();
                    if (!codePoint) {
                        return std::nullopt;
                    }
                    appendUTF8(out, *codePoint);
                    break;
                }
                default:
                    return std::nullopt;
            }
        }
        return std::nullopt;
    }

    std::string_view text_;
    std::size_t position_ = 0;
};

}  // namespace

std::optional<StringsTable> parseStringsFile(std::string_view content) {
    std::optional<std::string> converted;
    if (content.starts_with("\xEF\xBB\xBF")) {
        content.remove_prefix(3);
    } else if (content.starts_with("\xFF\xFE") || content.starts_with("\xFE\xFF")) {
        converted = utf16ToUTF8(content.substr(2), content[0] == '\xFE');
        if (!converted) {
            return std::nullopt;
        }
        content = *converted;
    }
    if (!isValidUTF8(content)) {
        return std::nullopt;
    }
    return Parser(content).parse();
}

}  // namespace quotalume
