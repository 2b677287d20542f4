#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

// Widgets and images need an application object. Before it exists: no display (draw
// offscreen), English, and XDG folders of the test's own, so nothing reads or writes the
// user's preferences, state or autostart entries.
int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    std::string root = (std::filesystem::temp_directory_path() / "quotalume-qt-XXXXXX").string();
    if (mkdtemp(root.data()) == nullptr) {
        return 1;
    }
    for (const char* folder : {"config", "data", "runtime"}) {
        std::filesystem::create_directory(root + "/" + folder);
    }
    std::filesystem::permissions(root + "/runtime", std::filesystem::perms::owner_all);
    setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (root + "/runtime").c_str(), 1);
    setenv("LANGUAGE", "en", 1);
    setenv("LC_ALL", "C.UTF-8", 1);

    int status = 0;
    {
        QApplication application(argc, argv);
        testing::InitGoogleTest(&argc, argv);
        status = RUN_ALL_TESTS();
    }
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
    return status;
}
