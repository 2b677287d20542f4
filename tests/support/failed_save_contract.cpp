#include "failed_save_contract.hpp"

namespace quotalume::test {

TEST_P(FailedSaveTest, KeepsTheOldFileLeavesNoTemporaryAndSaysWhy) {
    const SavingWriter& writer = GetParam();
    for (const WriteFault& fault : writeFaults()) {
        SCOPED_TRACE(fault.name);
        TempDir dir;
        dir.write(writer.file, writer.oldContent);
        EXPECT_EQ(writer.save(dir.path(), fault.operations), writer.report(fault.error));
        EXPECT_EQ(dir.read(writer.file), writer.oldContent);
        EXPECT_EQ(entriesOf(dir.path()), std::vector<std::string>{writer.file});
    }
}

}  // namespace quotalume::test
