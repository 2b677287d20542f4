#include "linux/xdg_autostart_login_items.hpp"

#include "failed_save_contract.hpp"

namespace quotalume {
namespace {

namespace fs = std::filesystem;

TEST(XdgAutostartLoginItemsTest, RegisteringWritesAPrivateEntryAndUnregisteringRemovesIt) {
    const test::TempDir dir;
    const fs::path folder = dir.path() / "config" / "autostart";
    XdgAutostartLoginItems items("/opt/Quotalume App/quotalume%1", folder);
    EXPECT_EQ(items.status(), LoginItemStatus::disabled);

    ASSERT_TRUE(items.setRegistered(true));
    EXPECT_EQ(dir.read("config/autostart/quotalume.desktop"),
              "[Desktop Entry]\n"
              "Type=Application\n"
              "Name=Quotalume\n"
              "Comment=Watches the usage limits of your Codex account\n"
              "Exec=\"/opt/Quotalume App/quotalume%%1\"\n"
              "Icon=quotalume\n"
              "Terminal=false\n"
              "X-GNOME-Autostart-enabled=true\n");
    EXPECT_EQ(test::modeOf(folder / "quotalume.desktop"), 0600U);
    EXPECT_EQ(items.status(), LoginItemStatus::enabled);

    ASSERT_TRUE(items.setRegistered(false));
    EXPECT_FALSE(fs::exists(folder / "quotalume.desktop"));
    EXPECT_EQ(items.status(), LoginItemStatus::disabled);
    EXPECT_TRUE(items.setRegistered(false)) << "already gone is no failure";
}

TEST(XdgAutostartLoginItemsTest, ExecQuotesReservedCharactersAndRefusesWhatItCannotHold) {
    struct Row {
        std::string executable;
        std::optional<std::string> exec;
    };
    const Row rows[] = {
        {"/usr/bin/quotalume", "Exec=/usr/bin/quotalume\n"},
        {"/opt/a b/q", "Exec=\"/opt/a b/q\"\n"},
        // Quoting escapes " ` $ \ with a backslash; the string value then doubles backslashes.
        {R"(/opt/$x"`\y)", R"(Exec="/opt/\\$x\\"\\`\\\\y")"
                           "\n"},
        {"relative/quotalume", std::nullopt},
        {"/opt/a=b/quotalume", std::nullopt},
        {"/opt/line\nType=Link", std::nullopt},
        {"/opt/\xff", std::nullopt},
    };
    for (const Row& row : rows) {
        const auto entry = XdgAutostartLoginItems::entry(row.executable);
        if (!row.exec) {
            EXPECT_FALSE(entry) << row.executable;
            continue;
        }
        ASSERT_TRUE(entry) << row.executable;
        EXPECT_NE(entry->find("\n" + *row.exec), std::string::npos) << *entry;
    }
    const test::TempDir dir;
    EXPECT_FALSE(XdgAutostartLoginItems("relative", dir.path()).setRegistered(true));
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(XdgAutostartLoginItemsTest, AnEntryThatIsHiddenSwitchedOffOrUnreadableIsDisabled) {
    const test::TempDir dir;
    XdgAutostartLoginItems items("/usr/bin/quotalume", dir.path());
    struct Row {
        std::string content;
        LoginItemStatus status;
    };
    const Row rows[] = {
        {"[Desktop Entry]\nExec=quotalume\n", LoginItemStatus::enabled},
        {"[Desktop Entry]\nHidden=true\n", LoginItemStatus::disabled},
        {"[Desktop Entry]\nHidden = true\r\n", LoginItemStatus::disabled},
        {"[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n", LoginItemStatus::disabled},
        {"[Desktop Entry]\nHidden=false\nX-GNOME-Autostart-enabled=true\n",
         LoginItemStatus::enabled},
        {"[Desktop Action x]\nHidden=true\n[Desktop Entry]\nExec=q\n", LoginItemStatus::enabled},
        {"[Desktop Entry]\n#" + std::string(XdgAutostartLoginItems::largestEntry, 'x') + "\n",
         LoginItemStatus::disabled},
    };
    for (const Row& row : rows) {
        dir.write("quotalume.desktop", row.content);
        EXPECT_EQ(items.status(), row.status) << row.content.substr(0, 60);
    }
}

TEST(XdgAutostartLoginItemsTest, AFolderThatCannotBeUsedFailsBothWays) {
    // A file where the folder should be refuses even root, unlike permissions.
    const test::TempDir dir;
    XdgAutostartLoginItems items("/usr/bin/quotalume", dir.write("autostart", "not a folder"));
    EXPECT_FALSE(items.setRegistered(true));
    EXPECT_FALSE(items.setRegistered(false));
    EXPECT_EQ(items.status(), LoginItemStatus::disabled);
    EXPECT_EQ(dir.read("autostart"), "not a folder");
}

using test::FailedSaveTest;
INSTANTIATE_TEST_SUITE_P(XdgAutostartLoginItems, FailedSaveTest,
                         ::testing::Values(test::SavingWriter{
                             "autostartEntry", "quotalume.desktop",
                             "[Desktop Entry]\nExec=/opt/old/quotalume\n",
                             [](const fs::path& folder, const FileOperations& operations) {
                                 XdgAutostartLoginItems items("/usr/bin/quotalume", folder,
                                                              operations);
                                 return items.setRegistered(true) ? "registered" : "refused";
                             },
                             [](int) -> std::string { return "refused"; }}),
                         test::writerName);

}  // namespace
}  // namespace quotalume
