#include "reading_view.hpp"

#include "account_option.hpp"
#include "waybar_module.hpp"

#include <quotalume/l10n/l10n.hpp>
#include <quotalume/preferences/preferences_store.hpp>
#include <quotalume/presentation/menu_bar_presentation.hpp>
#include <quotalume/presentation/quota_text.hpp>
#include <quotalume/support/bounded_json.hpp>
#include <quotalume/support/text.hpp>

#include <nlohmann/json.hpp>

#include <array>
#include <cmath>

namespace quotalume::cli {
namespace {

using nlohmann::json;

constexpr std::array<std::string_view, 16> recordMembers = {"schema",
                                                            "label",
                                                            "observed_at",
                                                            "source",
                                                            "plan",
                                                            "stale",
                                                            "credits.has_credits",
                                                            "credits.unlimited",
                                                            "credits.balance",
                                                            "credits.text",
                                                            "error.key",
                                                            "error.message",
                                                            "blocked.reason",
                                                            "blocked.detail",
                                                            "blocked.until",
                                                            "stale_mark"};
constexpr std::array<std::string_view, 11> windowMembers = {
    "minutes",     "used_percent",         "left_percent",
    "resets_at",   "resets_at_unix",       "resets_in",
    "pace_points", "forecast.runs_out_at", "forecast.lasts_until_reset",
    "left",        "resets_short"};

// A window in a template: by its record id (five_hour, weekly, 30d) or as --window names it
// (5h, 7d), the names a bar's user knows from the tray.
std::optional<QuotaWindow> windowNamed(std::string_view name) {
    const auto window = quotaWindowFromRecordId(name);
    return window ? window : quotaWindowFromOptionId(name);
}

bool isMember(std::string_view name) {
    for (std::string_view member : recordMembers) {
        if (name == member) {
            return true;
        }
    }
    // A window's members under its name: five_hour.left_percent, 5h.left, 30d.resets_in, …
    const std::size_t dot = name.find('.');
    if (dot == std::string_view::npos || !windowNamed(name.substr(0, dot))) {
        return false;
    }
    for (std::string_view member : windowMembers) {
        if (name.substr(dot + 1) == member) {
            return true;
        }
    }
    return false;
}

std::string text(const json& value) {
    if (value.is_string()) {
        return value.get<std::string>();
    }
    if (value.is_number_float() && std::isfinite(value.get<double>()) &&
        value.get<double>() == std::trunc(value.get<double>()) &&
        std::fabs(value.get<double>()) < 1e15) {
        return std::to_string(static_cast<long long>(value.get<double>()));
    }
    return value.is_null() ? "" : jsonText(value);
}

// The member `name` names in the record; null when the record does not hold it now.
json lookUp(const json& record, std::string_view name) {
    const std::size_t dot = name.find('.');
    std::string first(name.substr(0, dot));
    if (dot == std::string_view::npos) {
        return record.value(first, json());
    }
    const std::string rest(name.substr(dot + 1));
    if (const auto which = windowNamed(first)) {
        for (const json& window : record["windows"]) {
            if (window["id"] == recordId(*which)) {
                return lookUp(window, rest);
            }
        }
        return nullptr;
    }
    const json& parent = record.value(first, json());
    return parent.is_object() ? lookUp(parent, rest) : json();
}

// Calls `placeholder` with each name between braces and `literal` with the text around them;
// false for a brace left open.
template <typename Literal, typename Placeholder>
bool walkTemplate(std::string_view format, Literal literal, Placeholder placeholder) {
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format.compare(i, 2, "{{") == 0 || format.compare(i, 2, "}}") == 0) {
            literal(format[i]);
            ++i;
        } else if (format[i] == '{') {
            const std::size_t end = format.find('}', i);
            if (end == std::string_view::npos) {
                return false;
            }
            placeholder(format.substr(i + 1, end - i - 1));
            i = end;
        } else {
            literal(format[i]);
        }
    }
    return true;
}

}  // namespace

void checkTemplate(std::string_view format) {
    std::string unknown;
    const bool closed = walkTemplate(
        format, [](char) {},
        [&](std::string_view name) {
            if (unknown.empty() && !isMember(name)) {
                unknown = name;
            }
        });
    if (!closed) {
        throw UsageError("--format has a '{' without its '}' (write {{ for a brace)");
    }
    if (!unknown.empty()) {
        throw UsageError("--format names {" + unknown +
                         "}, which the record does not hold; see quotalume-cli status --help");
    }
}

std::string filledTemplate(std::string_view format, const json& record) {
    std::string out;
    walkTemplate(
        format, [&](char c) { out += c; },
        [&](std::string_view name) { out += text(lookUp(record, name)); });
    return out;
}

ViewOptions ViewOptions::read(Arguments& arguments) {
    ViewOptions options;
    int forms = 0;
    for (auto [flag, form] : {std::pair{"--json", Form::json}, std::pair{"--waybar", Form::waybar},
                              std::pair{"--i3blocks", Form::i3blocks}}) {
        if (arguments.flag(flag)) {
            options.form = form;
            ++forms;
        }
    }
    if (forms > 1) {
        throw UsageError("--json, --waybar and --i3blocks exclude each other");
    }
    options.shortText = arguments.flag("--short");
    options.format = arguments.value("--format");
    if (options.format) {
        checkTemplate(*options.format);
    }
    if ((options.shortText || options.format) && options.form == Form::json) {
        throw UsageError("--json prints the whole record: it takes neither --short nor --format");
    }
    if (options.shortText && options.format) {
        throw UsageError("--short and --format exclude each other");
    }
    options.account = arguments.value("--account");
    options.saved = SavedSources::load();
    if (options.account) {
        options.saved.check(*options.account, true);
    }
    return options;
}

