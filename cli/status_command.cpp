#include "status_command.hpp"

#include "account_option.hpp"
#include "metrics_command.hpp"
#include "reading_view.hpp"
#include "waybar_module.hpp"

#include <quotalume/support/bounded_json.hpp>
#include <quotalume/webhook/webhook_configuration_store.hpp>

#include <quotalume/codex/codex_client.hpp>
#include <quotalume/codex/codex_locator.hpp>
#include <quotalume/coordination/engine_channel.hpp>
#include <quotalume/l10n/l10n.hpp>
#include <quotalume/l10n/localized_message.hpp>
#include <quotalume/preferences/preferences_store.hpp>
#include <quotalume/preferences/settings.hpp>
#include <quotalume/presentation/menu_bar_presentation.hpp>
#include <quotalume/presentation/quota_text.hpp>
#include <quotalume/schedule/demo_snapshot.hpp>
#include <quotalume/support/quotalume_error.hpp>
#include <quotalume/support/text.hpp>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iostream>

namespace quotalume::cli {

const char* const statusHelp =
    "Usage: quotalume-cli status [--json | --waybar | --i3blocks] [--short | --format TEMPLATE]\n"
    "                            [--account LABEL | --json --all] [--fresh] [--demo]\n"
    "                            [--codex PATH] [--codex-home DIR] [--timeout SECONDS]\n"
    "                            [--lang CODE]\n"
    "\n"
    "Prints the tray's text, then what is left of each window (\"5-hour limit: 76% left ·\n"
    "Resets in 2 h 8 min\"), the Codex bucket's first, then a line for each other bucket (a\n"
    "model's limits). While the tray application or a watch runs, asks it\n"
    "for its latest reading (no Codex is started); otherwise reads the Codex limits once.\n"
    "An engine too busy to answer within two seconds has its last saved reading printed; one\n"
    "that does not answer at all is named, and Codex is read directly.\n"
    "\n"
    "  --json              the version-1 record as one JSON object: schema, observed_at,\n"
    "                      source (\"engine\" or \"codex\"), plan, stale, windows (id: five_hour,\n"
    "                      weekly or a length such as 30d; minutes, used_percent, left_percent,\n"
    "                      resets_at, resets_at_unix, resets_in), credits (has_credits,\n"
    "                      unlimited, balance, text), error (null or key, arguments, message),\n"
    "                      blocked (null or reason, detail, until) and limits (every bucket,\n"
    "                      Codex's first: id, name, windows, blocked), beside the raw\n"
    "                      \"snapshot\"; when no codex was chosen and none was detected,\n"
    "                      error.suggestions lists the codex files found in the usual places.\n"
    "                      Times are ISO 8601 in UTC.\n"
    "  --waybar            one JSON line for a waybar custom module (\"return-type\": \"json\"):\n"
    "                      text, tooltip (each window's line as status prints it), class\n"
    "                      (normal, low, critical or error; for stale figures or a failed\n"
    "                      reading a list of the level's and \"stale\", such as\n"
    "                      [\"critical\", \"stale\"]), percentage (the lowest share left);\n"
    "                      text and tooltip are Pango markup (&, < and > escaped).\n"
    "  --i3blocks          full text, short text and colour lines for i3blocks or polybar;\n"
    "                      stale figures or a failed reading are marked \"! \" and amber (red\n"
    "                      after a fault other than being offline); exit status 33 (urgent)\n"
    "                      when a shown window is at the critical level.\n"
    "                      A failure with --waybar or --i3blocks still prints a module (class\n"
    "                      \"error\", red) and exits 0, since a bar hides a script that fails;\n"
    "                      the message goes to standard error too.\n"
    "  --short             \"5H 88 · 7D 66\", for narrow bars\n"
    "  --format TEMPLATE   the text from a template of the record's members, such as\n"
    "                      \"{five_hour.left_percent}% {weekly.resets_in}\", "
    "\"{30d.left_percent}\"\n"
    "                      or \"{plan}\"; a window also as 5h or 7d. For bars, beside the\n"
    "                      record's: {5h.left}, the share left as the tray writes it (\"66%\",\n"
    "                      \"<1%\"); {weekly.resets_short}, the countdown in short (\"3d 4h\",\n"
    "                      \"2h 5m\", \"45m\", \"0m\" once due); {stale_mark}, \"! \" for stale\n"
    "                      figures or a failed reading. {label} is the source's label; {{\n"
    "                      and }} print braces\n"
    "  --account LABEL     the source with this label (config sources list), or closest for\n"
    "                      the one closest to running out; without it, the first source\n"
    "  --all               with --json: {\"schema\": 1, \"kind\": \"accounts\", \"accounts\": "
    "[…]},\n"
    "                      every source's record with its \"label\"\n"
    "  --fresh             have the running engine read now, and print that reading\n"
    "  --demo              show made-up demonstration data; Codex is not started\n"
    "  --codex PATH        the codex executable (empty: find it automatically)\n"
    "  --codex-home DIR    the Codex home directory (empty: $CODEX_HOME, else ~/.codex)\n"
    "                      Without these options the source saved in Quotalume's\n"
    "                      Settings › Source is used. With either, the running engine is not\n"
    "                      asked.\n"
    "  --timeout SECONDS   time limit of the whole exchange with Codex (default 25)\n"
    "  --lang CODE         interface language for this run (en, de, fr, ja, zh-Hans, …)\n"
    "  -h, --help          show this help\n"
    "\n"
    "Exit status: 0 when the limits were read, 1 when reading failed (0 with --waybar and\n"
    "--i3blocks), 2 on a usage error, 33 as above.\n";

double parseTimeout(const std::string& text) {
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(value)) {
        throw UsageError("--timeout needs a number of seconds, not '" + text + "'");
    }
    return value;
}

