#pragma once

#include "test_support.hpp"

#include <gtest/gtest.h>

namespace quotalume::test {

struct SavingWriter {
    const char* name;
    std::string file;        // the one file the writer keeps in its folder
    std::string oldContent;  // there before the save that fails
    // Saves something else into `folder` through `operations`; returns what the caller is told.
    std::function<std::string(const std::filesystem::path& folder, const FileOperations&)> save;
    // What the caller should be told when a step fails with `error`.
    std::function<std::string(int error)> report = [](int error) { return std::to_string(error); };
};

inline void PrintTo(const SavingWriter& writer, std::ostream* out) {
    *out << writer.name;
}

inline std::string writerName(const ::testing::TestParamInfo<SavingWriter>& info) {
    return info.param.name;
}

// A save failing at any step of writeFaults() keeps the old file, leaves no temporary, says why.
class FailedSaveTest : public ::testing::TestWithParam<SavingWriter> {};

}  // namespace quotalume::test
