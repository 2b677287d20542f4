#include "status_command.hpp"

#include <quotalume/codex_client.hpp>
#include <quotalume/localized_message.hpp>

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace quotalume::cli {

const char* const statusHelp =
    "Usage: quotalume-cli status [--json] [--codex PATH] [--codex-home DIR] [--timeout SECONDS]\n"
    "\n"
    "Reads the Codex limits once and prints what is left of each window.\n"
    "\n"
    "  --json              print one JSON object: {\"snapshot\": …} or {\"error\": {\"key\", \"arguments\"}}\n"
    "  --codex PATH        the codex executable (empty: find it automatically)\n"
    "  --codex-home DIR    the Codex home directory (empty: $CODEX_HOME, else ~/.codex)\n"
    "  --timeout SECONDS   time limit of the whole exchange with Codex (default 25)\n"
    "  -h, --help          show this help\n"
    "\n"
    "Exit status: 0 when the limits were read, 1 when reading failed, 2 on a usage error.\n";

namespace {

double parseTimeout(const std::string& text) {
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(value)) {
        throw UsageError("--timeout needs a number of seconds, not '" + text + "'");
    }
    return value;
}

std::string plainText(const LocalizedMessage& message) {
    std::string text = message.key;
    for (const auto& argument : message.arguments) {
        text += " " + argument;
    }
    return text;
}

void printWindow(const RateBucket& bucket, QuotaWindow which, const char* name) {
    auto window = bucket.window(which);
    if (!window) {
        return;
    }
    std::cout << "  " << name << ": " << window->percentageText() << " left";
    if (auto reset = window->resetDate()) {
        std::cout << ", resets " << iso8601(*reset);
    }
    std::cout << "\n";
}

void printSnapshot(const UsageSnapshot& snapshot) {
    auto bucket = snapshot.codexBucket();
    if (!bucket) {
        return;
    }
    std::cout << bucket->title();
    if (bucket->planType) {
        std::cout << " (" << *bucket->planType << ")";
    }
    std::cout << "\n";
    printWindow(*bucket, QuotaWindow::fiveHour, "5-hour window");
    printWindow(*bucket, QuotaWindow::weekly, "Weekly window");
    if (bucket->credits && bucket->credits->shouldDisplay()) {
        const auto& credits = *bucket->credits;
        auto balance = credits.balanceValue();
        std::cout << "  Credits: "
                  << (credits.unlimited ? "unlimited" : balance ? balance->text() : credits.hasCredits ? "available" : "none")
                  << "\n";
    }
}

}  // namespace

int runStatus(Arguments& arguments) {
    const bool asJSON = arguments.flag("--json");
    CodexConfiguration configuration{arguments.value("--codex").value_or(""),
                                     arguments.value("--codex-home").value_or(""), 25};
    if (auto timeout = arguments.value("--timeout")) {
        configuration.timeout = parseTimeout(*timeout);
    }
    arguments.finish();

    try {
        UsageSnapshot snapshot = CodexClient().fetch(configuration);
        if (asJSON) {
            std::cout << nlohmann::json{{"snapshot", snapshot.toJSON(DateCoding::iso8601)}}.dump() << "\n";
        } else {
            printSnapshot(snapshot);
        }
        return success;
    } catch (const std::exception& error) {
        LocalizedMessage message = LocalizedMessage::from(error);
        if (asJSON) {
            std::cout << nlohmann::json{{"error", message}}.dump() << "\n";
        } else {
            std::cerr << "quotalume-cli: " << plainText(message) << "\n";
        }
        return failure;
    }
}

}  // namespace quotalume::cli
