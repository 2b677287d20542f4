#include "usage_command.hpp"

#include "account_option.hpp"

#include <quotalume/support/bounded_json.hpp>
#include <quotalume/support/date.hpp>
#include <quotalume/support/text.hpp>
#include <quotalume/usage/usage_timeline.hpp>
#include <quotalume/webhook/webhook_configuration_store.hpp>

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstddef>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace quotalume::cli {

const char* const usageHelp =
    "Usage: quotalume-cli usage [--window ID] [--bucket ID] [--since WHEN] [--csv | --json]\n"
    "                           [--account LABEL] [--lang CODE]\n"
    "\n"
    "Prints the usage timeline the engine (the tray application or a watch) keeps of the\n"
    "account read last (with several sources, the first source's), oldest first: when each\n"
    "reading was taken, the window, the share used and left, when the window resets, and the\n"
    "bucket (Codex's, or a model's such as codex_bengalfox) when it is not Codex's.\n"
    "\n"
    "  --window ID         only one window: 5h, 7d, or a length such as 30d, 2h or 45m\n"
    "  --bucket ID         only one bucket: codex, or another bucket's id\n"
    "  --since WHEN        only readings since WHEN: a date or date-time in UTC (2026-12-01,\n"
    "                      2026-12-01T08:00:00Z) or a time ago (90m, 24h, 7d)\n"
    "  --csv               comma-separated, with a header line: observed_at,window,\n"
    "                      used_percent,left_percent,resets_at,plan,bucket\n"
    "  --json              a JSON array of objects with those members; window is five_hour,\n"
    "                      weekly or a length such as 30d\n"
    "  --account LABEL     the timeline of the source with this label (config sources list)\n"
    "  --lang CODE         interface language for this run (en, de, fr, ja, zh-Hans, …)\n"
    "  -h, --help          show this help\n"
    "\n"
    "Times are ISO 8601 in UTC. Exit status: 0 when the timeline was read (an empty one too),\n"
    "1 when it could not be read, 2 on a usage error.\n";

namespace {

using nlohmann::json;

Date parseSince(const std::string& text, Date now) {
    if (auto date = parseISO8601(text)) {
        return *date;
    }
    if (auto day = parseISO8601(text + "T00:00:00Z")) {
        return *day;
    }
    std::size_t used = 0;
    long long count = -1;
    try {
        count = std::stoll(text, &used);
    } catch (const std::exception&) {
    }
    const std::string unit = text.substr(used);
    const long long seconds = unit == "m" ? 60 : unit == "h" ? 3600 : unit == "d" ? 86400 : 0;
    if (count < 0 || seconds == 0 || count > 1'000'000) {
        throw UsageError(
            "--since takes a date (2026-12-01), a date-time (2026-12-01T08:00:00Z) "
            "or a time ago (90m, 24h, 7d), not '" +
            text + "'");
    }
    return now - std::chrono::seconds(count * seconds);
}

std::string number(double value) {
    const double rounded = std::round(value * 100) / 100;  // two decimals at most, like Codex's
    json out =
        rounded == std::trunc(rounded) ? json(static_cast<long long>(rounded)) : json(rounded);
    return out.dump();
}

enum class Form { text, csv, json };

// Rows go out a block at a time, streamed from the statement: a year of them costs what a
// block does. Until the first block goes out a failure can still be said alone, the block
// dropped.
class Output {
public:
    static constexpr std::size_t blockSize = 64 * 1024;

    void add(std::string_view text) {
        block_ += text;
        if (block_.size() >= blockSize) {
            flush();
        }
    }
    void flush() {
        std::cout.write(block_.data(), static_cast<std::streamsize>(block_.size()));
        block_.clear();
    }

private:
    std::string block_;
};

// A bucket's id is Codex's text: quoted when it holds what CSV gives a meaning.
std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c == '"' ? "\"\"" : std::string(1, c);
    }
    return quoted + "\"";
}

