// The table walk when the platform fails: a drive that does not open, an MBR
// or EBR that cannot be positioned at or read, a short read. The scan stays
// silent, drops or empties exactly the affected rows, and never writes.
#include <gtest/gtest.h>

#include "tests/scan/ScanSupport.h"
#include "tests/support/DiskImages.h"

namespace quorvane::test {
namespace {

// Active NTFS, a container with NTFS and FAT32 logicals, FAT32 in slot 3.
std::string MakeWorkedExample(const TempDir& dir, const std::string& name) {
    return MakeImage(dir, name, 8 * MiB,
                     "p1 : start=2048, size=2048, type=7, bootable\n"
                     "p2 : start=4096, size=8192, type=f\n"
                     "p4 : start=12288, size=2048, type=b\n"
                     "p5 : start=6144, size=2048, type=7\n"
                     "p6 : start=10240, size=2048, type=b\n");
}

std::vector<std::string> ScanWith(ImagePlatform& platform) {
    PartitionRows rows;
    ScanDisks(platform, rows);
    std::vector<std::string> lines = RowLines(rows);
    lines.push_back("map " + DeviceMapText(rows));
    return lines;
}

class ScanFaults : public ::testing::Test {
 protected:
    void SetUp() override {
        disk = MakeWorkedExample(dir, "disk.img");
        other = MakeImage(dir, "other.img", 4 * MiB, "p1 : start=2048, size=4096, type=83\n");
        snapshot = std::make_unique<Snapshot>(std::vector<std::string>{disk, other});
        Scan clean({disk});
        firstEbr = clean.rows.Side(2).entrySectorPosition;
        secondEbr = clean.rows.Side(3).entrySectorPosition;
    }
    // Nothing the scan does, failing or not, writes to a disk.
    void TearDown() override { EXPECT_TRUE(snapshot->Unchanged()); }

