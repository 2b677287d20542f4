#include "cli_runner.hpp"

#include <regex>

namespace quotalume {
namespace {

using test::runCLI;

// Each help is the same however it is asked for; a mistake exits 2 and says what mends it.
TEST(CommandLineTest, HelpAndUsageErrors) {
    test::TempDir home;
    const std::pair<const char*, std::vector<test::Strings>> helps[] = {
        {"COMMAND", {{"--help"}, {"-h"}, {"help"}}},
        {"status", {{"status", "--help"}, {"help", "status"}}},
        {"watch", {{"watch", "--help"}, {"help", "watch"}}},
        {"history", {{"history", "-h"}, {"help", "history"}}},
        {"webhook", {{"webhook", "test", "--help"}, {"webhook", "--help"}, {"help", "webhook"}}},
    };
    for (const auto& [command, spellings] : helps) {
        SCOPED_TRACE(command);
        const auto help = runCLI(spellings.front(), home);
        EXPECT_EQ(help.exitCode, 0);
        EXPECT_TRUE(help.output.starts_with("Usage: quotalume-cli " + std::string(command) + " "))
            << help.output;
        for (const auto& spelling : spellings) {
            EXPECT_EQ(runCLI(spelling, home), help) << spelling.back();
        }
    }

    const std::string tryStatus = "Try 'quotalume-cli status --help'.";
    const struct {
        const char* name;
        test::Strings arguments;
        std::string says;
    } mistakes[] = {
        {"no command", {}, "Usage: quotalume-cli COMMAND"},
        {"an unknown command", {"frobnicate"}, "Try 'quotalume-cli --help'."},
        {"help on an unknown command", {"help", "frobnicate"}, "help takes one command"},
        {"an unknown option", {"status", "--bogus"}, tryStatus},
        {"a timeout without its value", {"status", "--timeout"}, tryStatus},
        {"a timeout that is not a number", {"status", "--timeout", "nan"}, tryStatus},
        {"an unknown language",
         {"status", "--demo", "--lang", "klingon"},
         "system, en, zh-Hans, zh-Hant, ja"},
        {"webhook without what to do", {"webhook"}, "Try 'quotalume-cli webhook --help'."},
        {"a window no length names", {"usage", "--window", "1440m"}, "such as 30d, 2h or 45m"},
        {"a window of no length", {"usage", "--window", "0d"}, "not '0d'"},
        {"a bucket of no id", {"usage", "--bucket", ""}, "--bucket takes a bucket's id"},
        {"a format naming a window no length names",
         {"status", "--demo", "--format", "{24h.left_percent}"},
         "which the record does not hold"},
        {"an option of status given to watch",
         {"watch", "--fresh"},
         "Try 'quotalume-cli watch --help'."},
    };
    for (const auto& mistake : mistakes) {
        SCOPED_TRACE(mistake.name);
        auto run = runCLI(mistake.arguments, home);
        EXPECT_EQ(run.exitCode, 2) << run.output;
        EXPECT_NE(run.output.find(mistake.says), std::string::npos) << run.output;
    }

    auto version = runCLI({"--version"}, home);
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(std::regex_match(version.output, std::regex(R"(quotalume-cli \d+\.\d+\.\d+\n)")))
        << version.output;
}

}  // namespace
}  // namespace quotalume