namespace {

using nlohmann::json;

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

// The record as status --json prints it: with the raw snapshot.
json fullRecord(const EngineReading& reading, Date now) {
    json record = reading.record(now);
    if (reading.snapshot) {
        record["snapshot"] = snapshotJSON(*reading.snapshot);
    }
    return record;
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

// What the running engine answers; a fresh reading waits for the refresh it asks for.
EngineAnswer askEngine(bool fresh, double timeout) {
    try {
        return EngineReading::ask(WebhookConfigurationStore::defaultDirectory(), fresh,
                                  std::chrono::steady_clock::now() + std::chrono::seconds(5) +
                                      std::chrono::milliseconds(static_cast<long long>(
                                          1000 * std::clamp(timeout, 1.0, 600.0))));
    } catch (const std::system_error&) {
        return {};  // no data folder: no engine either
    }
}

int show(const EngineReading& reading, const ViewOptions& view, const Failure* failure) {
    const Date now = std::chrono::system_clock::now();
    std::vector<std::string> problem;
    if (reading.error) {
        problem.push_back(reading.error->localized());
        if (failure != nullptr) {
            auto hints = failure->hints();
            problem.insert(problem.end(), hints.begin(), hints.end());
        }
    }
    const auto complain = [&] {
        for (std::size_t i = 0; i < problem.size(); ++i) {
            std::cerr << (i == 0 ? "quotalume-cli: " : "") << problem[i] << "\n";
        }
    };
    switch (view.form) {
        case ViewOptions::Form::json: {
            json record = fullRecord(reading, now);
            if (failure != nullptr && failure->suggestions) {
                record["error"]["suggestions"] = *failure->suggestions;
            }
            std::cout << jsonText(record) << "\n";
            return reading.error ? ExitStatus::failure : success;
        }
        case ViewOptions::Form::waybar:
            if (reading.snapshot) {
                std::cout << watchLine(reading, now, view) << "\n";
            } else {
                complain();
                std::cout << jsonText(WaybarModule::make(L10n::render("quota.empty"),
                                                         joinedLines(problem), "error"))
                          << "\n";
            }
            return success;
        case ViewOptions::Form::i3blocks:
            complain();
            std::cout << i3blocksLines(reading, now, view);
            return isCritical(reading) ? i3blocksUrgent : success;
        case ViewOptions::Form::text:
            break;
    }
    if (reading.snapshot) {
        if (view.shortText || view.format) {
            std::cout << headline(reading, now, view) << "\n";
        } else {
            auto bucket = reading.snapshot->codexBucket();
            const std::optional<BlockedState> blocked = reading.blocked();
            std::cout << MenuBarPresentation::title(bucket, reading.stale, MenuBarScope::both,
                                                    blocked.has_value())
                      << "\n";
            for (const auto& line : bucket ? windowLines(*bucket, now, ShareWording::left)
                                           : std::vector<std::string>{}) {
                std::cout << "  " << line << "\n";
            }
            if (blocked) {
                std::cout << "  " << blocked->text(now) << "\n";
            }
            for (const BucketSummary& other : reading.otherBuckets()) {
                std::cout << other.line(now) << "\n";
            }
        }
    }
    complain();
    return reading.error ? ExitStatus::failure : success;
}

// Every source's record, each with its label: one source's too.
int showAll(const EngineReading& reading, const ViewOptions& view) {
    if (view.metrics) {
        return showMetrics(reading, view);
    }
    const Date now = std::chrono::system_clock::now();
    json accounts = json::array();
    bool failed = false;
    for (const EngineReading* each : reading.sources()) {
        json record = fullRecord(*each, now);
        record["label"] = each->labelOr(view.saved.sources.firstLabel);
        accounts.push_back(std::move(record));
        failed = failed || each->error.has_value();
    }
    std::cout << jsonText({{"schema", 1}, {"kind", "accounts"}, {"accounts", std::move(accounts)}})
              << "\n";
    return failed ? ExitStatus::failure : success;
}

// Reads Codex once, itself, and shows the reading or the failure. Offline, the saved source's
// last figures are shown, stale, beside the message.
int readAndShow(const CodexConfiguration& configuration, const ViewOptions& view, bool demo,
                bool savedSourceRead = false) {
    EngineReading reading;
    try {
        reading.snapshot = demo ? demoSnapshot(std::chrono::system_clock::now())
                                : CodexClient().fetch(configuration);
        if (!demo) {
            try {
                // What an engine stored of this account, for the forecast.
                reading.forecastFrom(WebhookConfigurationStore::defaultDirectory(),
                                     std::chrono::system_clock::now());
            } catch (const std::system_error&) {
                // No data folder: no forecast.
            }
        }
        return show(reading, view, nullptr);
    } catch (const std::exception& error) {
        const Failure failure = failureOf(error, configuration);
        reading.error = failure.message;
        if (savedSourceRead && reading.offline()) {
            try {
                if (auto saved = EngineReading::saved(WebhookConfigurationStore::defaultDirectory(),
                                                      std::chrono::system_clock::now())) {
                    reading.snapshot = std::move(saved->snapshot);
                    reading.stale = true;
                }
            } catch (const std::system_error&) {
                // No data folder: nothing saved to show.
            }
        }
        return show(reading, view, &failure);
    }
}

}  // namespace

namespace {

void note(const LocalizedMessage& message) {
    std::cerr << "quotalume-cli: " << message.localized() << "\n";
}

// Shows what the running engine answered; nothing when Codex is to be read instead. An engine
// too busy to answer has its saved reading shown, never a Codex of our own beside it; one that
// does not answer is named, and then Codex is read by one such view at a time.
std::optional<int> showEngineAnswer(const EngineAnswer& answer, const ViewOptions& view,
                                    std::optional<engine_socket::ViewReadLock>& readLock,
                                    bool all = false) {
    using Outcome = EngineAnswer::Outcome;
    const std::string pid = std::to_string(answer.pid);
    const auto present = [&](const EngineReading& reading) {
        return all ? showAll(reading, view) : show(view.shown(reading), view, nullptr);
    };
    // A source the engine does not know (one saved since it started) is read here.
    const auto knows = [&](const EngineReading& reading) {
        const std::string wanted = view.account ? std::string(trimmed(*view.account)) : "";
        return !view.account || asciiLowercased(wanted) == "closest" ||
               (wanted == view.saved.sources.firstLabel && reading.label.empty()) ||
               reading.labelled(wanted) != nullptr;
    };
    switch (answer.outcome) {
        case Outcome::reading:
            if (!knows(*answer.reading)) {
                return std::nullopt;
            }
            return present(*answer.reading);
        case Outcome::busy:
            try {
                if (auto saved = EngineReading::saved(WebhookConfigurationStore::defaultDirectory(),
                                                      std::chrono::system_clock::now())) {
                    note(LocalizedMessage("engine.busy_saved", {pid}));
                    return present(*saved);
                }
            } catch (const std::system_error&) {
                // No data folder to read from: said as busy.
            }
            return present(EngineReading{
                .error = LocalizedMessage("engine.busy_nothing_saved", {pid}), .source = "engine"});
        case Outcome::silent:
            note(LocalizedMessage("engine.not_answering", {pid}));
            readLock = engine_socket::ViewReadLock::acquire(std::chrono::steady_clock::now() +
                                                            std::chrono::seconds(60));
            return std::nullopt;
        case Outcome::noEngine:
            break;
    }
    return std::nullopt;
}

}  // namespace

// Reads every saved source in turn (one Codex at a time), or the one --account names, and shows
// the chosen one or all.
int readSourcesAndShow(const ViewOptions& view, bool all, double timeout) {
    const SavedSources& saved = view.saved;
    const std::vector<AccountSource> sources = saved.sources.all(saved.settings);
    const bool closest = !all && asciiLowercased(trimmed(*view.account)) == "closest";
    const std::optional<std::size_t> only =
        all || closest ? std::nullopt : saved.sources.find(*view.account);
    EngineReading gathered;
    std::optional<Failure> failure;
    for (std::size_t i = 0; i < sources.size(); ++i) {
        if (only && *only != i) {
            continue;
        }
        const CodexConfiguration configuration{sources[i].codexPath, sources[i].codexHome, timeout};
        EngineReading reading;
        try {
            reading.snapshot = CodexClient().fetch(configuration);
        } catch (const std::exception& error) {
            failure = failureOf(error, configuration);
            reading.error = failure->message;
        }
        if (saved.sources.several()) {
            reading.label = sources[i].label;  // as the engine names them
        }
        if (only) {
            return show(reading, view, failure ? &*failure : nullptr);
        }
        (i == 0 ? gathered : gathered.accounts.emplace_back()) = std::move(reading);
    }
    return all ? showAll(gathered, view) : show(view.shown(gathered), view, nullptr);
}

int runStatus(Arguments& arguments) {
    const ViewOptions view = ViewOptions::read(arguments);
    const bool all = arguments.flag("--all");
    const bool demo = arguments.flag("--demo");
    const bool fresh = arguments.flag("--fresh");
    CodexConfiguration configuration = savedSource();
    bool ownSource = demo;
    if (auto executable = arguments.value("--codex")) {
        configuration.executablePath = *executable;
        ownSource = true;
    }
    if (auto home = arguments.value("--codex-home")) {
        configuration.homePath = *home;
        ownSource = true;
    }
    if (auto timeout = arguments.value("--timeout")) {
        configuration.timeout = parseTimeout(*timeout);
    }
    arguments.finish();
    if (all && view.form != ViewOptions::Form::json) {
        throw UsageError("--all lists every source as JSON: it needs --json");
    }
    if (all && view.account) {
        throw UsageError("--all and --account exclude each other");
    }
    if ((all || view.account) && ownSource) {
        throw UsageError(
            "--account and --all read the saved sources: they take no --codex, --codex-home or "
            "--demo");
    }

    std::optional<engine_socket::ViewReadLock> readLock;
    if (!ownSource) {
        if (auto shown =
                showEngineAnswer(askEngine(fresh, configuration.timeout), view, readLock, all)) {
            return *shown;
        }
    }
    if (all || (view.account && view.saved.sources.several())) {
        return readSourcesAndShow(view, all, configuration.timeout);
    }
    return readAndShow(configuration, view, demo, !ownSource);
}

int showEverySource(const ViewOptions& view, bool fresh, double timeout) {
    std::optional<engine_socket::ViewReadLock> readLock;
    if (auto shown = showEngineAnswer(askEngine(fresh, timeout), view, readLock, true)) {
        return *shown;
    }
    return readSourcesAndShow(view, true, timeout);
}

std::optional<int> showEngineReading(bool fresh) {
    std::optional<engine_socket::ViewReadLock> readLock;
    const EngineAnswer answer = askEngine(fresh, CodexConfiguration::defaultTimeout);
    if (answer.outcome == EngineAnswer::Outcome::noEngine) {
        return std::nullopt;
    }
    if (auto shown = showEngineAnswer(answer, ViewOptions{}, readLock)) {
        return shown;
    }
    return readAndShow(savedSource(), ViewOptions{}, false, true);
}

int readLimitsOnce(const CodexConfiguration& source) {
    return readAndShow(source, ViewOptions{}, false);
}

}  // namespace quotalume::cli
