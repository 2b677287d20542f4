#include "status_command.hpp"

#include "waybar_module.hpp"

#include <quotalume/codex_client.hpp>
#include <quotalume/codex_locator.hpp>
#include <quotalume/demo_snapshot.hpp>
#include <quotalume/l10n.hpp>
#include <quotalume/localized_message.hpp>
#include <quotalume/menu_bar_presentation.hpp>
#include <quotalume/preferences_store.hpp>
#include <quotalume/quota_text.hpp>
#include <quotalume/quotalume_error.hpp>
#include <quotalume/settings.hpp>
#include <quotalume/text.hpp>

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdlib>
#include <iostream>

namespace quotalume::cli {

const char* const statusHelp =
    "Usage: quotalume-cli status [--json | --waybar] [--demo] [--codex PATH] [--codex-home DIR]\n"
    "                            [--timeout SECONDS] [--lang CODE]\n"
    "\n"
    "Reads the Codex limits once and prints what is left of each window.\n"
    "\n"
    "  --json              one JSON object: {\"snapshot\": …} or {\"error\": {\"key\", "
    "\"arguments\",\n"
    "                      \"message\"}}, the message in the interface language; when no codex\n"
    "                      was chosen and none was detected, also \"suggestions\": the codex\n"
    "                      files found in the usual places. All times are ISO 8601 in UTC\n"
    "                      (\"2026-12-06T10:00:00Z\").\n"
    "  --waybar            one JSON line for a waybar custom module (\"return-type\": \"json\"):\n"
    "                      text, tooltip, class (normal, low, critical or error), percentage;\n"
    "                      text and tooltip are Pango markup (&, < and > escaped). A failure\n"
    "                      prints the error module with class \"error\" and exits 0, because\n"
    "                      waybar hides a module whose script fails.\n"
    "  --demo              show made-up demonstration data; Codex is not started\n"
    "  --codex PATH        the codex executable (empty: find it automatically)\n"
    "  --codex-home DIR    the Codex home directory (empty: $CODEX_HOME, else ~/.codex)\n"
    "                      Without these options the source saved in Quotalume's\n"
    "                      Settings › Source is used.\n"
    "  --timeout SECONDS   time limit of the whole exchange with Codex (default 25)\n"
    "  --lang CODE         interface language for this run (en, de, fr, ja, zh-Hans, …)\n"
    "  -h, --help          show this help\n"
    "\n"
    "Exit status: 0 when the limits were read, 1 when reading failed (0 with --waybar),\n"
    "2 on a usage error.\n";

namespace {

using nlohmann::json;

double parseTimeout(const std::string& text) {
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(value)) {
        throw UsageError("--timeout needs a number of seconds, not '" + text + "'");
    }
    return value;
}

// The source chosen in the app's settings; without a preferences file (or a home to keep one
// in) that is automatic detection.
CodexConfiguration savedSource() {
    Settings settings;
    try {
        settings = Settings::load(*PreferencesStore::standard());
    } catch (const std::exception&) {
        // No home directory: nothing was saved.
    }
    return {settings.codexPath, settings.codexHome, CodexConfiguration::defaultTimeout};
}

enum class Format { text, json, waybar };

// Every time in one form, ISO 8601 in UTC: Codex gives reset times in Unix seconds. One that
// is no date (such as milliseconds) is left out, as it is everywhere else.
json snapshotJSON(const UsageSnapshot& snapshot) {
    json out = snapshot.toJSON(DateCoding::iso8601);
    for (std::size_t i = 0; i < snapshot.buckets.size(); ++i) {
        const RateBucket& bucket = snapshot.buckets[i];
        for (const auto& [name, window] :
             {std::pair{"primary", bucket.primary}, std::pair{"secondary", bucket.secondary}}) {
            if (!window || !window->resetsAt) {
                continue;
            }
            json& member = out["buckets"][i][name];
            if (auto date = window->resetDate()) {
                member["resetsAt"] = iso8601(*date);
            } else {
                member.erase("resetsAt");
            }
        }
    }
    return out;
}

void print(const UsageSnapshot& snapshot, Format format) {
    const Date now = std::chrono::system_clock::now();
    switch (format) {
        case Format::json:
            std::cout << json{{"snapshot", snapshotJSON(snapshot)}}.dump() << "\n";
            return;
        case Format::waybar:
            std::cout << WaybarModule::of(snapshot, now).dump() << "\n";
            return;
        case Format::text:
            break;
    }
    auto bucket = snapshot.codexBucket();
    std::cout << MenuBarPresentation::title(bucket, false, MenuBarScope::both) << "\n";
    if (bucket) {
        for (const auto& line : windowLines(*bucket, now)) {
            std::cout << "  " << line << "\n";
        }
    }
}

struct Failure {
    LocalizedMessage message;
    // Set when automatic detection found no executable: codex files the user may choose.
    std::optional<std::vector<std::string>> suggestions;

