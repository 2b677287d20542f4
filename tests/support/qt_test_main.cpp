#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <utility>

// Before the application exists: offscreen, English, and XDG folders that keep user files out.
int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const QTemporaryDir root;  // outlives the application, and goes with everything in it
    const auto ownerOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    for (auto [variable, folder] : {std::pair{"XDG_CONFIG_HOME", "config"},
                                    {"XDG_DATA_HOME", "data"},
                                    {"XDG_RUNTIME_DIR", "runtime"}}) {
        if (!root.isValid() || !QDir(root.path()).mkdir(folder, ownerOnly)) {
            return 1;
        }
        setenv(variable, QFile::encodeName(root.filePath(folder)).constData(), 1);
    }
    setenv("LANGUAGE", "en", 1);
    setenv("LC_ALL", "C.UTF-8", 1);
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
