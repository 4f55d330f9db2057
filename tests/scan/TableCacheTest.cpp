// The start sequence reads each table sector once: the scan after the
// temporary letters answers from what the first scan read.
#include <gtest/gtest.h>

#include "tests/apply/ApplyFixtures.h"

namespace quorvane::test {
namespace {

TEST(TableCache, SecondScanOfTheStartSequenceReadsNoSectorAgain) {
    TempDir dir;
    const StandardDisk disk(dir, "disk.img");
    ImagePlatform once(std::vector<std::string>{disk.image});
    PartitionRows rows;
    ScanDisks(once, rows);
    const uint64_t oneScan = once.CountCalls(PlatformCall::Read);

    ProgramRun run({disk.image});
    run.OpenWindow();
    EXPECT_EQ(run.platform.CountCalls(PlatformCall::Read), oneScan);
    // The second scan saw the temporary letters all the same.
    EXPECT_EQ(run.Rows().Cell(run.Row("1", "2"), ColumnLetter), "E");
}

}  // namespace
}  // namespace quorvane::test
