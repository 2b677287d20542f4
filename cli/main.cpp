#include "command_line.hpp"
#include "config_command.hpp"
#include "history_command.hpp"
#include "metrics_command.hpp"
#include "preferences_overlay.hpp"
#include "status_command.hpp"
#include "termination.hpp"
#include "usage_command.hpp"
#include "watch_command.hpp"
#include "webhook_command.hpp"

#include <quotalume/l10n/app_language.hpp>
#include <quotalume/l10n/l10n.hpp>
#include <quotalume/preferences/preferences_store.hpp>
#include <quotalume/version.hpp>

#include <signal.h>

#include <cstdio>
#include <cstring>
#include <memory>

namespace quotalume::cli {

namespace {

// The user's preferences with the interface language replaced for this run only.
class LanguageOverride final : public PreferencesOverlay {
public:
    LanguageOverride(std::shared_ptr<PreferencesStore> base, AppLanguage language)
        : PreferencesOverlay(std::move(base)), language_(std::string(rawValue(language))) {}

protected:
    std::optional<Value> value(const std::string& key) const override {
        if (key == "appearance.language") {
            return Value(language_);
        }
        return PreferencesOverlay::value(key);
    }

private:
    std::string language_;
};

std::unique_ptr<ScopedStandardPreferences> overrideLanguage(Arguments& options) {
    auto code = options.value("--lang");
    if (!code) {
        return nullptr;
    }
    auto language = appLanguageFromTag(*code);
    if (!language) {
        std::string codes;
        for (AppLanguage known : allAppLanguages) {
            codes += (codes.empty() ? "" : ", ") + std::string(rawValue(known));
        }
        throw UsageError("unknown language '" + *code + "'; choose one of " + codes +
                         " (locale names such as de_DE.UTF-8 work too)");
    }
    std::shared_ptr<PreferencesStore> base;
    try {
        base = PreferencesStore::standard();
    } catch (const std::exception&) {
        // No home to keep preferences in: the language still applies.
    }
    return std::make_unique<ScopedStandardPreferences>(
        std::make_shared<LanguageOverride>(base, *language));
}

constexpr const char* mainHelp =
    "Usage: quotalume-cli COMMAND [OPTIONS]\n"
    "       quotalume-cli help COMMAND | --help | --version\n"
    "\n"
    "Reads the usage limits of your Codex account from the locally installed codex.\n"
    "\n"
    "Commands:\n"
    "  status     read the limits once and print them\n"
    "  watch      keep monitoring as the tray app does; print a line at every change\n"
    "  history    print the stored reset history\n"
    "  usage      print the usage timeline: every reading kept\n"
    "  metrics    print every source's reading for Prometheus (text format 0.0.4)\n"
    "  config     show or change the preferences (config list, get KEY, set KEY VALUE)\n"
    "  webhook    send a test event to the webhook receiver (webhook test)\n"
    "\n"
    "Every command takes --lang CODE to choose the interface language of its messages\n"
    "(en, zh-Hans, zh-Hant, ja, ko, fr, de, es, pt-BR, it, nl, pl, ru, tr, id, vi or system;\n"
    "any letter case, and locale names such as de_DE.UTF-8 or zh_TW).\n"
    "\n"
    "Run 'quotalume-cli help COMMAND' or 'quotalume-cli COMMAND --help' for the options of a\n"
    "command.\n";

// The help of a command, or nothing for a word that names none.
const char* commandHelp(const std::string& command) {
    if (command == "status") {
        return statusHelp;
    }
    if (command == "watch") {
        return watchHelp;
    }
    if (command == "history") {
        return historyHelp;
    }
    if (command == "webhook") {
        return webhookHelp;
    }
    if (command == "config") {
        return configHelp;
    }
    if (command == "usage") {
        return usageHelp;
    }
    if (command == "metrics") {
        return metricsHelp;
    }
    return nullptr;
}

}  // namespace
}  // namespace quotalume::cli

int main(int argc, char** argv) {
    using namespace quotalume::cli;
    endChildrenOnTermination();
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.empty()) {
        std::fputs(mainHelp, stderr);
        return usage;
    }
    const std::string command = arguments.front();
    if (command == "--version") {
        std::printf("quotalume-cli %s\n", quotalume::quotalumeVersion);
        return success;
    }
    if (command == "--help" || command == "-h" || (command == "help" && arguments.size() == 1)) {
        std::fputs(mainHelp, stdout);
        return success;
    }
    if (command == "help") {
        const char* help = arguments.size() == 2 ? commandHelp(arguments[1]) : nullptr;
        if (help == nullptr) {
            std::fprintf(stderr,
                         "quotalume-cli: help takes one command: status, watch, history, usage, "
                         "metrics, config or webhook\n");
            return usage;
        }
        std::fputs(help, stdout);
        return success;
    }
    if (auto missing = quotalume::L10n::missingResources()) {
        std::fprintf(stderr,
                     "quotalume-cli: no translation tables in %s; messages are in English\n",
                     missing->c_str());
    }
    if (command != "watch") {
        // A bar's click handler signals every quotalume-cli to have the engine read now; only
        // a watch listens, and the others must not die of it.
        ::signal(SIGUSR1, SIG_IGN);
    }
    Arguments options(std::vector<std::string>(arguments.begin() + 1, arguments.end()));
    try {
        auto language = overrideLanguage(options);
        if (command == "status" || command == "watch" || command == "history" ||
            command == "usage" || command == "metrics") {
            if (options.flag("--help") || options.flag("-h")) {
                std::fputs(commandHelp(command), stdout);
                return success;
            }
            return command == "status"    ? runStatus(options)
                   : command == "watch"   ? runWatch(options)
                   : command == "history" ? runHistory(options)
                   : command == "metrics" ? runMetrics(options)
                                          : runUsage(options);
        }
        if (command == "webhook") {
            return runWebhook(options);
        }
        if (command == "config") {
            return runConfig(options);
        }
        throw UsageError("unknown command: " + command);
    } catch (const UsageError& error) {
        // A mistake inside a command is best mended with that command's help.
        const std::string helpCommand =
            commandHelp(command) ? "quotalume-cli " + command + " --help" : "quotalume-cli --help";
        std::fprintf(stderr, "quotalume-cli: %s\nTry '%s'.\n", error.what(), helpCommand.c_str());
        return usage;
    }
}
