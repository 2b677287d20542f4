#include <quotalume/l10n/l10n.hpp>

#include "embedded_english_table.hpp"
#include "strings_file.hpp"

#include <quotalume/preferences/preferences_store.hpp>
#include <quotalume/support/quotalume_error.hpp>

#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/regex.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <sstream>
#include <tuple>

namespace quotalume {
namespace {

namespace fs = std::filesystem;

// Older versions prefixed rendered delivery failures with this (five code points).
constexpr std::string_view legacyFailurePrefix = "投递失败：";

std::optional<std::string> readFile(const fs::path& path) {
    std::error_code error;
    if (!fs::is_regular_file(path, error)) {
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) {
        return std::nullopt;
    }
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) {
        return std::nullopt;
    }
    return std::move(content).str();
}

bool folderExists(const fs::path& path) {
    std::error_code error;
    return fs::is_directory(path, error);
}

fs::path locateResources() {
    if (const char* override = std::getenv("QUOTALUME_RESOURCES");
        override != nullptr && override[0] != '\0') {
        // An explicit choice is never second-guessed by the fallbacks below.
        return fs::path(override) / "l10n";
    }
    std::error_code error;
    fs::path executable = fs::read_symlink("/proc/self/exe", error);
    fs::path besideExecutable =
        (executable.parent_path() / ".." / "share" / "quotalume" / "l10n").lexically_normal();
    if (!error && folderExists(besideExecutable)) {
        return besideExecutable;
    }
#ifdef QUOTALUME_INSTALL_L10N_DIR
    if (folderExists(QUOTALUME_INSTALL_L10N_DIR)) {
        return QUOTALUME_INSTALL_L10N_DIR;
    }
#endif
    return besideExecutable;
}

std::string toUTF8(const icu::UnicodeString& text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

// Each ASCII punctuation character gets a backslash, which makes it literal in ICU patterns;
// letters, digits and everything beyond ASCII are literal as they are.
icu::UnicodeString regexLiteral(const icu::UnicodeString& text) {
    icu::UnicodeString out;
    for (int32_t i = 0; i < text.length(); ++i) {
        char16_t unit = text.charAt(i);
        bool punctuation = (unit >= 0x21 && unit <= 0x2F) || (unit >= 0x3A && unit <= 0x40) ||
                           (unit >= 0x5B && unit <= 0x60) || (unit >= 0x7B && unit <= 0x7E);
        if (punctuation) {
            out.append(char16_t(u'\\'));
        }
        out.append(unit);
    }
    return out;
}

icu::DateFormat::EStyle icuStyle(DateStyle style) {
    switch (style) {
        case DateStyle::none:
            return icu::DateFormat::kNone;
        case DateStyle::shortStyle:
            return icu::DateFormat::kShort;
        case DateStyle::mediumStyle:
            return icu::DateFormat::kMedium;
        case DateStyle::longStyle:
            return icu::DateFormat::kLong;
        case DateStyle::fullStyle:
            return icu::DateFormat::kFull;
    }
    return icu::DateFormat::kNone;
}

icu::Locale icuLocale(std::string_view identifier) {
    std::string name(identifier);
    std::replace(name.begin(), name.end(), '-', '_');
    return icu::Locale(name.c_str());
}

}  // namespace

// Templates of the Simplified Chinese table in key order, each with a pattern that captures
// what stood where its placeholders are (none for templates without placeholders).
struct L10n::Tables::LegacyPatterns {
    struct Entry {
        std::string key;
        std::string templateText;
        std::unique_ptr<icu::RegexPattern> pattern;
    };
    std::vector<Entry> entries;
};

L10n::Tables::Tables() = default;

L10n::Tables::Tables(const fs::path& directory, std::string_view englishFallback) {
    for (AppLanguage language : allAppLanguages) {
        if (language == AppLanguage::system) {
            continue;
        }
        auto file =
            directory / (std::string(rawValue(language)) + ".lproj") / "Localizable.strings";
        if (auto content = readFile(file)) {
            auto& table = tables_[static_cast<std::size_t>(language)];
            table = parseStringsFile(*content);
            filesLoaded_ += table.has_value() ? 1 : 0;
        }
    }
    auto& english = tables_[static_cast<std::size_t>(AppLanguage::english)];
    if (!english && !englishFallback.empty()) {
        english = parseStringsFile(englishFallback);
    }
}

L10n::Tables::~Tables() = default;

bool L10n::Tables::contains(AppLanguage language) const {
    return tables_[static_cast<std::size_t>(language)].has_value();
}

const L10n::Table& L10n::Tables::table(AppLanguage language) const {
    static const Table empty;
    const auto& loaded = tables_[static_cast<std::size_t>(
        resolved(language, language == AppLanguage::system ? systemPreferredLanguages()
                                                           : std::vector<std::string>{}))];
    return loaded ? *loaded : empty;
}

std::string L10n::Tables::render(std::string_view key, const std::vector<std::string>& arguments,
                                 AppLanguage language) const {
    auto templateFrom = [&](AppLanguage from) -> const std::string* {
        const auto& loaded = tables_[static_cast<std::size_t>(from)];
        if (!loaded) {
            return nullptr;
        }
        auto found = loaded->find(key);
        return found != loaded->end() ? &found->second : nullptr;
    };
    AppLanguage concrete =
        resolved(language, language == AppLanguage::system ? systemPreferredLanguages()
                                                           : std::vector<std::string>{});
    const std::string* found = templateFrom(concrete);
    if (found == nullptr) {
        found = templateFrom(AppLanguage::english);
    }
    return substitute(found != nullptr ? std::string_view(*found) : key, arguments);
}

const L10n::Tables::LegacyPatterns& L10n::Tables::legacyPatterns() const {
    std::call_once(legacyOnce_, [this] {
        auto patterns = std::make_unique<LegacyPatterns>();
        const auto& chinese = tables_[static_cast<std::size_t>(AppLanguage::chinese)];
        if (chinese) {
            UErrorCode status = U_ZERO_ERROR;
            std::unique_ptr<icu::RegexPattern> placeholder(
                icu::RegexPattern::compile(u"\\{\\d+\\}", 0, status));
            // Keys in UTF-16 code-unit order, which is how older versions tried them.
            std::vector<
                std::pair<icu::UnicodeString, const std::pair<const std::string, std::string>*>>
                ordered;
            for (const auto& entry : *chinese) {
                ordered.emplace_back(icu::UnicodeString::fromUTF8(entry.first), &entry);
            }
            std::stable_sort(ordered.begin(), ordered.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; });
            for (const auto& [unused, entry] : ordered) {
                LegacyPatterns::Entry compiled{entry->first, entry->second, nullptr};
                icu::UnicodeString templateText = icu::UnicodeString::fromUTF8(entry->second);
                UErrorCode matchStatus = status;
                std::unique_ptr<icu::RegexMatcher> splitter(
                    U_SUCCESS(matchStatus) ? placeholder->matcher(templateText, matchStatus)
                                           : nullptr);
                icu::UnicodeString source(u"^");
                int32_t pieceStart = 0;
                int pieces = 1;
                while (splitter && U_SUCCESS(matchStatus) && splitter->find(matchStatus)) {
                    int32_t start = splitter->start(matchStatus);
                    source.append(
                        regexLiteral(templateText.tempSubStringBetween(pieceStart, start)));
                    source.append(u"(.*?)");
                    pieceStart = splitter->end(matchStatus);
                    ++pieces;
                }
                source.append(regexLiteral(templateText.tempSubString(pieceStart)));
                source.append(u"$");
                if (pieces > 1 && U_SUCCESS(matchStatus)) {
                    UErrorCode compileStatus = U_ZERO_ERROR;
                    std::unique_ptr<icu::RegexPattern> pattern(
                        icu::RegexPattern::compile(source, 0, compileStatus));
                    if (U_SUCCESS(compileStatus)) {
                        compiled.pattern = std::move(pattern);
                    }
                }
                patterns->entries.push_back(std::move(compiled));
            }
        }
        legacyPatterns_ = std::move(patterns);
    });
    return *legacyPatterns_;
}

