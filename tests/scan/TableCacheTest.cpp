// The start sequence reads each table sector once: the scan after the
// temporary letters answers from what the first scan read.
#include <gtest/gtest.h>

#include "tests/apply/ApplyFixtures.h"
#include "tests/scan/ScanSupport.h"

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

// A chain of 255 logical partitions: the program reads each EBR once, and
// the backend reads Windows' view of the disk once for the whole start
// sequence (its volume queries do not walk the chain again), and once more
// only after the layout was written and Windows asked to read it.
TEST(TableCache, LongChainIsReadOnceByTheProgramAndOnceByWindows) {
    const auto disk = MemoryDisk(256 * MiB);
    PutEntry(*disk, 0, 0, 0, 0x05, 2048, 255 * 1024);
    for (uint32_t i = 0; i < 255; ++i) {
        const uint64_t ebr = 2048 + uint64_t{i} * 1024;
        PutEntry(*disk, ebr * 512, 0, 0, 0x83, 1, 1000);
        if (i + 1 < 255) PutEntry(*disk, ebr * 512, 1, 0, 0x05, (i + 1) * 1024, 1024);
    }
    ImagePlatform platform({InMemory(disk)});
    RecordingShell shell;
    Session session(platform, shell);
    session.Start({"/M", "1", "5", "8E"});
    uint64_t tableReads = 0;
    for (const CallRecord& call : platform.Calls())
        tableReads += call.call == PlatformCall::Read && call.position % (1024 * 512) == 0;
    EXPECT_EQ(session.ExitCode(), ExitDone);
    // The MBR and each EBR; then the planned sector, and the MBR and the
    // sector again before the one write (the disk's identity, its bytes).
    EXPECT_LE(tableReads, 256u + 4u);
    EXPECT_EQ(platform.LayoutReads(), 1u);
    const auto layout = platform.QueryDriveLayout(0);
    EXPECT_EQ(platform.LayoutReads(), 2u);
    ASSERT_TRUE(layout && layout->entries.size() > 4 * 5);
    EXPECT_EQ(layout->entries[4 * 5].mbrType, 0x8E);  // partition 5: the fifth EBR's first slot
}

}  // namespace
}  // namespace quorvane::test
