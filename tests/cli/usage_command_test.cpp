#include "cli_runner.hpp"

#include <quotalume/usage/usage_timeline.hpp>

#include <sqlite3.h>
#include <sys/stat.h>

#include <fstream>

namespace quotalume {
namespace {

namespace fs = std::filesystem;
using test::CLIRun;
using test::runCLI;

fs::path timelineFolder(const test::TempDir& home) {
    return home.path() / "data/Quotalume";
}

fs::path timelineFile(const test::TempDir& home) {
    return timelineFolder(home) / UsageTimeline::fileName;
}

// A timeline of one reading, all of it in the file itself rather than in its log.
void keepOneReading(const test::TempDir& home) {
    const Date at = dateFromUnixSeconds(1800000000);
    const RateBucket bucket{.limitId = "codex", .primary = RateWindow{25, 300, 1800003600}};
    {
        UsageTimeline timeline(timelineFolder(home));
        ASSERT_TRUE(timeline.record({at, std::string(64, 'a'), {bucket}, std::nullopt}, at));
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(timelineFile(home).c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

// Two accounts, two windows, a model's bucket beside Codex's, a fraction, a plan with a quote
// and a window without a reset time: each form prints the latest account's rows, oldest first
// and Codex's first of one time, in exactly these bytes.
TEST(UsageCommandTest, EachFormPrintsTheLatestAccountsRowsExactly) {
    test::TempDir home;
    const Date at = dateFromUnixSeconds(1800000000);
    {
        UsageTimeline timeline(timelineFolder(home));
        const auto keep = [&](Date when, char account, double used, std::optional<std::string> plan,
                              bool weeklyResets) {
            RateBucket bucket{
                .limitId = "codex",
                .primary = RateWindow{used, 300, 1800003600},
                .secondary = RateWindow{used / 3, 10080,
                                        weeklyResets ? std::optional(1800300000.0) : std::nullopt},
                .planType = std::move(plan)};
            // Unchanged a minute later: stored once.
            const RateBucket spark{.limitId = "codex_bengalfox",
                                   .limitName = "GPT-5.3-Codex-Spark",
                                   .primary = RateWindow{77, 300},
                                   .secondary = RateWindow{55, 10080, 1800300000}};
            ASSERT_TRUE(timeline.record({when, std::string(64, account), {bucket, spark}}, when));
        };
        keep(at - std::chrono::hours(1), 'a', 90, "pro", true);  // another account, earlier
        keep(at, 'b', 25, "plus", true);
        keep(at + std::chrono::minutes(1), 'b', 40, "a \"b\", c", false);
    }
    const struct {
        const char* name;
        std::vector<std::string> arguments;
        std::string output;
    } rows[] = {
        {"text",
         {},
         "2027-01-15T08:00:00Z  5H  25% used  75% left  resets 2027-01-15T09:00:00Z\n"
         "2027-01-15T08:00:00Z  7D  8.33% used  91.67% left  resets 2027-01-18T19:20:00Z\n"
         "2027-01-15T08:00:00Z  5H  77% used  23% left  codex_bengalfox\n"
         "2027-01-15T08:00:00Z  7D  55% used  45% left  resets 2027-01-18T19:20:00Z"
         "  codex_bengalfox\n"
         "2027-01-15T08:01:00Z  5H  40% used  60% left  resets 2027-01-15T09:00:00Z\n"
         "2027-01-15T08:01:00Z  7D  13.33% used  86.67% left\n"},
        {"csv",
         {"--csv"},
         "observed_at,window,used_percent,left_percent,resets_at,plan,bucket\n"
         "2027-01-15T08:00:00Z,five_hour,25,75,2027-01-15T09:00:00Z,plus,codex\n"
         "2027-01-15T08:00:00Z,weekly,8.33,91.67,2027-01-18T19:20:00Z,plus,codex\n"
         "2027-01-15T08:00:00Z,five_hour,77,23,,,codex_bengalfox\n"
         "2027-01-15T08:00:00Z,weekly,55,45,2027-01-18T19:20:00Z,,codex_bengalfox\n"
         "2027-01-15T08:01:00Z,five_hour,40,60,2027-01-15T09:00:00Z,,codex\n"
         "2027-01-15T08:01:00Z,weekly,13.33,86.67,,,codex\n"},
        {"json",
         {"--json"},
         "[{\"bucket\":\"codex\",\"left_percent\":75.0,\"observed_at\":\"2027-01-15T08:00:00Z\","
         "\"plan\":\"plus\",\"resets_at\":\"2027-01-15T09:00:00Z\",\"used_percent\":25.0,"
         "\"window\":\"five_hour\"},"
         "{\"bucket\":\"codex\",\"left_percent\":91.66666666666667,"
         "\"observed_at\":\"2027-01-15T08:00:00Z\","
         "\"plan\":\"plus\",\"resets_at\":\"2027-01-18T19:20:00Z\","
         "\"used_percent\":8.333333333333334,\"window\":\"weekly\"},"
         "{\"bucket\":\"codex_bengalfox\",\"left_percent\":23.0,"
         "\"observed_at\":\"2027-01-15T08:00:00Z\",\"plan\":null,\"resets_at\":null,"
         "\"used_percent\":77.0,\"window\":\"five_hour\"},"
         "{\"bucket\":\"codex_bengalfox\",\"left_percent\":45.0,"
         "\"observed_at\":\"2027-01-15T08:00:00Z\",\"plan\":null,"
         "\"resets_at\":\"2027-01-18T19:20:00Z\",\"used_percent\":55.0,\"window\":\"weekly\"},"
         "{\"bucket\":\"codex\",\"left_percent\":60.0,\"observed_at\":\"2027-01-15T08:01:00Z\","
         "\"plan\":\"a \\\"b\\\", c\",\"resets_at\":\"2027-01-15T09:00:00Z\","
         "\"used_percent\":40.0,\"window\":\"five_hour\"},"
         "{\"bucket\":\"codex\",\"left_percent\":86.66666666666667,\"observed_at\":\"2027-01-15T08:"
         "01:00Z\","
         "\"plan\":\"a \\\"b\\\", c\",\"resets_at\":null,"
         "\"used_percent\":13.333333333333334,\"window\":\"weekly\"}]\n"},
        {"one window",
         {"--json", "--window", "7d", "--since", "2027-01-15T08:01:00Z"},
         "[{\"bucket\":\"codex\",\"left_percent\":86.66666666666667,\"observed_at\":\"2027-01-"
         "15T08:01:00Z\","
         "\"plan\":\"a \\\"b\\\", c\",\"resets_at\":null,"
         "\"used_percent\":13.333333333333334,\"window\":\"weekly\"}]\n"},
        {"one bucket",
         {"--csv", "--bucket", "codex_bengalfox", "--window", "5h"},
         "observed_at,window,used_percent,left_percent,resets_at,plan,bucket\n"
         "2027-01-15T08:00:00Z,five_hour,77,23,,,codex_bengalfox\n"},
        {"a window of another length, none kept",
         {"--csv", "--window", "30d"},
         "observed_at,window,used_percent,left_percent,resets_at,plan,bucket\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::string> arguments = {"usage", "--lang", "en"};
        arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
        EXPECT_EQ(runCLI(arguments, home), (CLIRun{0, row.output}));
    }
}

// What stands in the timeline's place; what it returns is held while `usage` runs.
struct UsageFailureCase {
    const char* name;
    std::function<std::shared_ptr<void>(const test::TempDir& home)> make;
    const char* key;                       // nothing: no failure, and nothing printed
    std::vector<std::string> reason = {};  // what the message says after the file's name
};

void PrintTo(const UsageFailureCase& c, std::ostream* out) {
    *out << c.name;
}

class UsageCommandFailureTest : public ::testing::TestWithParam<UsageFailureCase> {};

TEST_P(UsageCommandFailureTest, SaysWhatFailedAndPrintsNoTimeline) {
    const UsageFailureCase& c = GetParam();
    test::TempDir home;
    fs::create_directories(timelineFolder(home));
    const std::shared_ptr<void> held = c.make(home);
    std::vector<std::string> arguments = {timelineFile(home).string()};
    arguments.insert(arguments.end(), c.reason.begin(), c.reason.end());
    const std::string failure =
        c.key ? "quotalume-cli: " + L10n::render(c.key, arguments, AppLanguage::english) + "\n"
              : "";
    for (const char* form : {"--csv", "--json"}) {
        SCOPED_TRACE(form);
        const CLIRun expected{c.key ? 1 : 0, c.key ? failure
                                             : std::string(form) == "--csv"
                                                 ? "observed_at,window,used_percent,"
                                                   "left_percent,resets_at,plan,bucket\n"
                                                 : "[]\n"};
        EXPECT_EQ(runCLI({"usage", form, "--lang", "en"}, home), expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    UsageCommand, UsageCommandFailureTest,
    ::testing::Values(
        UsageFailureCase{"noneKeptYet", [](const test::TempDir&) { return nullptr; }, nullptr},
        UsageFailureCase{"damaged",
                         [](const test::TempDir& home) {
                             keepOneReading(home);
                             // Every page after the first, where the readings are, overwritten.
                             const auto size = fs::file_size(timelineFile(home));
                             std::fstream file(timelineFile(home),
                                               std::ios::in | std::ios::out | std::ios::binary);
                             file.seekp(4096);
                             file << std::string(size - 4096, '\xA5');
                             return nullptr;
                         },
                         "timeline.damaged"},
        UsageFailureCase{"notADatabase",
                         [](const test::TempDir& home) {
                             home.write("data/Quotalume/usage.sqlite3", std::string(8192, 'x'));
                             return nullptr;
                         },
                         "timeline.damaged"},
        UsageFailureCase{
            "lockedByAnotherProgram",
            [](const test::TempDir& home) -> std::shared_ptr<void> {
                keepOneReading(home);
                sqlite3* db = nullptr;
                sqlite3_open(timelineFile(home).c_str(), &db);
                EXPECT_EQ(sqlite3_exec(db,
                                       "PRAGMA locking_mode=EXCLUSIVE;"
                                       " BEGIN EXCLUSIVE; DELETE FROM readings;",
                                       nullptr, nullptr, nullptr),
                          SQLITE_OK);
                return {db, [](void* held) { sqlite3_close(static_cast<sqlite3*>(held)); }};
            },
            "timeline.locked"},
        // Read-only: what keeps it from being read, never that it cannot be written.
        UsageFailureCase{"dataFolderIsAFile",
                         [](const test::TempDir& home) {
                             fs::remove(timelineFolder(home));
                             home.write("data/Quotalume", "not a folder");
                             return nullptr;
                         },
                         "timeline.unreadable",
                         {std::system_category().message(ENOTDIR)}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quotalume
