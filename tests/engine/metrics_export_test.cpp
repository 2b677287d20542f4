#include "metrics_export.hpp"

#include "test_support.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

namespace quotalume {
namespace {

namespace fs = std::filesystem;

std::string readWhole(const fs::path& path) {
    std::ifstream in(path);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : std::string("missing");
}

// node_exporter may read the file at any moment: it finds the old text or the new one, whole,
// never a part, and never a temporary among the .prom files it reads.
TEST(MetricsExportTest, TheTextfileIsReplacedWholeAndOnlyWhenItChanged) {
    test::TempDir dir;
    const fs::path file = dir.path() / "quotalume.prom";
    std::vector<std::string> opened;
    FileOperations operations = FileOperations::system();
    operations.open = [&opened](const char* path, int flags, mode_t mode) {
        opened.emplace_back(path);
        return ::open(path, flags, mode);
    };
    MetricsExport metrics(operations);
    metrics.configure({.textfile = file.string()});
    const std::string texts[] = {std::string(1 << 20, 'a') + "\n", std::string(300'000, 'b')};

    std::atomic<bool> done = false;
    std::atomic<int> torn = 0;
    std::thread reader([&] {
        while (!done) {
            const std::string seen = readWhole(file);
            if (seen != "missing" && seen != texts[0] && seen != texts[1]) {
                ++torn;
            }
        }
    });
    for (int i = 0; i < 60; ++i) {
        metrics.offer(texts[i % 2]);
    }
    done = true;
    reader.join();
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(readWhole(file), texts[1]);
    EXPECT_EQ(fs::status(file).permissions(), fs::perms(0644)) << "node_exporter's user reads it";
    ASSERT_EQ(opened.size(), 60u);
    for (const std::string& temporary : opened) {
        EXPECT_EQ(fs::path(temporary).parent_path(), dir.path()) << "renamed within its folder";
        EXPECT_FALSE(temporary.ends_with(".prom")) << temporary;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

    metrics.offer(texts[1]);
    EXPECT_EQ(opened.size(), 60u) << "the same text is not written again";
    EXPECT_TRUE(metrics.warnings().empty());
}

// A folder that is missing, or a file in its place, is said until it is mended; each text is
// tried once, so a folder that stays broken costs nothing between readings.
TEST(MetricsExportTest, AFileThatCannotBeWrittenIsAWarningUntilOneIs) {
    test::TempDir dir;
    const fs::path file = dir.path() / "exporter" / "quotalume.prom";
    int attempts = 0;
    FileOperations operations = FileOperations::system();
    operations.open = [&attempts](const char* path, int flags, mode_t mode) {
        ++attempts;
        return ::open(path, flags, mode);
    };
    MetricsExport metrics(operations);
    metrics.configure({.textfile = file.string()});
    const std::vector<LocalizedMessage> unwritten = {
        LocalizedMessage("metrics.textfile_failed", {file.string()})};
    for (const char* kind : {"missing folder", "a file in the folder's place"}) {
        if (std::string(kind) != "missing folder") {
            std::ofstream(dir.path() / "exporter") << "not a folder";
        }
        metrics.offer(kind);
        EXPECT_EQ(metrics.warnings(), unwritten) << kind;
        EXPECT_FALSE(fs::exists(dir.path() / "exporter" / "quotalume.prom")) << "never created";
    }
    const int tried = attempts;
    metrics.offer("a file in the folder's place");
    EXPECT_EQ(attempts, tried) << "no second try of one text";

    fs::remove(dir.path() / "exporter");
    fs::create_directory(dir.path() / "exporter");
    metrics.offer("mended");
    EXPECT_TRUE(metrics.warnings().empty());
    EXPECT_EQ(readWhole(file), "mended");
    metrics.configure({});
    EXPECT_FALSE(metrics.active());
}

}  // namespace
}  // namespace quotalume