LocalizedMessage L10n::Tables::legacyMessage(std::string text) const {
    std::string_view matched = text;
    if (matched.starts_with(legacyFailurePrefix)) {
        matched.remove_prefix(legacyFailurePrefix.size());
    }
    const auto& patterns = legacyPatterns();
    icu::UnicodeString subject = icu::UnicodeString::fromUTF8(
        icu::StringPiece(matched.data(), static_cast<int32_t>(matched.size())));
    for (const auto& entry : patterns.entries) {
        if (entry.templateText == matched) {
            return LocalizedMessage(entry.key);
        }
        if (!entry.pattern) {
            continue;
        }
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::RegexMatcher> matcher(entry.pattern->matcher(subject, status));
        if (U_FAILURE(status) || !matcher->find(status) || U_FAILURE(status)) {
            continue;
        }
        std::vector<std::string> arguments;
        for (int32_t group = 1; group <= matcher->groupCount(); ++group) {
            arguments.push_back(toUTF8(matcher->group(group, status)));
        }
        if (U_SUCCESS(status)) {
            return LocalizedMessage(entry.key, std::move(arguments));
        }
    }
    return LocalizedMessage(std::move(text));
}

AppLanguage L10n::preference() {
    try {
        if (auto stored = PreferencesStore::standard()->string(std::string(preferenceKey))) {
            return appLanguageFromRawValue(*stored).value_or(AppLanguage::system);
        }
    } catch (const std::exception&) {
        // No home directory for the preferences file: nothing was chosen.
    }
    return AppLanguage::system;
}

