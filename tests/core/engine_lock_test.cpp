#include "test_support.hpp"

#include <quotalume/engine_lock.hpp>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace quotalume {
namespace {

namespace fs = std::filesystem;

TEST(EngineLockTest, TheHolderSaysWhoItIsAndOthersAreRefusedWithoutAWord) {
    test::TempDir dir;
    EXPECT_FALSE(EngineLock::holder(dir.path()));
    const EngineHolder self{1234, "quotalume-cli watch", "/run/user/1000"};
    auto lock = EngineLock::acquire(dir.path(), self);
    ASSERT_TRUE(lock);
    EXPECT_EQ(test::modeOf(dir.path() / EngineLock::fileName), 0600u);
    EXPECT_EQ(EngineLock::holder(dir.path()), self);
    EXPECT_FALSE(EngineLock::acquire(dir.path(), {99, "quotalume", ""}));
    EXPECT_EQ(EngineLock::holder(dir.path()), self) << "a refused opener writes nothing";

    // Whatever else the file holds names nobody.
    for (const std::string& content : std::vector<std::string>{
             "", "{", "[]", R"({"pid":0,"program":"quotalume","runtimeDirectory":""})",
             R"({"pid":"7","program":"quotalume","runtimeDirectory":""})",
             R"({"pid":7,"program":"","runtimeDirectory":""})",
             R"({"pid":7,"program":"quotalume","runtimeDirectory":")" + std::string(5000, 'x') +
                 "\"}"}) {
        dir.write(EngineLock::fileName, content);
        EXPECT_FALSE(EngineLock::holder(dir.path())) << content;
    }
}

// An unwritable folder is reported as such, not as a missing lock file.
TEST(EngineLockTest, AFolderWhereNoLockFileMayBeMadeSaysWhy) {
    test::TempDir dir;
    const fs::path folder = dir.path() / "data";
    fs::create_directory(folder);
    ::chmod(dir.path().c_str(), 0755);
    ::chmod(folder.c_str(), 0555);
    const pid_t child = ::fork();
    if (child == 0) {
        // Root may write anywhere: the refusal needs an ordinary user.
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(100);
        }
        try {
            (void)EngineLock::acquire(folder);
            ::_exit(0);
        } catch (const std::system_error& error) {
            ::_exit(error.code().value());
        }
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), EACCES);
}

}  // namespace
}  // namespace quotalume
