#include "test_support.hpp"

#include <quotalume/coordination/engine_channel.hpp>
#include <quotalume/coordination/engine_lock.hpp>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <system_error>

namespace quotalume {
namespace {

namespace fs = std::filesystem;

TEST(EngineLockTest, TheHolderSaysWhoItIsAndOthersAreRefusedWithoutAWord) {
    test::TempDir dir;
    EXPECT_FALSE(EngineLock::holder(dir.path()));
    const EngineHolder self{1234, "quotalume-cli watch", "/run/user/1000",
                            "/run/user/1000/quotalume/engine-1234.sock"};
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

// The folder itself is locked too: deleting or replacing the lock file makes no second holder,
// and the holder puts the file back for views to find it by.
TEST(EngineLockTest, ADeletedOrReplacedLockFileMakesNoSecondHolder) {
    test::TempDir dir;
    const EngineHolder self{1234, "quotalume-cli watch", "/run/user/1000", "/run/x.sock"};
    auto lock = EngineLock::acquire(dir.path(), self);
    ASSERT_TRUE(lock);
    for (const char* how : {"deleted", "replaced by a link"}) {
        SCOPED_TRACE(how);
        fs::remove(dir.path() / EngineLock::fileName);
        if (std::string(how) == "replaced by a link") {
            fs::create_symlink("/dev/null", dir.path() / EngineLock::fileName);
        }
        EXPECT_FALSE(EngineLock::acquire(dir.path(), {99, "quotalume", ""}));
        EXPECT_TRUE(lock->keepLockFile(dir.path(), self));
        EXPECT_EQ(EngineLock::holder(dir.path()), self);
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir.path() / EngineLock::fileName)));
        EXPECT_FALSE(EngineLock::acquire(dir.path(), {99, "quotalume", ""}));
    }
    lock.reset();
    EXPECT_TRUE(EngineLock::acquire(dir.path(), {99, "quotalume", ""})) << "free once let go";
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

// Where the engine's socket goes: the runtime folder's own, private whatever it was, and
// /tmp/runtime-<user> without one; a path no socket address can hold is refused by name.
TEST(EngineSocketTest, APrivateFolderAndAPathThatFitsASocketAddress) {
    test::TempDir runtime;
    test::ScopedEnvironment variable("XDG_RUNTIME_DIR", runtime.str());
    fs::create_directory(runtime.path() / "quotalume");
    fs::permissions(runtime.path() / "quotalume", fs::perms::all);
    EXPECT_EQ(engine_socket::pathFor(42), runtime.path() / "quotalume/engine-42.sock");
    EXPECT_EQ(test::modeOf(runtime.path() / "quotalume"), 0700u);

    const std::string deep = runtime.str() + "/" + std::string(100, 'd');
    fs::create_directory(deep);
    test::ScopedEnvironment longer("XDG_RUNTIME_DIR", deep);
    try {
        engine_socket::pathFor(42);
        ADD_FAILURE() << "a path too long for a socket was accepted";
    } catch (const std::length_error& error) {
        EXPECT_NE(std::string(error.what()).find("107 bytes"), std::string::npos) << error.what();
    }
    fs::remove_all(deep);
    std::ofstream(deep) << "a file in the runtime folder's place";
    EXPECT_THROW(engine_socket::directory(), std::system_error);

    test::ScopedEnvironment unset("XDG_RUNTIME_DIR", nullptr);
    const fs::path fallback = engine_socket::directory();
    EXPECT_TRUE(fallback.parent_path().string().starts_with("/tmp/runtime-")) << fallback;
    EXPECT_EQ(test::modeOf(fallback.parent_path()), 0700u);
}

}  // namespace
}  // namespace quotalume
