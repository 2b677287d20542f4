#include "dashboard_opener.hpp"

#include "test_support.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace quotalume::cli {
namespace {

// A click on a watch's notification: the quotalume installed beside us, else the one on PATH,
// always with "--show" alone; the token only in its environment, and only a valid one.
TEST(DashboardOpenerTest, StartsTheOneBesideUsElseOnPathWithShowAlone) {
    const struct {
        const char* name;
        int besideMode;  // 0: nothing beside
        const char* onPath;
        const char* token;
        const char* started;  // "beside", a path, or "" when nothing starts
        const char* startedToken;
    } rows[] = {
        {"installed beside us", 0755, "/usr/bin/quotalume", "wl-1", "beside", "wl-1"},
        {"beside but not executable", 0644, "/usr/bin/quotalume", "", "/usr/bin/quotalume", ""},
        {"only on PATH, a token that is none", 0, "/usr/bin/quotalume", "x --settings",
         "/usr/bin/quotalume", ""},
        {"nowhere", 0, "", "wl-1", "", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        test::TempDir dir;
        if (row.besideMode != 0) {
            ::chmod(dir.write("quotalume", "#!/bin/sh\n").c_str(), row.besideMode);
        }
        std::vector<std::string> started;  // program, arguments, then the token
        const DashboardOpener opener(
            dir.path(), [&](const std::string&) { return std::string(row.onPath); },
            [&](const std::string& program, const std::vector<std::string>& arguments,
                const std::string& token) {
                started = {program};
                started.insert(started.end(), arguments.begin(), arguments.end());
                started.push_back(token);
                return true;
            });

        const std::string program = std::string(row.started) == "beside"
                                        ? (dir.path() / "quotalume").string()
                                        : row.started;
        std::vector<std::string> expected;
        if (!program.empty()) {
            expected = {program, "--show", row.startedToken};
        }
        EXPECT_EQ(opener.open(row.token), !program.empty());
        EXPECT_EQ(started, expected);
    }
}

}  // namespace
}  // namespace quotalume::cli
