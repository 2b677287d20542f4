#include "test_support.hpp"

#include <quotalume/codex/codex_locator.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <sys/stat.h>

namespace quotalume {
namespace {

namespace fs = std::filesystem;
using test::environmentOf;
using test::failureOf;
using test::TempDir;

class CodexLocatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        executable = makeFile("bin/codex", 0755);
        plain = makeFile("bin/notes.txt", 0644);
        fs::create_directories(dir.path() / "bin/folder");
        goodApp = (dir.path() / "Good.app").string();
        makeFile("Good.app/Contents/Resources/codex", 0755);
        lockedApp = (dir.path() / "Locked.app").string();
        makeFile("Locked.app/Contents/Resources/codex", 0644);
        makeFile("Upper.APP/Contents/Resources/codex", 0700);
    }

    std::string makeFile(const std::string& relative, mode_t mode) {
        const auto path = dir.write(relative, "#!/bin/sh\n");
        ::chmod(path.c_str(), mode);
        return path.string();
    }

    TempDir dir;
    std::string executable, plain, goodApp, lockedApp;
};

TEST_F(CodexLocatorTest, ExecutablesAsTypedWithATildeOrFromTheGivenApplications) {
    EXPECT_EQ(CodexLocator::executable(executable), executable);
    EXPECT_EQ(CodexLocator::executable("  \t" + executable + "\n\u2028"), executable);
    EXPECT_EQ(CodexLocator::executable(dir.str() + "/Upper.APP"),
              dir.str() + "/Upper.APP/Contents/Resources/codex");
    EXPECT_EQ(CodexLocator::executable(goodApp + "/"), goodApp + "/Contents/Resources/codex");
    // Returned as built: neither normalised nor resolved.
    EXPECT_EQ(CodexLocator::executable(dir.str() + "/bin/../bin/codex"),
              dir.str() + "/bin/../bin/codex");

    for (const std::string& refused :
         {std::string("codex"), std::string("bin/codex"), plain, dir.str() + "/bin/folder",
          dir.str() + "/missing", lockedApp}) {
        EXPECT_EQ(failureOf([&] { CodexLocator::executable(refused); }), "error.executable")
            << refused;
    }

    // A tilde is the user's home.
    test::ScopedEnvironment home("HOME", dir.str());
    EXPECT_EQ(CodexLocator::executable("~/bin/codex"), executable);
    EXPECT_EQ(CodexLocator::executable(" ~/Good.app "), goodApp + "/Contents/Resources/codex");
    EXPECT_EQ(failureOf([&] { CodexLocator::executable("~nobody/bin/codex"); }),
              "error.executable");
    fs::create_directories(dir.path() / ".codex");
    EXPECT_EQ(CodexLocator::home("~/.codex", environmentOf({})), dir.str() + "/.codex");
    // Without a setting or CODEX_HOME the default is ~/.codex.
    EXPECT_EQ(CodexLocator::home("", environmentOf({})), dir.str() + "/.codex");

    // Without one, only the given applications are searched.
    const std::vector<std::string> both = {lockedApp, goodApp};
    EXPECT_EQ(CodexLocator::executable("   ", both), goodApp + "/Contents/Resources/codex");
    EXPECT_EQ(failureOf([&] { CodexLocator::executable("", std::vector<std::string>{lockedApp}); }),
              "error.executable");
}

