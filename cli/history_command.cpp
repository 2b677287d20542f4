#include "history_command.hpp"

#include "monitor_state.hpp"

#include <quotalume/l10n.hpp>
#include <quotalume/localized_message.hpp>
#include <quotalume/preferences_store.hpp>
#include <quotalume/settings.hpp>
#include <quotalume/webhook_configuration_store.hpp>

#include <nlohmann/json.hpp>

#include <exception>
#include <iostream>
#include <system_error>

namespace quotalume::cli {

const char* const historyHelp =
    "Usage: quotalume-cli history [--json] [--lang CODE]\n"
    "\n"
    "Prints the stored reset history, newest first: for each reset its title, when it was\n"
    "detected, and what became of its notification and its webhook.\n"
    "\n"
    "  --json              a JSON array of {\"id\", \"title\", \"observedAt\", \"localStatus\",\n"
    "                      \"webhookStatus\"}; each status is {\"key\", \"arguments\", "
    "\"message\"},\n"
    "                      the message in the interface language; times are ISO 8601 in UTC.\n"
    "                      A history that cannot be read prints {\"error\": {…}} as status does.\n"
    "  --lang CODE         interface language for this run (en, de, fr, ja, zh-Hans, …)\n"
    "  -h, --help          show this help\n"
    "\n"
    "Exit status: 0 when the history was read (an empty one too), 1 when it could not be read,\n"
    "2 on a usage error.\n";

namespace {

using nlohmann::json;

json recordJSON(const EventRecord& record) {
    return {{"id", record.id()},
            {"title", record.event.title()},
            {"observedAt", iso8601(record.event.observedAt)},
            {"localStatus", localizedJSON(record.localStatus)},
            {"webhookStatus", localizedJSON(record.webhookStatus)}};
}

std::string recordLine(const EventRecord& record) {
    const char* dot = " \u00b7 ";
    return record.event.title() + dot +
           L10n::date(record.event.observedAt, DateStyle::mediumStyle, DateStyle::mediumStyle) +
           dot + record.localStatus.localized() + dot + record.webhookStatus.localized();
}

}  // namespace

int runHistory(Arguments& arguments) {
    const bool asJSON = arguments.flag("--json");
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

    const auto& records = loaded.state.records;
    if (asJSON) {
        json list = json::array();
        for (const EventRecord& record : records) {
            list.push_back(recordJSON(record));
        }
        std::cout << list.dump(-1, ' ', false, json::error_handler_t::replace) << "\n";
    } else if (records.empty()) {
        std::cout << L10n::render("notification.no_history") << "\n";
    } else {
        for (const EventRecord& record : records) {
            std::cout << recordLine(record) << "\n";
        }
    }
    return success;
}

}  // namespace quotalume::cli
