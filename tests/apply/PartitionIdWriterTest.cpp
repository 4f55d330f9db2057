// Partition IDs written by the apply pass into sfdisk-made tables: each changed
// row lands in its own sector (the MBR for primaries, the first entry of its
// own EBR for logicals), once, and no other byte of the disk changes.
#include <gtest/gtest.h>

#include "tests/apply/ApplyFixtures.h"
#include "tools/Utf8.h"

namespace quorvane::test {
namespace {

std::vector<std::string> SfdiskTypes(const std::string& image) {
    const nlohmann::json table = SfdiskJson(image);
    std::vector<std::string> types;
    for (const auto& partition : table["partitions"]) types.push_back(partition["type"]);
    return types;
}

TEST(PartitionIdWriter, EveryChangedRowLandsOnceInItsOwnSector) {
    TempDir dir;
    const StandardDisk disk(dir, "disk.img");
    const std::string& image = disk.image;
    ProgramRun run({image});
    run.OpenWindow();
    const auto before = ImageBytes(image);
    // Two rows of one MBR, and one row in each EBR; "7" is one digit, "bc" lower case.
    run.Rows().SetCell(run.Row("1", "1"), ColumnId, "1C");
    run.Rows().SetCell(run.Row("1", "2"), ColumnId, "83");
    run.Rows().SetCell(run.Row("1", "3"), ColumnId, "7");
    run.Rows().SetCell(run.Row("1", "4"), ColumnId, "bc");

    EXPECT_EQ(run.Confirm(), ExitDone);
    EXPECT_TRUE(run.session.Failures().empty());
    ExpectImage(before, image,
                {{IdByte(0, 0), {0x1C}},
                 {IdByte(0, 1), {0x83}},
                 {IdByte(disk.ebr5), {0x07}},
                 {IdByte(disk.ebr6), {0xBC}}});
    EXPECT_EQ(SfdiskTypes(image), (std::vector<std::string>{"1c", "83", "5", "7", "bc"}));
    // One write per changed sector (the MBR carries two rows), each to the
    // sector it read.
    std::vector<uint64_t> writes;
    for (const CallRecord& call : run.CallsSinceStart(PlatformCall::Write)) writes.push_back(call.position);
    EXPECT_EQ(writes, (std::vector<uint64_t>{0, Sector(disk.ebr5), Sector(disk.ebr6)}));
    // The cells now hold the upper-case text and its name.
    EXPECT_EQ(run.Rows().Cell(run.Row("1", "4"), ColumnId), "BC");
    EXPECT_EQ(run.Rows().Cell(run.Row("1", "3"), ColumnIdName), "");  // "7" is no key of the table
    EXPECT_EQ(GbkToUtf8(run.Rows().Cell(run.Row("1", "1"), ColumnIdName)), "隐藏 FAT32 LBA");
    EXPECT_EQ(run.shell.closeRequests, 1);
}

TEST(PartitionIdWriter, RowsCompareByTextNotByByte) {
    TempDir dir;
    const StandardDisk disk(dir, "disk.img");
    const std::string& image = disk.image;
    ProgramRun run({image});
    run.OpenWindow();
    // Another program changes slot 2 after the scan; the row was not edited,
    // so it is not written whatever the disk now holds.
    WriteBytes(image, IdByte(0, 1), {0x82});
    // "0c" over the scanned "0C" counts as a change, is checked like any
    // other, and finds the byte already there: nothing is written.
    run.Rows().SetCell(run.Row("1", "1"), ColumnId, "0c");
    const auto before = ImageBytes(image);

    EXPECT_EQ(run.Confirm(), ExitDone);
    ExpectImage(before, image, {});
    EXPECT_TRUE(run.CallsSinceStart(PlatformCall::Write).empty());
    EXPECT_EQ(run.CallsSinceStart(PlatformCall::OpenDrive).size(), 1u);
}

TEST(PartitionIdWriter, NothingEditedWritesNothingAndCloses) {
    TempDir dir;
    const StandardDisk disk(dir, "disk.img");
    const std::string& image = disk.image;
    const auto before = ImageBytes(image);
    ProgramRun run({image});
    run.OpenWindow();
    EXPECT_EQ(run.Confirm(), ExitDone);
    ExpectImage(before, image, {});
    EXPECT_TRUE(run.CallsSinceStart(PlatformCall::OpenDrive).empty());
    EXPECT_TRUE(run.CallsSinceStart(PlatformCall::SetVolumeLabel).empty());
    EXPECT_TRUE(run.CallsSinceStart(PlatformCall::OpenVolume).empty());
    EXPECT_EQ(run.shell.closeRequests, 1);
}

// Text that is not one or two hexadecimal digits never reaches a disk: the
// drive is not even opened for it, and the row is named.
TEST(PartitionIdWriter, IdTextThatIsNoByteIsRefused) {
    for (const std::string text : {"G3", "183", "", " 7", "0x"}) {
        SCOPED_TRACE("ID text \"" + text + "\"");
        TempDir dir;
        const StandardDisk disk(dir, "disk.img");
        const std::string& image = disk.image;
        const auto before = ImageBytes(image);
        ProgramRun run({image});
        run.OpenWindow();
        run.Rows().SetCell(run.Row("1", "4"), ColumnId, text);
        EXPECT_EQ(run.Confirm(), ExitNotApplied);
        EXPECT_EQ(run.session.Failures(), (ChangeFailures{{run.Row("1", "4"), FailureCause::BadId}}));
        EXPECT_TRUE(run.CallsSinceStart(PlatformCall::OpenDrive).empty());
        ExpectImage(before, image, {});
    }
}

}  // namespace
}  // namespace quorvane::test