    // What to do about it, one line each.
    std::vector<std::string> hints() const {
        std::vector<std::string> lines;
        if (suggestions && suggestions->empty()) {
            lines.push_back(L10n::render("cli.codex_hint"));
        }
        for (const auto& path : suggestions.value_or(std::vector<std::string>{})) {
            lines.push_back(L10n::render("cli.codex_found", {path}));
        }
        return lines;
    }
};

Failure failureOf(const std::exception& error, const CodexConfiguration& configuration) {
    Failure failure{LocalizedMessage::from(error), std::nullopt};
    const auto* ours = dynamic_cast<const QuotalumeError*>(&error);
    if (ours && ours->errorCase() == QuotalumeError::Case::executableMissing &&
        trimmed(configuration.executablePath).empty()) {
        failure.suggestions = CodexLocator::suggestions();
    }
    return failure;
}

void printFailure(const Failure& failure, Format format) {
    const LocalizedMessage& message = failure.message;
    switch (format) {
        case Format::json: {
            json error = message;
            error["message"] = L10n::render(message.key, message.arguments);
            if (failure.suggestions) {
                error["suggestions"] = *failure.suggestions;
            }
            std::cout << json{{"error", error}}.dump() << "\n";
            return;
        }
        case Format::waybar: {
            std::vector<std::string> lines = {L10n::render(message.key, message.arguments)};
            auto hints = failure.hints();
            lines.insert(lines.end(), hints.begin(), hints.end());
            std::cout << WaybarModule::make(L10n::render("quota.empty"), joinedLines(lines),
                                            "error")
                             .dump()
                      << "\n";
            return;
        }
        case Format::text:
            break;
    }
    std::cerr << "quotalume-cli: " << L10n::render(message.key, message.arguments) << "\n";
    for (const auto& hint : failure.hints()) {
        std::cerr << hint << "\n";
    }
}

int readAndPrint(const CodexConfiguration& configuration, Format format, bool demo) {
    try {
        print(demo ? demoSnapshot(std::chrono::system_clock::now())
                   : CodexClient().fetch(configuration),
              format);
        return success;
    } catch (const std::exception& error) {
        printFailure(failureOf(error, configuration), format);
        // waybar hides the module of a script that fails; the error object is what it should show.
        return format == Format::waybar ? success : failure;
    }
}

}  // namespace

int runStatus(Arguments& arguments) {
    const bool asJSON = arguments.flag("--json");
    const bool asWaybar = arguments.flag("--waybar");
    const bool demo = arguments.flag("--demo");
    if (asJSON && asWaybar) {
        throw UsageError("--json and --waybar exclude each other");
    }
    const Format format = asJSON ? Format::json : asWaybar ? Format::waybar : Format::text;
    CodexConfiguration configuration = savedSource();
    if (auto executable = arguments.value("--codex")) {
        configuration.executablePath = *executable;
    }
    if (auto home = arguments.value("--codex-home")) {
        configuration.homePath = *home;
    }
    if (auto timeout = arguments.value("--timeout")) {
        configuration.timeout = parseTimeout(*timeout);
    }
    arguments.finish();
    return readAndPrint(configuration, format, demo);
}

int readLimitsOnce(const CodexConfiguration& source) {
    return readAndPrint(source, Format::text, false);
}

}  // namespace quotalume::cli