    TempDir dir;
    std::string disk;
    std::string other;
    std::unique_ptr<Snapshot> snapshot;
    uint64_t firstEbr = 0;
    uint64_t secondEbr = 0;
};

TEST_F(ScanFaults, UnreadableFirstEbrGivesOneEmptyLogicalAndEndsTheChain) {
    const std::vector<std::string> expected{"1|1|07|NTFS|主，活动|1", "1||0F|扩展 LBA|扩展|4",
                                            "1|2|00|空闲|逻辑|0", "1|3|0B|FAT32|主|1",
                                            "map 0,0,1 3,0,2"};  // an empty entry gets no Windows number
    // A failed read, a failed positioning, and a read that stops at 256 bytes
    // (before the table at 0x1BE) all leave the buffer zero.
    for (const Fault& fault :
         {FaultOn(PlatformCall::Read, 0, 0, firstEbr), FaultOn(PlatformCall::Seek, 0, 0, firstEbr),
          FaultOn(PlatformCall::Read, 0, 0, firstEbr, true)}) {
        ImagePlatform platform(std::vector<std::string>{disk});
        platform.AddFault(fault);
        EXPECT_EQ(ScanWith(platform), expected) << PlatformCallName(fault.call) << fault.shortTransfer;
        // The second EBR was never looked for.
        for (const CallRecord& call : platform.Calls())
            EXPECT_NE(call.position, secondEbr) << PlatformCallName(call.call);
        EXPECT_EQ(platform.CountCalls(PlatformCall::Write), 0u);
    }
}

// The rows cannot say what was not read; the report does, so a command
// meant for every partition with an ID can tell it did not see them all.
TEST_F(ScanFaults, ReportNamesEveryDriveNotReadInFull) {
    const auto report = [&](std::optional<Fault> fault) {
        ImagePlatform platform(std::vector<std::string>{disk, other});
        if (fault) platform.AddFault(*fault);
        PartitionRows rows;
        return ScanDisks(platform, rows);
    };
    EXPECT_TRUE(report(std::nullopt).Complete());
    EXPECT_EQ(report(FaultOn(PlatformCall::Read, 0, 0, secondEbr)).unreadDrives, std::vector<uint32_t>{0});
    EXPECT_EQ(report(FaultOn(PlatformCall::Seek, 0, 0, firstEbr)).unreadDrives, std::vector<uint32_t>{0});
    EXPECT_EQ(report(FaultOn(PlatformCall::Read, 1, 0, 0)).unreadDrives, std::vector<uint32_t>{1});
    // A drive that does not open is no drive: the registry's count is then
    // short of drives, and the report says so.
    const ScanReport unopened = report(FaultOn(PlatformCall::OpenDrive, 1));
    EXPECT_TRUE(unopened.drivesMissing);
    EXPECT_FALSE(unopened.Complete());
    const ScanReport noCount = report(FaultOn(PlatformCall::DiskCount, -1));
    EXPECT_FALSE(noCount.diskCountRead);
    EXPECT_FALSE(noCount.Complete());
    // A read that stops short leaves part of a table unread.
    EXPECT_EQ(report(FaultOn(PlatformCall::Read, 0, 0, firstEbr, true)).unreadDrives, std::vector<uint32_t>{0});
}

TEST_F(ScanFaults, UnreadableSecondEbrKeepsTheFirstLogical) {
    ImagePlatform platform(std::vector<std::string>{disk});
    platform.AddFault(FaultOn(PlatformCall::Read, 0, 0, secondEbr));
    EXPECT_EQ(
        ScanWith(platform),
        (std::vector<std::string>{"1|1|07|NTFS|主，活动|1", "1||0F|扩展 LBA|扩展|4", "1|2|07|NTFS|逻辑|1",
                                  "1|3|00|空闲|逻辑|0", "1|4|0B|FAT32|主|1", "map 0,0,1 4,0,2 2,0,3"}));
}

TEST_F(ScanFaults, DriveWhoseMbrCannotBeReadOrThatDoesNotOpenIsSkipped) {
    const std::vector<std::string> onlySecond{"2|1|83|Linux|主|2", "map 0,1,1"};
    for (const Fault& fault : {FaultOn(PlatformCall::OpenDrive, 0), FaultOn(PlatformCall::Read, 0, 0, 0),
                               FaultOn(PlatformCall::Seek, 0, 0, 0)}) {
        ImagePlatform platform(std::vector<std::string>{disk, other});
        platform.AddFault(fault);
        EXPECT_EQ(ScanWith(platform), onlySecond) << PlatformCallName(fault.call);
        EXPECT_EQ(platform.CountCalls(PlatformCall::Write), 0u);
    }
    // A short MBR read keeps the bytes it got: the table lies past them.
    ImagePlatform platform(std::vector<std::string>{disk, other});
    platform.AddFault(FaultOn(PlatformCall::Read, 0, 0, 0, true));
    EXPECT_EQ(ScanWith(platform), onlySecond);
}

TEST_F(ScanFaults, EveryFailingCallStillEndsWithoutAWrite) {
    // Fail each call of a clean scan in turn, by its number.
    ImagePlatform reference(std::vector<std::string>{disk, other});
    PartitionRows rows;
    ScanDisks(reference, rows);
    const uint64_t calls = reference.Calls().size();
    ASSERT_GT(calls, 10u);
    for (uint64_t number = 1; number <= calls; ++number) {
        ImagePlatform platform(std::vector<std::string>{disk, other});
        platform.FailCallNumber(number);
        PartitionRows failed;
        ScanDisks(platform, failed);
        EXPECT_LE(failed.Count(), rows.Count()) << number;
        EXPECT_EQ(platform.CountCalls(PlatformCall::Write), 0u) << number;
        for (int row = 0; row < failed.Count(); ++row)
            EXPECT_EQ(failed.Side(row).scannedLabel, failed.Cell(row, ColumnLabel)) << number;
    }
}

// The registry's count decides how many drives are looked for, not which
// numbers: a gap does not hide the disk after it, and a damaged count gives
// up 16 numbers after the last drive that opened.
TEST(ScanDriveNumbers, GapsAndDamagedCounts) {
    const auto disk = MemoryDisk(MiB);
    PutEntry(*disk, 0, 0, 0, 0x07, 64, 1024);
    ImagePlatform gap(std::vector<ImageSource>{InMemory(disk), InMemory(disk)});
    gap.SetDiskCount(2);
    gap.AddFault(FaultOn(PlatformCall::OpenDrive, 0));
    PartitionRows rows;
    ScanDisks(gap, rows);
    ASSERT_EQ(rows.Count(), 1);
    EXPECT_EQ(rows.Cell(0, ColumnDisk), "2");

    ImagePlatform damaged(std::vector<ImageSource>{InMemory(disk)});
    damaged.SetDiskCount(0x7FFFFFFF);
    const ScanReport report = ScanDisks(damaged, rows);
    EXPECT_EQ(rows.Count(), 1);
    EXPECT_EQ(damaged.CountCalls(PlatformCall::OpenDrive), 1u + 16 + 1);  // the label read opens drive 0 again
    EXPECT_TRUE(report.drivesMissing);
}

}  // namespace
}  // namespace quorvane::test