TEST_F(CodexLocatorTest, HomeResolution) {
    fs::create_directories(dir.path() / "home/.codex");
    const std::string codexHome = dir.str() + "/home/.codex";
    auto home = [&](const std::string& setting, std::optional<std::string> variable = {}) {
        std::map<std::string, std::string> environment;
        if (variable) {
            environment["CODEX_HOME"] = *variable;
        }
        return CodexLocator::home(setting, environmentOf(environment));
    };
    EXPECT_EQ(home(codexHome), codexHome);
    EXPECT_EQ(home(" " + codexHome + "/ "), codexHome);
    EXPECT_EQ(home(dir.str() + "/home/./.codex/../.codex/"), codexHome);
    // CODEX_HOME is taken exactly as set; once it exists there is no fallback.
    EXPECT_EQ(home("", codexHome + "/."), codexHome);
    // A setting wins over the variable.
    EXPECT_EQ(home(codexHome, "relative/.codex"), codexHome);
    const std::pair<std::string, std::optional<std::string>> refused[] = {
        {plain, {}}, {"home/.codex", {}},   {dir.str() + "/absent", {}}, {"", "relative/.codex"},
        {"  ", ""},  {"", " " + codexHome},
    };
    for (const auto& [setting, variable] : refused) {
        EXPECT_EQ(failureOf([&] { home(setting, variable); }), "error.home")
            << setting << " CODEX_HOME=" << variable.value_or("(unset)");
    }

    // lnk/.. is real/ through the link but dir/ as text: the folder returned is the one checked.
    fs::create_directories(dir.path() / "real/sub");
    fs::create_directories(dir.path() / "real/only-beside-the-link-target");
    fs::create_directories(dir.path() / "only-beside-the-link");
    fs::create_directory_symlink(dir.path() / "real/sub", dir.path() / "lnk");
    const auto none = environmentOf({});
    EXPECT_EQ(failureOf([&] {
                  CodexLocator::home(dir.str() + "/lnk/../only-beside-the-link-target", none);
              }),
              "error.home");
    EXPECT_EQ(CodexLocator::home(dir.str() + "/lnk/../only-beside-the-link", none),
              dir.str() + "/only-beside-the-link");
}

TEST_F(CodexLocatorTest, SuggestionsFromTheUsualInstallFolders) {
    const std::string home = dir.str() + "/home";
    const std::string onPath = dir.str() + "/linked/codex";
    fs::create_directories(dir.path() / "linked");
    // The same file twice: named by the first folder that leads to it.
    fs::create_symlink(makeFile("path/codex", 0755), onPath);
    makeFile("locked/codex", 0644);
    fs::create_directories(dir.path() / "folder/codex");
    const std::string local = makeFile("home/.local/bin/codex", 0755);
    const std::string fromVariable = makeFile("npm-variable/bin/codex", 0755);
    const std::string fromNpmrc = makeFile("home/npm-global/bin/codex", 0755);
    const std::string newest = makeFile("home/.nvm/versions/node/v20.1.0/bin/codex", 0755);
    const std::string older = makeFile("home/.nvm/versions/node/v9.11.2/bin/codex", 0755);
    fs::create_directories(dir.path() / "home/.nvm/versions/node/v18.0.0/bin");
    const std::string path = "relative::" + dir.str() + "/linked:" + dir.str() +
                             "/locked:" + dir.str() + "/folder:" + dir.str() + "/path/";

    // Where npm's global prefix is read from, and the codex found there if any.
    const std::tuple<const char*, std::string, std::optional<std::string>> cases[] = {
        {"", "", {}},
        {"NPM_CONFIG_PREFIX", "prefix=~/npm-global\n", fromVariable},
        {"npm_config_prefix", "", fromVariable},
        {"", "; set by hand\nprefix = \"~/npm-global\"\n", fromNpmrc},
        {"", "prefix=/elsewhere\nprefix=" + home + "/npm-global", fromNpmrc},
        {"", "prefix=npm-global\n", {}},
    };
    for (const auto& [variable, npmrc, fromNpm] : cases) {
        SCOPED_TRACE(std::string(variable) + " " + npmrc);
        std::map<std::string, std::string> environment{{"HOME", home}, {"PATH", path}};
        if (*variable != '\0') {
            environment[variable] = dir.str() + "/npm-variable";
        }
        dir.write("home/.npmrc", npmrc);
        std::vector<std::string> ours;  // a codex installed on this machine is none of our business
        std::ranges::copy_if(
            CodexLocator::suggestions(environmentOf(environment)), std::back_inserter(ours),
            [&](const std::string& found) { return found.starts_with(dir.str()); });
        std::vector<std::string> expected{onPath, local, newest, older};
        if (fromNpm) {
            expected.insert(expected.begin() + 2, *fromNpm);
        }
        EXPECT_EQ(ours, expected);
    }
    // Only suggested: without an application registry, automatic detection ignores the PATH.
    test::ScopedEnvironment pathVariable("PATH", path);
    EXPECT_EQ(failureOf([&] { CodexLocator::executable(""); }), "error.executable");
}

}  // namespace
}  // namespace quotalume
