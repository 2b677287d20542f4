#pragma once

#include "command_line.hpp"

#include "account_option.hpp"
#include "engine_reading.hpp"

#include <nlohmann/json_fwd.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quotalume::cli {

// How a command prints a reading: one of the forms, with the text made shorter or by a template.
struct ViewOptions {
    enum class Form { text, json, waybar, i3blocks };
    Form form = Form::text;
    bool shortText = false;             // "5H 88 · 7D 66"
    std::optional<std::string> format;  // "{five_hour.left_percent}%", …
    // --account: the label of the source shown, or "closest"; every source's without it.
    std::optional<std::string> account;
    SavedSources saved;    // the sources as saved, for the labels
    bool metrics = false;  // every source as Prometheus reads it: the `metrics` command

    // --json, --waybar, --i3blocks, --short, --format TEMPLATE and --account LABEL; a UsageError
    // for forms that exclude each other, a template naming something the record does not hold
    // and a label no source has.
    static ViewOptions read(Arguments& arguments);
    // The source chosen with --account; the first without it.
    const EngineReading& shown(const EngineReading& reading) const {
        return reading.account(account.value_or(""));
    }
    // A bar's module shows a failure rather than go away with the script.
    bool isBar() const { return form == Form::waybar || form == Form::i3blocks; }
};

// The record's members filled into `format`: {plan}, {five_hour.left_percent}, {{ for "{", …
// Absent values are empty; numbers as the record holds them, whole ones without a fraction.
std::string filledTemplate(std::string_view format, const nlohmann::json& record);
// Throws UsageError naming the first placeholder that is no member of the record.
void checkTemplate(std::string_view format);

// The text of a bar: the template, the short form or the tray's text.
std::string headline(const EngineReading& reading, Date now, const ViewOptions& options);
// "5H 88 · 7D 66": the tray's text without percent signs.
std::string shortTitle(const EngineReading& reading);

// The one line `watch` prints for a reading.
std::string watchLine(const EngineReading& reading, Date now, const ViewOptions& options);
// Every line `watch` prints for it: the chosen source's, a bar's first source's, or one per
// source, each after its label.
std::vector<std::string> watchLines(const EngineReading& reading, Date now,
                                    const ViewOptions& options);

// i3blocks' three lines (full text, short text, colour) for a reading, or for a failure when
// it holds no figures; whether a shown window is at or under the critical level.
std::string i3blocksLines(const EngineReading& reading, Date now, const ViewOptions& options);
bool isCritical(const EngineReading& reading);
// i3blocks paints a block urgent when its command exits with this.
inline constexpr int i3blocksUrgent = 33;

}  // namespace quotalume::cli
