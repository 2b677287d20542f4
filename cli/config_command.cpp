#include "config_command.hpp"

#include "engine_reading.hpp"
#include "preferences_model.hpp"
#include "status_command.hpp"

#include <quotalume/coordination/engine_channel.hpp>
#include <quotalume/coordination/engine_lock.hpp>
#include <quotalume/coordination/local_protocol.hpp>
#include <quotalume/l10n/l10n.hpp>
#include <quotalume/l10n/localized_message.hpp>
#include <quotalume/preferences/config_keys.hpp>
#include <quotalume/preferences/preferences_store.hpp>
#include <quotalume/preferences/settings.hpp>
#include <quotalume/support/bounded_json.hpp>
#include <quotalume/support/text.hpp>
#include <quotalume/webhook/webhook_configuration_store.hpp>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstddef>
#include <exception>
#include <iostream>
#include <memory>
#include <system_error>

namespace quotalume::cli {

const char* const configHelp =
    "Usage: quotalume-cli config list\n"
    "       quotalume-cli config get KEY\n"
    "       quotalume-cli config set KEY VALUE\n"
    "       quotalume-cli config sources list\n"
    "       quotalume-cli config sources add LABEL --codex-home DIR [--codex PATH]\n"
    "       quotalume-cli config sources rename OLD NEW\n"
    "       quotalume-cli config sources remove LABEL\n"
    "\n"
    "Reads and changes the preferences the tray app keeps in\n"
    "$XDG_CONFIG_HOME/Quotalume/defaults.json. list prints a KEY=VALUE line for every key, get\n"
    "prints the value alone, set checks the value as the settings window does and stores it.\n"
    "Values are printed on one line: a backslash, line feed and tab as \\\\, \\n and \\t, other\n"
    "control characters and bytes that are not UTF-8 as \\xHH. A value takes at most 3072\n"
    "bytes and no control characters.\n"
    "\n"
    "Keys:\n"
    "  codex.path              the codex executable, an absolute path (~/ works too)\n"
    "  codex.home              the Codex home directory (empty: $CODEX_HOME, else ~/.codex)\n"
    "  refresh.interval        seconds between readings, a whole number from 15 to 300\n"
    "  notifications.enabled   true or false (on/off, yes/no and 1/0 work too)\n"
    "  notifications.sound     true or false\n"
    "  webhook.enabled         true or false; the receiver and its credentials are set in the\n"
    "                          tray app and never shown here\n"
    "  webhook.warnings        true or false: the receiver gets the early warnings too\n"
    "  warnings.levels         what is left at which to warn: any of 50, 25, 10 and 5 separated\n"
    "                          by commas, or none (default 25,10)\n"
    "  warnings.forecast       true or false: warn when a window is forecast to run out before\n"
    "                          it resets (default true)\n"
    "  warnings.reset_moved    true or false: warn when a window's reset time moves later with\n"
    "                          nothing reset (default true)\n"
    "  warnings.credit_not_applied\n"
    "                          true or false: warn when a banked reset is spent and no window\n"
    "                          resets within ten minutes (default true)\n"
    "  warnings.buckets        the other buckets whose resets and warnings are announced too:\n"
    "                          bucket ids separated by commas, all, or nothing for the Codex\n"
    "                          bucket only (default)\n"
    "  metrics.textfile        a file the engine rewrites with its metrics after every\n"
    "                          reading, for node_exporter's textfile collector: an absolute\n"
    "                          path ending in .prom, in a folder node_exporter's user can\n"
    "                          read (written 0644); nothing for none (default)\n"
    "  metrics.listen          where the engine serves GET /metrics to Prometheus: a port\n"
    "                          (9464 is 127.0.0.1:9464), 127.0.0.1:PORT, [::1]:PORT, or\n"
    "                          another address of this machine, such as 0.0.0.0:9464, which\n"
    "                          anyone who can reach it may read; nothing for none (default)\n"
    "  language                system, en, zh-Hans, zh-Hant, ja, ko, fr, de, es, pt-BR, it, nl,\n"
    "                          pl, ru, tr, id or vi (any letter case; locale names work too)\n"
    "  tray.style              percentage, bars, bars_percentage, rings or rings_percentage\n"
    "  tray.scope              5h, 7d or both\n"
    "  tray.account            the label of the source the tray shows, closest for the one\n"
    "                          closest to running out, or nothing for the first (default);\n"
    "                          list leaves it out; get and set take it\n"
    "\n"
    "Setting codex.path or codex.home saves the source only when its executable and home\n"
    "folder exist, then reads the limits once with it, as Save and Connect does in\n"
    "Settings › Source, and prints them as status does.\n"
    "\n"
    "Sources: Quotalume can watch several Codex accounts (or Codex homes) side by side. The\n"
    "first source is codex.path and codex.home, labelled Default until renamed; it can be\n"
    "changed and renamed, never removed. sources list prints a line per source: the label, a\n"
    "tab, the Codex home, a tab, the executable (nothing when found automatically); a source\n"
    "whose Codex answers with the account of an earlier one is read once, as that one, and is\n"
    "named on standard error. Labels take 1 to 40 characters, no control characters, and no\n"
    "two sources share one; at most 8 sources in all.\n"
    "\n"
    "  --lang CODE         interface language of the messages (en, de, fr, ja, zh-Hans, …)\n"
    "  -h, --help          show this help\n"
    "\n"
    "Exit status: 0 on success; 1 when the preferences could not be written, or a new Codex\n"
    "source was saved but the limits could not be read with it; 2 on a usage error, such as an\n"
    "unknown key or a value the key does not take, when nothing is written.\n";

namespace {

// Opens the preferences file itself (not the standard store, which --lang may have overlaid)
// for `work`; a refused key or value is a usage error.
template <typename Work>
int withPreferences(Work work) {
    std::unique_ptr<FilePreferencesStore> store;
    try {
        store = std::make_unique<FilePreferencesStore>(FilePreferencesStore::defaultPath());
    } catch (const std::exception& error) {
        std::cerr << "quotalume-cli: " << LocalizedMessage::from(error).localized() << "\n";
        return failure;
    }
    if (auto unreadable = store->unreadableFile()) {
        std::cerr
            << "quotalume-cli: "
            << LocalizedMessage("error.preferences_unreadable", {unreadable->string()}).localized()
            << "\n";
    }
    try {
        PreferencesModel preferences(*store);
        return work(preferences);
    } catch (const ConfigError& error) {
        throw UsageError(error.what());
    } catch (const std::system_error& error) {
        std::cerr << "quotalume-cli: " << LocalizedMessage::from(error).localized() << "\n";
        return failure;
    }
}

int sourcesCommand(PreferencesModel& preferences, const std::vector<std::string>& operands,
                   const std::optional<std::string>& home,
                   const std::optional<std::string>& executable);

}  // namespace

std::optional<int> forwardToEngine(const std::string& key, const std::string& value) {
    if (repairingUTF8(key) || repairingUTF8(value)) {
        return std::nullopt;  // refused here, as without an engine, before anything is sent
    }
    std::optional<EngineHolder> holder;
    try {
        holder = EngineLock::holder(WebhookConfigurationStore::defaultDirectory());
    } catch (const std::system_error&) {
        return std::nullopt;  // no data folder: no engine either
    }
    auto channel =
        holder && !holder->socket.empty() ? EngineChannel::connect(holder->socket) : std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    if (!channel || !channel->send(local_protocol::configRequest(key, value)) ||
        !channel->flushBy(deadline)) {
        return std::nullopt;
    }
    const auto line = channel->awaitLine(deadline);
    const nlohmann::json answer = line ? parseBoundedJSON(*line) : nlohmann::json();
    if (!answer.is_object() || !answer.value("ok", nlohmann::json()).is_boolean()) {
        // It may have taken the change or not: saying nothing would hide that.
        std::cerr << "quotalume-cli: the running engine (process " << holder->pid
                  << ") did not answer; run config get " << key << " to see what is stored\n";
        return failure;
    }
    if (!answer["ok"].get<bool>()) {
        const bool refused = answer.value("usage", false);
        std::cerr << "quotalume-cli: " << answer.value("message", std::string()) << "\n"
                  << (refused ? "Nothing was saved.\n" : "");
        return refused ? usage : failure;
    }
    std::cout << key << "=" << escapedLine(answer.value("value", std::string())) << std::endl;
    if (isCodexSourceKey(key)) {
        // The engine reads with the new source now; its reading is the report.
        std::cerr << L10n::render("source.saved") << "\n";
        return showEngineReading(true).value_or(failure);
    }
    return success;
}

namespace {

int setValue(PreferencesModel& preferences, const std::string& key, const std::string& value);

// The tray keeps showing a renamed source, and the first once the one it showed is removed.
int followTray(PreferencesModel& preferences, const std::string& from, const std::string& to) {
    if (preferences.current().trayAccount != from) {
        return success;
    }
    return setValue(preferences, std::string(Preferences::trayAccountKey), to);
}

int setValue(PreferencesModel& preferences, const std::string& key, const std::string& value) {
    // Refused here, with or without an engine: a value no key takes is never sent.
    checkConfigValue(key, value);
    if (auto status = forwardToEngine(key, value)) {
        return *status;
    }
    try {
        preferences.set(key, value);
    } catch (const ConfigError& error) {
        if (!error.reason()) {
            throw UsageError(error.what());
        }
        // The window's own words for a source it would refuse, in the interface language.
        std::cerr << "quotalume-cli: " << key << ": " << error.reason()->localized() << "\n"
                  << "Nothing was saved.\n";
        return usage;
    }
    // Flushed, so that the lines keep their order when both streams go to one place.
    std::cout << key << "=" << escapedLine(preferences.value(key)) << std::endl;
    if (!isCodexSourceKey(key)) {
        return success;
    }
    std::cerr << L10n::render("source.saved") << "\n";
    const Settings& saved = preferences.settings();
    return readLimitsOnce({saved.codexPath, saved.codexHome, CodexConfiguration::defaultTimeout});
}

// Says which sources read the same account as an earlier one, as the running engine found.
void sameAccounts() {
    const EngineAnswer answer =
        EngineReading::ask(WebhookConfigurationStore::defaultDirectory(), false,
                           std::chrono::steady_clock::now() + std::chrono::seconds(3));
    if (!answer.reading) {
        return;
    }
    for (const EngineReading* each : answer.reading->sources()) {
        if (each->sameAs) {
            std::cerr << L10n::render("account.same_as_read_once", {each->label, *each->sameAs})
                      << "\n";
        }
    }
}

int sourcesCommand(PreferencesModel& preferences, const std::vector<std::string>& operands,
                   const std::optional<std::string>& home,
                   const std::optional<std::string>& executable) {
    const std::string action = operands.size() > 1 ? operands[1] : "";
    const std::size_t expected = action == "list"     ? 2
                                 : action == "add"    ? 3
                                 : action == "rename" ? 4
                                 : action == "remove" ? 3
                                                      : 0;
    if (expected == 0) {
        throw UsageError("config sources needs list, add LABEL, rename OLD NEW or remove LABEL");
    }
    if (operands.size() != expected) {
        throw UsageError("config sources " + action + " takes " +
                         (action == "list"     ? "no operands"
                          : action == "rename" ? "the old label and the new"
                                               : "one label"));
    }
    if ((home || executable) != (action == "add") || (action == "add" && !home)) {
        throw UsageError(action == "add" ? "config sources add needs --codex-home DIR"
                                         : "--codex-home and --codex belong to config sources add");
    }
    const AccountSources& sources = preferences.current().sources;
    if (action == "list") {
        for (const AccountSource& source : sources.all(preferences.settings())) {
            std::cout << escapedLine(source.label) << "\t" << escapedLine(source.codexHome) << "\t"
                      << escapedLine(source.codexPath) << "\n";
        }
        sameAccounts();
        return success;
    }
    const std::string& label = operands[2];
    const std::optional<std::size_t> found = sources.find(label);
    if (action != "add" && !found) {
        throw UsageError("no source is labelled '" + label + "'; config sources list shows them");
    }
    AccountSources next = sources;
    if (action == "add") {
        if (sources.all(preferences.settings()).size() >= AccountSources::maximum) {
            throw UsageError("at most " + std::to_string(AccountSources::maximum) +
                             " sources can be watched");
        }
        if (auto problem = AccountSources::labelProblem(label)) {
            throw UsageError("config sources add takes " + *problem);
        }
        next.others.push_back({label, *home, executable.value_or("")});
    } else if (action == "remove") {
        if (*found == 0) {
            throw UsageError(
                "the first source can be changed (codex.path, codex.home) and "
                "renamed, never removed");
        }
        next.others.erase(next.others.begin() + static_cast<std::ptrdiff_t>(*found - 1));
    } else if (*found == 0) {
        const int status =
            setValue(preferences, std::string(AccountSources::labelKey), operands[3]);
        return status == success ? followTray(preferences, label, operands[3]) : status;
    } else {
        next.others[*found - 1].label = operands[3];
    }
    const int status =
        setValue(preferences, std::string(AccountSources::listKey), next.othersText());
    if (status != success || action == "add") {
        return status;
    }
    return followTray(preferences, label, action == "rename" ? operands[3] : "");
}

}  // namespace

int runConfig(Arguments& arguments) {
    if (arguments.flag("--help") || arguments.flag("-h")) {
        std::cout << configHelp;
        return success;
    }
    const std::optional<std::string> home = arguments.value("--codex-home");
    const std::optional<std::string> executable = arguments.value("--codex");
    const std::vector<std::string> operands = arguments.rest();
    const std::string action = operands.empty() ? "" : operands.front();
    if (action == "sources") {
        return withPreferences([&](PreferencesModel& preferences) -> int {
            return sourcesCommand(preferences, operands, home, executable);
        });
    }
    if (home || executable) {
        throw UsageError("--codex-home and --codex belong to config sources add");
    }
    const std::size_t expected = action == "list"  ? 1
                                 : action == "get" ? 2
                                 : action == "set" ? 3
                                                   : 0;
    if (expected == 0) {
        throw UsageError("config needs list, get KEY, set KEY VALUE or sources");
    }
    if (operands.size() != expected) {
        throw UsageError(action == "list"  ? "config list takes no operands"
                         : action == "get" ? "config get takes one key"
                                           : "config set takes a key and a value");
    }

    return withPreferences([&](PreferencesModel& preferences) -> int {
        if (action == "list") {
            for (std::string_view key : configKeys()) {
                // Whatever the file holds, one line per key: a value never forges another.
                std::cout << key << "=" << escapedLine(preferences.value(key)) << "\n";
            }
            return success;
        }
        if (action == "get") {
            std::cout << escapedLine(preferences.value(operands[1])) << "\n";
            return success;
        }
        return setValue(preferences, operands[1], operands[2]);
    });
}

}  // namespace quotalume::cli
