#include "history_command.hpp"

#include "account_option.hpp"
#include "monitor_state.hpp"

#include <quotalume/l10n/l10n.hpp>
#include <quotalume/l10n/localized_message.hpp>
#include <quotalume/preferences/preferences_store.hpp>
#include <quotalume/preferences/settings.hpp>
#include <quotalume/webhook/webhook_configuration_store.hpp>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <exception>
#include <iostream>
#include <system_error>

namespace quotalume::cli {

const char* const historyHelp =
    "Usage: quotalume-cli history [--json] [--account LABEL] [--lang CODE]\n"
    "\n"
    "Prints the stored history of resets and warnings, newest first: for each its title, when\n"
    "it was detected, and what became of its notification and its webhook.\n"
    "\n"
    "  --json              a JSON array of {\"kind\" (\"reset\" or \"warning\"), \"id\", "
    "\"title\",\n"
    "                      \"observedAt\", \"localStatus\", \"webhookStatus\"}, warnings with "
    "their\n"
    "                      \"reason\" too; each status is {\"key\", \"arguments\", \"message\"},\n"
    "                      the message in the interface language; times are ISO 8601 in UTC.\n"
    "                      A history that cannot be read prints {\"error\": {…}} as status does.\n"
    "  --account LABEL     the history of the source with this label (config sources list);\n"
    "                      without it, the first source's\n"
    "  --lang CODE         interface language for this run (en, de, fr, ja, zh-Hans, …)\n"
    "  -h, --help          show this help\n"
    "\n"
    "Exit status: 0 when the history was read (an empty one too), 1 when it could not be read,\n"
    "2 on a usage error.\n";

namespace {

using nlohmann::json;

// One line of the history, a reset's or a warning's.
struct Entry {
    const Delivery* delivery;
    const char* kind;
    std::string id;
    std::string title;
    Date observedAt;
    std::optional<std::string> reason;
};

// Resets and warnings, newest first.
std::vector<Entry> entries(const MonitorState& state) {
    std::vector<Entry> all;
    for (const auto* records : {&state.records, &state.otherRecords}) {
        for (const EventRecord& record : *records) {
            all.push_back(
                {&record, "reset", record.id(), record.event.title(), record.event.observedAt, {}});
        }
    }
    for (const auto* warnings : {&state.warnings, &state.otherWarnings}) {
        for (const WarningRecord& record : *warnings) {
            all.push_back({&record, "warning", record.id(), record.event.title(),
                           record.event.observedAt, rawValue(record.event.reason)});
        }
    }
    std::stable_sort(all.begin(), all.end(),
                     [](const Entry& a, const Entry& b) { return a.observedAt > b.observedAt; });
    return all;
}

json entryJSON(const Entry& entry) {
    json out = {{"kind", entry.kind},
                {"id", entry.id},
                {"title", entry.title},
                {"observedAt", iso8601(entry.observedAt)},
                {"localStatus", localizedJSON(entry.delivery->localStatus)},
                {"webhookStatus", localizedJSON(entry.delivery->webhookStatus)}};
    if (entry.reason) {
        out["reason"] = *entry.reason;
    }
    return out;
}

std::string entryLine(const Entry& entry) {
    const char* dot = " \u00b7 ";
    return entry.title + dot +
           L10n::date(entry.observedAt, DateStyle::mediumStyle, DateStyle::mediumStyle) + dot +
           entry.delivery->localStatus.localized() + dot +
           entry.delivery->webhookStatus.localized();
}

}  // namespace

int runHistory(Arguments& arguments) {
    const bool asJSON = arguments.flag("--json");
    const AccountOption account = AccountOption::read(arguments);
    arguments.finish();

    LoadedState loaded;
    std::optional<LocalizedMessage> failure;
    try {
        const StateStore store(WebhookConfigurationStore::defaultDirectory());
        loaded = store.load();
        if (loaded.warning) {
            // The engine starts afresh from a file it cannot use; a reader only reports it.
            failure = LocalizedMessage("cli.history_unreadable", {store.url().string()});
        }
    } catch (const std::system_error& error) {
        failure = LocalizedMessage("error.system", {std::to_string(error.code().value())});
    }
    if (failure) {
        if (asJSON) {
            std::cout << json{{"error", localizedJSON(*failure)}}.dump(
                             -1, ' ', false, json::error_handler_t::replace)
                      << "\n";
        } else {
            std::cerr << "quotalume-cli: " << failure->localized() << "\n";
        }
        return ExitStatus::failure;
    }

    // What the engine would warn of too: resets that could not be sent, and why.
    try {
        if (Settings::load(*PreferencesStore::standard()).webhookEnabled) {
            (void)WebhookConfigurationStore().loadForSending();
        }
    } catch (const std::exception& error) {
        std::cerr << "quotalume-cli: " << LocalizedMessage::from(error).localized() << "\n";
    }

    const MonitorState* kept = account.state(loaded);
    const std::vector<Entry> all = kept ? entries(*kept) : std::vector<Entry>();
    if (asJSON) {
        json list = json::array();
        for (const Entry& entry : all) {
            list.push_back(entryJSON(entry));
        }
        std::cout << list.dump(-1, ' ', false, json::error_handler_t::replace) << "\n";
    } else if (all.empty()) {
        std::cout << L10n::render("notification.no_history") << "\n";
    } else {
        for (const Entry& entry : all) {
            std::cout << entryLine(entry) << "\n";
        }
    }
    return success;
}

}  // namespace quotalume::cli