AppLanguage L10n::language() {
    const AppLanguage language = resolved(preference(), systemPreferredLanguages());
    // Without its table a language would mix English words with its own numbers and dates.
    return tables().contains(language) ? language : AppLanguage::english;
}

std::string L10n::locale() {
    return locale(language());
}

std::string L10n::locale(AppLanguage language) {
    return std::string(formattingLocaleIdentifier(language));
}

const fs::path& L10n::resources() {
    static const fs::path directory = locateResources();
    return directory;
}

std::optional<fs::path> L10n::missingResources() {
    if (tables().filesLoaded() > 0) {
        return std::nullopt;
    }
    return resources();
}

const L10n::Tables& L10n::tables() {
    static const Tables instance(resources(), embeddedEnglishTable());
    return instance;
}

const L10n::Table& L10n::table(AppLanguage language) {
    return tables().table(language);
}

std::string L10n::render(std::string_view key, const std::vector<std::string>& arguments,
                         std::optional<AppLanguage> language) {
    return tables().render(key, arguments, language.value_or(preference()));
}

std::string L10n::substitute(std::string_view templateText,
                             const std::vector<std::string>& arguments) {
    std::string out;
    out.reserve(templateText.size());
    std::size_t copied = 0;
    std::size_t position = 0;
    while ((position = templateText.find('{', position)) != std::string_view::npos) {
        std::size_t digitsEnd = position + 1;
        while (digitsEnd < templateText.size() && templateText[digitsEnd] >= '0' &&
               templateText[digitsEnd] <= '9') {
            ++digitsEnd;
        }
        if (digitsEnd == position + 1 || digitsEnd >= templateText.size() ||
            templateText[digitsEnd] != '}') {
            ++position;
            continue;
        }
        // Parsed as a 64-bit integer first: "{99999999999999999999}" stays as it is even when
        // it would wrap around to a valid index.
        std::uint64_t index = 0;
        bool fits = true;
        for (std::size_t i = position + 1; i < digitsEnd && fits; ++i) {
            auto digit = static_cast<std::uint64_t>(templateText[i] - '0');
            fits = index <= (std::numeric_limits<std::int64_t>::max() - digit) / 10;
            index = index * 10 + digit;
        }
        if (fits && index < arguments.size()) {
            out.append(templateText.substr(copied, position - copied));
            out.append(arguments[index]);
            copied = digitsEnd + 1;
        }
        position = digitsEnd + 1;
    }
    out.append(templateText.substr(copied));
    return out;
}

