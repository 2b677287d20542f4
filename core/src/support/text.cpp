#include <quotalume/support/text.hpp>

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace quotalume {

std::string_view trimmed(std::string_view text) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(text.size());
    std::int32_t start = 0;
    while (start < length) {
        std::int32_t next = start;
        UChar32 c;
        U8_NEXT(bytes, next, length, c);
        if (c < 0 || !u_isUWhiteSpace(c)) {
            break;
        }
        start = next;
    }
    std::int32_t end = length;
    while (end > start) {
        std::int32_t previous = end;
        UChar32 c;
        U8_PREV(bytes, start, previous, c);
        if (c < 0 || !u_isUWhiteSpace(c)) {
            break;
        }
        end = previous;
    }
    return text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start));
}

std::string asciiLowercased(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return result;
}

bool hasControlCharacter(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](unsigned char c) { return c < 0x20 || c == 0x7F; });
}

std::optional<std::string> repairingUTF8(std::string_view text) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(std::min<std::size_t>(text.size(), INT32_MAX));
    std::int32_t at = 0;
    std::int32_t validUntil = 0;  // bytes before this are copied lazily, once repair starts
    std::optional<std::string> repaired;
    while (at < length) {
        const std::int32_t start = at;
        UChar32 c;
        U8_NEXT(bytes, at, length, c);
        if (c >= 0) {
            continue;
        }
        if (!repaired) {
            repaired.emplace();
            repaired->reserve(text.size() + 16);
        }
        repaired->append(text.substr(static_cast<std::size_t>(validUntil),
                                     static_cast<std::size_t>(start - validUntil)));
        repaired->append("\xEF\xBF\xBD");
        validUntil = at;
    }
    if (repaired) {
        repaired->append(text.substr(static_cast<std::size_t>(validUntil)));
    }
    return repaired;
}

std::string escapedLine(std::string_view text) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(std::min<std::size_t>(text.size(), INT32_MAX));
    std::string line;
    line.reserve(text.size());
    const auto hex = [&line](std::uint8_t byte) {
        constexpr const char* digits = "0123456789ABCDEF";
        line += "\\x";
        line += digits[byte >> 4];
        line += digits[byte & 0xF];
    };
    for (std::int32_t at = 0; at < length;) {
        const std::int32_t start = at;
        UChar32 c;
        U8_NEXT(bytes, at, length, c);
        if (c == '\\') {
            line += "\\\\";
        } else if (c == '\n') {
            line += "\\n";
        } else if (c == '\t') {
            line += "\\t";
        } else if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
            // Bytes that are not UTF-8, and controls a terminal would act on (C1 ones too).
            for (std::int32_t i = start; i < at; ++i) {
                hex(bytes[i]);
            }
        } else {
            line.append(
                text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(at - start)));
        }
    }
    return line;
}

std::vector<std::string> split(std::string_view text, char separator) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = std::min(text.find(separator, start), text.size());
        if (end > start) {
            pieces.emplace_back(text.substr(start, end - start));
        }
        start = end + 1;
    }
    return pieces;
}

std::string expandingTilde(std::string_view path) {
    if (path == "~" || path.starts_with("~/")) {
        return userHomeDirectory() + std::string(path.substr(1));
    }
    return std::string(path);
}

std::string userHomeDirectory(const std::function<const char*(const char*)>& environment) {
    const char* home = environment ? environment("HOME") : std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return home;
    }
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::string storage(size > 0 ? static_cast<std::size_t>(size) : 16384, '\0');
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, storage.data(), storage.size(), &found) == 0 && found &&
        found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return {};
}

std::string plainExcerpt(std::string_view text, std::size_t limit) {
    const std::optional<std::string> repaired = repairingUTF8(text);
    const std::string_view valid = repaired ? std::string_view(*repaired) : text;
    std::vector<std::string_view> characters;
    bool space = false;
    for (std::size_t i = 0; i < valid.size();) {
        const auto byte = static_cast<unsigned char>(valid[i]);
        const std::size_t length = byte < 0x80 ? 1 : byte < 0xE0 ? 2 : byte < 0xF0 ? 3 : 4;
        const std::string_view character = valid.substr(i, length);
        i += length;
        // C1 controls are U+0080–U+009F, encoded as C2 80 to C2 9F.
        const bool control = byte < 0x20 || byte == 0x7F ||
                             (byte == 0xC2 && static_cast<unsigned char>(character[1]) < 0xA0);
        if (control || trimmed(character).empty()) {
            space = true;
            continue;
        }
        if (space && !characters.empty()) {
            characters.push_back(" ");
        }
        space = false;
        characters.push_back(character);
    }
    std::string out;
    for (std::size_t k = 0; k < characters.size() && k < limit; ++k) {
        out += characters[k];
    }
    if (characters.size() > limit) {
        while (!out.empty() && out.back() == ' ') {
            out.pop_back();
        }
        out += "\u2026";
    }
    return out;
}

std::string shellQuoted(std::string_view word) {
    const bool plain = !word.empty() && std::all_of(word.begin(), word.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) ||
               std::strchr("/._-+:@%=,", c) != nullptr;
    });
    if (plain) {
        return std::string(word);
    }
    std::string quoted = "'";
    for (char c : word) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

}  // namespace quotalume