// One row in the chosen form; JSON members in the order (and with the numbers) nlohmann/json
// writes them, as the whole array was written before.
std::string line(const TimelineRow& row, Form form, bool first) {
    const std::string observed = iso8601(row.observedAt);
    const std::string resets = row.resetsAt ? iso8601(*row.resetsAt) : "";
    switch (form) {
        case Form::csv: {
            // Plan names are Codex's lower-case words; a comma or quote would be no plan.
            const std::string plan = row.plan.value_or("");
            return observed + "," + recordId(row.window) + "," + number(row.usedPercent) + "," +
                   number(100 - row.usedPercent) + "," + resets + "," +
                   (plan.find_first_of(",\"\n") == std::string::npos ? plan : "") + "," +
                   csvField(row.bucket) + "\n";
        }
        case Form::json:
            return std::string(first ? "" : ",") + "{\"bucket\":" + jsonText(row.bucket) +
                   ",\"left_percent\":" + json(100 - row.usedPercent).dump() +
                   ",\"observed_at\":\"" + observed +
                   "\",\"plan\":" + (row.plan ? jsonText(*row.plan) : "null") +
                   ",\"resets_at\":" + (row.resetsAt ? "\"" + resets + "\"" : "null") +
                   ",\"used_percent\":" + json(row.usedPercent).dump() +
                   ",\"window\":" + jsonText(recordId(row.window)) + "}";
        case Form::text:
            break;
    }
    return observed + "  " + shortTitle(row.window) + "  " + number(row.usedPercent) + "% used  " +
           number(100 - row.usedPercent) + "% left" + (row.resetsAt ? "  resets " + resets : "") +
           (row.bucket == "codex" ? "" : "  " + row.bucket) + "\n";
}

}  // namespace

int runUsage(Arguments& arguments) {
    RowFilter filter;
    if (auto name = arguments.value("--window")) {
        filter.window = quotaWindowFromOptionId(*name);
        if (!filter.window) {
            throw UsageError("--window takes 5h, 7d or a length such as 30d, 2h or 45m, not '" +
                             *name + "'");
        }
    }
    if (auto bucket = arguments.value("--bucket")) {
        if (bucket->empty() || bucket->size() > RateLimitsResponse::longestBucketId ||
            hasControlCharacter(*bucket)) {
            throw UsageError("--bucket takes a bucket's id, such as codex, not '" + *bucket + "'");
        }
        filter.bucket = *bucket;
    }
    const Date now = std::chrono::system_clock::now();
    std::optional<Date> since;
    if (auto when = arguments.value("--since")) {
        since = parseSince(*when, now);
    }
    const bool csv = arguments.flag("--csv");
    const bool asJSON = arguments.flag("--json");
    if (csv && asJSON) {
        throw UsageError("--csv and --json exclude each other");
    }
    const AccountOption chosen = AccountOption::read(arguments);
    arguments.finish();

    std::filesystem::path directory;
    try {
        directory = WebhookConfigurationStore::defaultDirectory();
    } catch (const std::system_error& error) {
        std::cerr << "quotalume-cli: cannot find the data folder: " << error.what() << "\n";
        return failure;
    }
    // No file is an empty timeline; one that is damaged, locked, a link or another user's is a
    // failure.
    UsageTimeline timeline(directory, {.readOnly = true});
    std::optional<std::string> account;
    if (chosen.given || chosen.several) {
        // Several sources read in turn: the one meant, by the account the engine last read it as.
        const LoadedState saved = StateStore(directory).load();
        const MonitorState* state = chosen.state(saved);
        if (state && state->snapshot) {
            account = state->snapshot->accountFingerprint;
        }
    } else {
        account = timeline.latestAccount();
    }
    const auto failed = [&timeline] {
        std::cerr << "quotalume-cli: " << timeline.warning()->localized() << "\n";
        return failure;
    };
    if (timeline.warning()) {
        return failed();
    }
    const Form form = csv ? Form::csv : asJSON ? Form::json : Form::text;
    Output output;
    output.add(form == Form::csv
                   ? "observed_at,window,used_percent,left_percent,resets_at,plan,bucket\n"
               : form == Form::json ? "["
                                    : "");
    bool first = true;
    const bool read = !account || timeline.eachRow(*account, filter, since.value_or(Date()),
                                                   [&](const TimelineRow& row) {
                                                       output.add(line(row, form, first));
                                                       first = false;
                                                   });
    if (!read && timeline.warning()) {
        return failed();  // what is still held is dropped: said alone unless a block went out
    }
    output.add(form == Form::json ? "]\n" : "");
    output.flush();
    return success;
}

}  // namespace quotalume::cli
