#include "webhook_command.hpp"

#include <quotalume/l10n/l10n.hpp>
#include <quotalume/l10n/localized_message.hpp>
#include <quotalume/reset/reset_event.hpp>
#include <quotalume/support/quotalume_error.hpp>
#include <quotalume/webhook/webhook_configuration_store.hpp>
#include <quotalume/webhook/webhook_sender.hpp>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <optional>
#include <unistd.h>

namespace quotalume::cli {

const char* const webhookHelp =
    "Usage: quotalume-cli webhook test [--url URL [--format FORMAT] [--token-file PATH]\n"
    "                                   [--secret-file PATH]] [--lang CODE]\n"
    "\n"
    "Sends a test reset event to a webhook receiver and reports whether it was delivered.\n"
    "Without --url the saved webhook configuration is used, credentials included.\n"
    "\n"
    "  --url URL            the receiver: https://…, or http:// for localhost only\n"
    "  --format FORMAT      json (default), slack, discord, feishu or wecom\n"
    "  --token-file PATH    read the bearer token from PATH ('-' for standard input)\n"
    "  --secret-file PATH   read the signing secret from PATH ('-' for standard input);\n"
    "                       json requests are signed with it, feishu bodies carry its signature\n"
    "  --lang CODE          interface language of the messages (en, de, fr, ja, zh-Hans, …)\n"
    "  -h, --help           show this help\n"
    "\n"
    "Credentials are never taken on the command line, where every user of this machine could\n"
    "read them in the process list. Trailing line breaks of a file are ignored. The token and\n"
    "the secret are never printed.\n"
    "\n"
    "Every request is a POST with Content-Type \"application/json; charset=utf-8\", the event id\n"
    "in Idempotency-Key and X-Quotalume-Event-ID, and \"Authorization: Bearer TOKEN\" when a\n"
    "token is set.\n"
    "\n"
    "Signatures:\n"
    "  json     X-Quotalume-Timestamp is the Unix time in seconds; X-Quotalume-Signature is\n"
    "           \"sha256=\" and the lower-case hex HMAC-SHA256, keyed with the secret, of the\n"
    "           timestamp, a dot and the exact body bytes (TIMESTAMP.BODY). Verify it over the\n"
    "           raw body before parsing, and refuse old timestamps.\n"
    "  feishu   the body carries \"timestamp\" (Unix seconds, as text) and \"sign\", the Feishu "
    "bot\n"
    "           scheme: base64 of the HMAC-SHA256 keyed with TIMESTAMP, a line feed and the\n"
    "           secret, over an empty message.\n"
    "  slack, discord and wecom requests are not signed.\n"
    "\n"
    "Feishu and WeCom bots answer HTTP 200 even when they refuse a message: the test counts as\n"
    "delivered only when the bot's reply is JSON whose code (\"code\", \"errcode\" or\n"
    "\"StatusCode\") is 0. Other formats need any 2xx status.\n"
    "\n"
    "Exit status: 0 when the receiver accepted the test, 1 when it did not, 2 on a usage error.\n";

namespace {

// A credential from a file or standard input, without the line break that ends the file.
std::string readCredential(const std::string& option, const std::string& path) {
    int fd = path == "-" ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw UsageError("cannot read " + option + " " + path + ": " + std::strerror(errno));
    }
    std::string content;
    char buffer[4096];
    ssize_t count;
    while ((count = ::read(fd, buffer, sizeof buffer)) != 0) {
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0 || content.size() > (1 << 16)) {
            int error = count < 0 ? errno : EFBIG;
            if (fd != STDIN_FILENO) {
                ::close(fd);
            }
            throw UsageError("cannot read " + option + " " + path + ": " + std::strerror(error));
        }
        content.append(buffer, static_cast<std::size_t>(count));
    }
    if (fd != STDIN_FILENO) {
        ::close(fd);
    }
    while (!content.empty() && (content.back() == '\n' || content.back() == '\r')) {
        content.pop_back();
    }
    return content;
}

// A credential from its file option. The value itself is never accepted as an argument: the
// process list would show it to every user of the machine.
std::optional<std::string> credential(Arguments& arguments, const std::string& inlineOption,
                                      const std::string& fileOption, bool& stdinTaken) {
    if (arguments.value(inlineOption)) {
        throw UsageError(inlineOption +
                         " is not accepted: a credential on the command line is visible to "
                         "every user; use " +
                         fileOption + " PATH (or - for standard input)");
    }
    auto file = arguments.value(fileOption);
    if (!file) {
        return std::nullopt;
    }
    if (*file == "-") {
        if (stdinTaken) {
            throw UsageError("only one credential can come from standard input");
        }
        stdinTaken = true;
    }
    return readCredential(fileOption, *file);
}

int sendTest(Arguments& arguments) {
    auto url = arguments.value("--url");
    auto formatText = arguments.value("--format");
    bool stdinTaken = false;
    auto token = credential(arguments, "--token", "--token-file", stdinTaken);
    auto secret = credential(arguments, "--secret", "--secret-file", stdinTaken);
    // Looked for after the options, so that an option's value is never taken for it.
    if (!arguments.flag("test")) {
        throw UsageError("webhook needs the subcommand: webhook test [OPTIONS]");
    }
    arguments.finish();

    std::optional<WebhookFormat> format;
    if (formatText) {
        format = webhookFormatFromRawValue(*formatText);
        if (!format) {
            throw UsageError("--format must be json, slack, discord, feishu or wecom, not '" +
                             *formatText + "'");
        }
    }
    // The saved credentials must never go to an address typed on the command line.
    if (!url && (format || token || secret)) {
        throw UsageError(
            "--format, --token-file and --secret-file need --url; without it the saved "
            "configuration is used as it is");
    }

    try {
        WebhookConfiguration configuration;
        if (url) {
            configuration = {*url, format.value_or(WebhookFormat::json), token.value_or(""),
                             secret.value_or("")};
        } else {
            configuration = WebhookConfigurationStore().load();
            if (configuration.url.empty()) {
                throw QuotalumeError::webhook(LocalizedMessage("error.webhook_missing"));
            }
        }
        WebhookSender().send(ResetEvent::test(std::chrono::system_clock::now()), configuration,
                             true);
        std::cout << L10n::render("webhook.test_success") << "\n";
        return success;
    } catch (const std::exception& error) {
        std::cout.flush();
        std::cerr << "quotalume-cli: " << LocalizedMessage::from(error).localized() << "\n";
        return failure;
    }
}

}  // namespace

int runWebhook(Arguments& arguments) {
    if (arguments.flag("--help") || arguments.flag("-h")) {
        std::cout << webhookHelp;
        return success;
    }
    return sendTest(arguments);
}

}  // namespace quotalume::cli