namespace {

// The host's time zone as the C library would find it: TZ, else the /etc/localtime link. Read
// again only when one of them changed, not for every date formatted.
std::string hostZoneKey() {
    const char* variable = std::getenv("TZ");
    std::string key = variable != nullptr ? std::string("=") + variable : std::string("-");
    struct stat link {};
    if (::lstat("/etc/localtime", &link) == 0) {
        key += ":" + std::to_string(link.st_ino) + ":" + std::to_string(link.st_mtim.tv_sec) + "." +
               std::to_string(link.st_mtim.tv_nsec);
    }
    return key;
}

// Formatters are costly to make and a shown dashboard formats times every second: each thread
// keeps one per style and locale, for the host's time zone of the moment.
struct DateFormatters {
    std::string zoneKey;
    std::unique_ptr<icu::TimeZone> zone;
    std::map<std::tuple<DateStyle, DateStyle, std::string>, std::unique_ptr<icu::DateFormat>> made;

    icu::DateFormat* get(DateStyle dateStyle, DateStyle timeStyle, const std::string& locale) {
        if (std::string key = hostZoneKey(); !zone || key != zoneKey) {
            zone.reset(icu::TimeZone::detectHostTimeZone());
            zoneKey = std::move(key);
            made.clear();
        }
        auto& formatter = made[{dateStyle, timeStyle, locale}];
        if (!formatter) {
            formatter.reset(icu::DateFormat::createDateTimeInstance(
                icuStyle(dateStyle), icuStyle(timeStyle), icuLocale(locale)));
            if (formatter) {
                formatter->setTimeZone(*zone);
            }
        }
        return formatter.get();
    }
};

thread_local DateFormatters formatters;

}  // namespace

void L10n::releaseDateFormatters() {
    formatters = DateFormatters();
}

std::string L10n::date(std::chrono::system_clock::time_point date, DateStyle dateStyle,
                       DateStyle timeStyle) {
    if (dateStyle == DateStyle::none && timeStyle == DateStyle::none) {
        return {};
    }
    icu::DateFormat* formatter = formatters.get(dateStyle, timeStyle, locale());
    if (formatter == nullptr) {
        return {};
    }
    auto milliseconds = std::chrono::duration<double, std::milli>(date.time_since_epoch()).count();
    icu::UnicodeString formatted;
    formatter->format(static_cast<UDate>(milliseconds), formatted);
    return toUTF8(formatted);
}

std::string LocalizedMessage::localized() const {
    // A decoding failure that names its member: "error.system" with the code, the member's
    // path and what it should have been, so that older builds still read the code alone.
    if ((key == "error.system" || key == "error.config_read") && arguments.size() >= 3) {
        static constexpr std::pair<std::string_view, const char*> members[] = {
            {"missing", "error.member_missing"},     {"number", "error.member_not_number"},
            {"integer", "error.member_not_integer"}, {"string", "error.member_not_text"},
            {"boolean", "error.member_not_boolean"}, {"object", "error.member_not_object"},
            {"array", "error.member_not_list"},      {"invalid", "error.member_invalid"}};
        for (const auto& [expected, memberKey] : members) {
            if (arguments[2] == expected) {
                std::string member = L10n::render(memberKey, {arguments[1], arguments[0]});
                return key == "error.system"
                           ? member
                           : L10n::render("error.config_read_member", {std::move(member)});
            }
        }
    }
    return L10n::render(key, arguments);
}

LocalizedMessage LocalizedMessage::fromLegacyText(std::string text) {
    return L10n::tables().legacyMessage(std::move(text));
}

std::string QuotalumeError::errorDescription() const {
    return userMessage().localized();
}

}  // namespace quotalume