std::string shortTitle(const EngineReading& reading) {
    std::string title = reading.title();
    std::erase(title, '%');
    return title;
}

namespace {

// The record as a template reads it, with what only a bar's text wants and the record never
// holds: each window's share left as the tray writes it ("66%", "<1%") and its countdown in
// short, and the tray's mark before stale figures.
json templateRecord(const EngineReading& reading, Date now, const ViewOptions& options) {
    json record = reading.record(now);
    if (!record.contains("label")) {
        record["label"] = options.saved.sources.firstLabel;  // one source: the record has none
    }
    record["stale_mark"] = isOutdated(reading) ? "! " : "";
    const auto bucket = reading.snapshot ? reading.snapshot->codexBucket() : std::nullopt;
    for (json& member : record["windows"]) {
        const auto which = quotaWindowFromRecordId(member["id"].get<std::string>());
        if (const auto window = bucket && which ? bucket->window(*which) : std::nullopt) {
            member["left"] = window->percentageText();
            member["resets_short"] = L10n::shortCountdown(window->resetDate(), now);
        }
    }
    return record;
}

}  // namespace

std::string headline(const EngineReading& reading, Date now, const ViewOptions& options) {
    if (options.format) {
        return filledTemplate(*options.format, templateRecord(reading, now, options));
    }
    return options.shortText ? shortTitle(reading) : reading.title();
}

std::vector<std::string> watchLines(const EngineReading& reading, Date now,
                                    const ViewOptions& options) {
    if (options.account || reading.accounts.empty() || options.isBar()) {
        return {watchLine(options.shown(reading), now, options)};
    }
    std::vector<std::string> lines;
    for (const EngineReading* each : reading.sources()) {
        // The record names its source itself.
        lines.push_back(options.form == ViewOptions::Form::json
                            ? watchLine(*each, now, options)
                            : each->label + ": " + watchLine(*each, now, options));
    }
    return lines;
}

namespace {

// What `watch` adds to the tray's text: the error, the standing warnings, or the status while
// there is nothing better to show.
std::optional<std::string> remark(const EngineReading& reading) {
    if (reading.error) {
        return reading.error->localized();
    }
    if (const std::optional<BlockedState> blocked = reading.blocked()) {
        return blocked->text(reading.snapshot->observedAt);
    }
    if (!reading.warnings.empty()) {
        std::string joined;
        for (const LocalizedMessage& warning : reading.warnings) {
            joined += (joined.empty() ? "" : " \u00b7 ") + warning.localized();
        }
        return joined;
    }
    if (reading.demo || !reading.snapshot || reading.stale) {
        return L10n::text(reading.statusKey());
    }
    return std::nullopt;
}

}  // namespace

std::string watchLine(const EngineReading& reading, Date now, const ViewOptions& options) {
    const std::optional<std::string> note = remark(reading);
    switch (options.form) {
        case ViewOptions::Form::json:
            return jsonText(reading.record(now));
        case ViewOptions::Form::i3blocks:
            return headline(reading, now, options);
        case ViewOptions::Form::waybar: {
            const bool custom = options.shortText || options.format;
            if (!reading.snapshot) {
                return jsonText(
                    WaybarModule::make(custom ? headline(reading, now, options) : reading.title(),
                                       note.value_or(""), reading.error ? "error" : "normal"));
            }
            nlohmann::json module = WaybarModule::of(reading, now, note.value_or(""));
            if (custom) {
                module["text"] =
                    WaybarModule::make(headline(reading, now, options), "", "")["text"];
            }
            return jsonText(module);
        }
        case ViewOptions::Form::text:
            break;
    }
    if (options.shortText || options.format) {
        return headline(reading, now, options);
    }
    return reading.title() + (note ? " \u00b7 " + *note : "");
}

bool isCritical(const EngineReading& reading) {
    if (reading.blocked()) {
        return true;
    }
    const auto bucket = reading.snapshot ? reading.snapshot->codexBucket() : std::nullopt;
    for (const auto& item : MenuBarPresentation::items(bucket, reading.scope)) {
        if (remainingLevel(*bucket->window(item.window)) == RemainingLevel::critical) {
            return true;
        }
    }
    return false;
}

std::string i3blocksLines(const EngineReading& reading, Date now, const ViewOptions& options) {
    if (!reading.snapshot) {
        const std::string empty = L10n::render("quota.empty");
        return empty + "\n" + empty + "\n#FF5555\n";
    }
    std::string lines = headline(reading, now, options) + "\n" + shortTitle(reading) + "\n";
    const auto bucket = reading.snapshot->codexBucket();
    RemainingLevel level = RemainingLevel::none;
    for (const auto& item : MenuBarPresentation::items(bucket, reading.scope)) {
        level = std::max(level, remainingLevel(*bucket->window(item.window)));
    }
    // Offline, the figures are only old: amber, as stale ones, not a fault's red.
    if ((reading.error && !reading.offline()) || level == RemainingLevel::critical ||
        reading.blocked()) {
        lines += "#FF5555\n";
    } else if (level == RemainingLevel::low || reading.stale) {
        lines += "#FFB000\n";
    }
    return lines;
}

}  // namespace quotalume::cli
