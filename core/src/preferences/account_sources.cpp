#include <quotalume/preferences/account_sources.hpp>

#include <quotalume/support/bounded_json.hpp>
#include <quotalume/support/text.hpp>

#include <nlohmann/json.hpp>

#include <algorithm>

namespace quotalume {
namespace {

using nlohmann::json;

// A list of eight sources with long paths fits with room to spare.
constexpr std::size_t largestList = 1 << 16;

std::size_t characters(std::string_view text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char byte) { return (byte & 0xC0) != 0x80; }));
}

// C1 controls (U+0080–U+009F) are two bytes in UTF-8: C2 80 to C2 9F.
bool hasC1Control(std::string_view text) {
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const auto next = static_cast<unsigned char>(text[i + 1]);
        if (lead == 0xC2 && next >= 0x80 && next <= 0x9F) {
            return true;
        }
    }
    return false;
}

std::optional<std::string> stringMember(const json& entry, const char* key, bool required) {
    const auto found = entry.find(key);
    if (found == entry.end() || found->is_null()) {
        return required ? std::nullopt : std::optional<std::string>(std::string());
    }
    if (!found->is_string()) {
        return std::nullopt;
    }
    return found->get<std::string>();
}

}  // namespace

AccountSources AccountSources::load(const PreferencesStore& store) {
    AccountSources sources;
    if (auto label = store.string(std::string(labelKey)); label && !labelProblem(*label)) {
        sources.firstLabel = std::string(trimmed(*label));
    }
    if (auto list = store.string(std::string(listKey))) {
        // A list that cannot be read watches the first source alone; the stored text is kept.
        if (auto parsed = sources.parseOthers(*list)) {
            sources.others = std::move(*parsed);
        } else {
            sources.unreadList = *list;
        }
    }
    return sources;
}

void AccountSources::save(PreferencesStore& store) const {
    // Left out while they are the defaults: one source stores exactly what it stored before.
    if (firstLabel == defaultLabel) {
        store.remove(std::string(labelKey));
    } else {
        store.setString(std::string(labelKey), firstLabel);
    }
    if (others.empty() && unreadList) {
        return;  // renaming the first source loses no list it could not read
    }
    if (others.empty()) {
        store.remove(std::string(listKey));
    } else {
        store.setString(std::string(listKey), othersText());
    }
}

std::vector<AccountSource> AccountSources::all(const Settings& settings) const {
    std::vector<AccountSource> every{{firstLabel, settings.codexHome, settings.codexPath}};
    every.insert(every.end(), others.begin(), others.end());
    return every;
}

std::optional<std::size_t> AccountSources::find(std::string_view label) const {
    const std::string_view wanted = trimmed(label);
    if (wanted == firstLabel) {
        return 0;
    }
    for (std::size_t i = 0; i < others.size(); ++i) {
        if (others[i].label == wanted) {
            return i + 1;
        }
    }
    return std::nullopt;
}

std::optional<std::string> AccountSources::labelProblem(std::string_view label) {
    const std::string_view text = trimmed(label);
    if (text.empty()) {
        return "a label of at least one character";
    }
    if (repairingUTF8(text) || hasControlCharacter(text) || hasC1Control(text)) {
        return "a label in UTF-8 without control characters";
    }
    if (characters(text) > longestLabel) {
        return "a label of at most " + std::to_string(longestLabel) + " characters";
    }
    // The tray's word for the source closest to running out: such a source could not be chosen.
    if (asciiLowercased(text) == "closest") {
        return "a label other than closest, which names the source closest to running out";
    }
    return std::nullopt;
}

std::string AccountSources::othersText() const {
    json list = json::array();
    for (const AccountSource& source : others) {
        list.push_back({{"label", source.label},
                        {"codexHome", source.codexHome},
                        {"codexPath", source.codexPath}});
    }
    return list.dump();
}

std::optional<std::vector<AccountSource>> AccountSources::parseOthers(std::string_view text) const {
    if (text.size() > largestList) {
        return std::nullopt;
    }
    const json list = parseBoundedJSON(text, 4);
    if (!list.is_array() || list.size() + 1 > maximum) {
        return std::nullopt;
    }
    std::vector<AccountSource> parsed;
    std::vector<std::string> labels{firstLabel};
    for (const json& entry : list) {
        if (!entry.is_object()) {
            return std::nullopt;
        }
        auto label = stringMember(entry, "label", true);
        auto home = stringMember(entry, "codexHome", false);
        auto path = stringMember(entry, "codexPath", false);
        // A path is checked as the first source's is: escaped in the list, a control character
        // would otherwise pass.
        if (!label || !home || !path || labelProblem(*label) || repairingUTF8(*home) ||
            repairingUTF8(*path) || hasControlCharacter(*home) || hasControlCharacter(*path) ||
            hasC1Control(*home) || hasC1Control(*path)) {
            return std::nullopt;
        }
        std::string name(trimmed(*label));
        if (std::find(labels.begin(), labels.end(), name) != labels.end()) {
            return std::nullopt;
        }
        labels.push_back(name);
        parsed.push_back(
            {std::move(name), std::string(trimmed(*home)), std::string(trimmed(*path))});
    }
    return parsed;
}

}  // namespace quotalume
