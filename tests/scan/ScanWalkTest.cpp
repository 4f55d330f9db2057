// The table walk over disks partitioned by sfdisk: row order, the numbers
// shown and the numbers Windows uses, where each ID byte lies, sizes, and
// the drive-letter pass that follows the walk.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/scan/ScanSupport.h"
#include "tests/support/DiskImages.h"
#include "text/Texts.h"

namespace quorvane::test {
namespace {

// Every row's ID byte really lies at EntrySectorPosition + IdByteOffset of
// its disk, and the scanned copies match the cells.
void ExpectIdBytesWhereRecorded(const PartitionRows& rows, const std::vector<std::string>& images) {
    for (int row = 0; row < rows.Count(); ++row) {
        const RowSideEntries& side = rows.Side(row);
        ASSERT_LT(side.drive, images.size());
        std::ifstream image(images[side.drive], std::ios::binary);
        image.seekg(static_cast<std::streamoff>(side.entrySectorPosition + side.idByteOffset));
        const int byte = image.get();
        ASSERT_TRUE(image) << "row " << row;
        char id[3];
        std::snprintf(id, sizeof id, "%02X", byte);
        EXPECT_EQ(rows.Cell(row, ColumnId), id) << "row " << row;
        EXPECT_EQ(side.scannedId, rows.Cell(row, ColumnId)) << "row " << row;
        EXPECT_EQ(side.scannedLabel, rows.Cell(row, ColumnLabel)) << "row " << row;
        EXPECT_EQ(std::to_string(side.drive + 1), rows.Cell(row, ColumnDisk)) << "row " << row;
    }
}

TEST(ScanWalk, WorkedExampleActiveNtfsContainerWithTwoLogicalsEmptySlotAndFat32InSlotThree) {
    TempDir dir;
    // Slot 2 stays empty: sfdisk places the FAT32 partition by its number.
    const std::string disk = MakeImage(dir, "disk0.img", 64 * MiB,
                                       "p1 : start=2048, size=8192, type=7, bootable\n"
                                       "p2 : start=10240, size=40960, type=f\n"
                                       "p4 : start=53248, size=10240, type=b\n"
                                       "p5 : start=12288, size=8192, type=7\n"
                                       "p6 : start=22528, size=8192, type=b\n");
    Scan scan({disk});
    const PartitionRows& rows = scan.rows;

    EXPECT_EQ(RowLines(rows), (std::vector<std::string>{
                                  "1|1|07|NTFS|主，活动|4",
                                  "1||0F|扩展 LBA|扩展|20",
                                  "1|2|07|NTFS|逻辑|4",
                                  "1|3|0B|FAT32|逻辑|4",
                                  "1|4|0B|FAT32|主|5",
                              }));
    EXPECT_EQ(DeviceMapText(rows), "0,0,1 4,0,2 2,0,3 3,0,4");

    // Slots 0, 1 and 3 of the MBR; each logical in entry 0 of its own EBR, the
    // first EBR being the container's first sector.
    EXPECT_EQ(rows.Side(0).idByteOffset, 0x1C2u);
    EXPECT_EQ(rows.Side(1).idByteOffset, 0x1D2u);
    EXPECT_EQ(rows.Side(4).idByteOffset, 0x1F2u);
    for (int row : {0, 1, 4}) EXPECT_EQ(rows.Side(row).entrySectorPosition, 0u) << row;
    EXPECT_EQ(rows.Side(2).entrySectorPosition, 10240u * 512);
    EXPECT_GT(rows.Side(3).entrySectorPosition, rows.Side(2).entrySectorPosition);
    EXPECT_EQ(rows.Side(3).idByteOffset, 0x1C2u);
    ExpectIdBytesWhereRecorded(rows, {disk});

    EXPECT_EQ(StartTexts(rows), (std::vector<std::string>{"000000100000", "000000500000", "000000600000",
                                                          "000000B00000", "000001A00000"}));
    // No letters in this scan and no FAT file system on these partitions: no labels.
    for (int row = 0; row < rows.Count(); ++row) {
        EXPECT_EQ(rows.Cell(row, ColumnLetter), "");
        EXPECT_EQ(rows.Cell(row, ColumnFreeMb), "");
        EXPECT_EQ(rows.Cell(row, ColumnDriveType), "");
        EXPECT_EQ(rows.Image(row), NoImage);
        EXPECT_EQ(rows.Cell(row, ColumnLabel), "");
    }
    EXPECT_EQ(scan.platform.CountCalls(PlatformCall::Write), 0u);
}

TEST(ScanWalk, SizesRoundHalvesToTheEvenNeighbour) {
    TempDir dir;
    const std::string disk = MakeImage(dir, "sizes.img", 64 * MiB,
                                       "p1 : start=2048, size=2048, type=83\n"
                                       "p2 : start=6144, size=3072, type=83\n"
                                       "p3 : start=10240, size=1024, type=83\n"
                                       "p4 : start=12288, size=40000, type=5\n"
                                       "p5 : start=14336, size=5120, type=83\n"
                                       "p6 : start=22528, size=1025, type=83\n"
                                       "p7 : start=26624, size=7168, type=83\n"
                                       "p8 : start=36864, size=1023, type=83\n");
    Scan scan({disk});
    std::vector<std::string> sizes;
    for (int row = 0; row < scan.rows.Count(); ++row) sizes.push_back(scan.rows.Cell(row, ColumnSizeMb));
    // 1, 1.5, 0.5, 19.53, 2.5, 0.5005, 3.5, 0.4995 MB
    EXPECT_EQ(sizes, (std::vector<std::string>{"1", "2", "0", "20", "2", "1", "4", "0"}));

    EXPECT_EQ(MegabytesFromBytes(3 * MiB / 2), "2");
    EXPECT_EQ(MegabytesFromBytes(5 * MiB / 2), "2");
    EXPECT_EQ(MegabytesFromBytes(26 * MiB / 10 + 1), "3");
    EXPECT_EQ(MegabytesFromBytes(MiB / 2 - 1), "0");
    EXPECT_EQ(MegabytesFromBytes(0), "0");
    // The largest sector count an entry holds: no overflow in the rounding.
    EXPECT_EQ(MegabytesFromSectors(0xFFFFFFFFu), "2097152");
    EXPECT_EQ(MegabytesFromBytes(~uint64_t{0}), "17592186044416");
}

TEST(ScanWalk, FreeSpaceLetterAndDriveTypeComeFromTheMatchedVolume) {
    TempDir dir;
    const std::string disk = MakeImage(dir, "free.img", 200 * MiB,
                                       "p1 : start=2048, size=139264, type=c\n"
                                       "p2 : start=141312, size=20480, type=83\n");
    MakeFat32(disk, 2048, 139264, "DATA");
    // FSInfo (sector 1 of the volume) holds the free cluster count at 488;
    // clusters are one sector here, so 3072 clusters are exactly 1.5 MB.
    const auto freeClusters = [&](uint32_t count) {
        WriteBytes(disk, 2049 * 512 + 488,
                   {static_cast<uint8_t>(count), static_cast<uint8_t>(count >> 8),
                    static_cast<uint8_t>(count >> 16), static_cast<uint8_t>(count >> 24)});
    };
    for (const auto& [clusters, shown] : std::vector<std::pair<uint32_t, std::string>>{
             {3072, "2"}, {5120, "2"}, {5325, "3"}, {1023, "0"}, {1025, "1"}}) {
        freeClusters(clusters);
        ImagePlatform platform(std::vector<std::string>{disk});
        ASSERT_TRUE(platform.DefineDosDevice('K', "\\Device\\Harddisk0\\Partition1"));
        PartitionRows rows;
        ScanDisks(platform, rows);
        ASSERT_EQ(rows.Count(), 2);
        EXPECT_EQ(rows.Cell(0, ColumnFreeMb), shown) << clusters;
        EXPECT_EQ(rows.Cell(0, ColumnLetter), "K");
        EXPECT_EQ(rows.Cell(0, ColumnDriveType), texts::DriveTypeFixed);
        EXPECT_EQ(rows.Image(0), DriveImage);
        // What Windows reports, not the boot-sector copy.
        EXPECT_EQ(rows.Cell(0, ColumnLabel), "DATA");
        EXPECT_EQ(rows.Cell(1, ColumnLetter), "");
        EXPECT_EQ(rows.Cell(1, ColumnFreeMb), "");
    }
}

TEST(ScanWalk, ContainerOfType85IsAPrimaryWhoseChainIsNotRead) {
    TempDir dir;
    const std::string disk = MakeImage(dir, "linux-ext.img", 64 * MiB,
                                       "p1 : start=2048, size=8192, type=83\n"
                                       "p2 : start=10240, size=40960, type=85, bootable\n"
                                       "p5 : start=12288, size=8192, type=83\n"
                                       "p6 : start=22528, size=8192, type=82\n");
    Scan scan({disk});
    EXPECT_EQ(RowLines(scan.rows),
              (std::vector<std::string>{"1|1|83|Linux|主|4", "1|2|85|Linux 扩展|主，活动|20"}));
    EXPECT_EQ(DeviceMapText(scan.rows), "0,0,1 1,0,2");
    // The MBR is the only partition-table sector read; the partitions' first
    // sectors are read only to look for a FAT label.
    for (const CallRecord& call : scan.platform.Calls())
        if (call.call == PlatformCall::Read) {
            EXPECT_TRUE(call.position == 0 || call.position == 2048u * 512 || call.position == 10240u * 512)
                << call.position;
        }
}

TEST(ScanWalk, ActiveContainerHasNoNumberAndDoesNotCountAsAPrimary) {
    TempDir dir;
    const std::string disk = MakeImage(dir, "active-ext.img", 64 * MiB,
                                       "p1 : start=2048, size=40960, type=f, bootable\n"
                                       "p3 : start=43008, size=4096, type=7\n"
                                       "p5 : start=4096, size=8192, type=83, bootable\n"
                                       "p6 : start=14336, size=2048, type=7\n");
    Scan scan({disk});
    EXPECT_EQ(RowLines(scan.rows), (std::vector<std::string>{
                                       "1||0F|扩展 LBA|扩展，活动|20",
                                       "1|1|83|Linux|逻辑，活动|4",
                                       "1|2|07|NTFS|逻辑|1",
                                       "1|3|07|NTFS|主|2",
                                   }));
    // Windows counts the one primary first, then the logicals.
    EXPECT_EQ(DeviceMapText(scan.rows), "3,0,1 1,0,2 2,0,3");
}

TEST(ScanWalk, DrivesAreNumberedApartAndPrimariesOfAllDrivesComeFirstInTheMap) {
    TempDir dir;
    const std::string drive0 = MakeImage(dir, "d0.img", 32 * MiB,
                                         "p1 : start=2048, size=4096, type=7\n"
                                         "p2 : start=6144, size=4096, type=b\n");
    const std::string drive1 = MakeImage(dir, "d1.img", 32 * MiB,
                                         "p1 : start=2048, size=20480, type=5\n"
                                         "p5 : start=4096, size=4096, type=7\n"
                                         "p6 : start=10240, size=4096, type=83\n");
    const std::string drive2 = MakeImage(dir, "d2.img", 32 * MiB, "p2 : start=2048, size=4096, type=c\n");
    Scan scan({drive0, drive1, drive2});
    EXPECT_EQ(RowLines(scan.rows), (std::vector<std::string>{
                                       "1|1|07|NTFS|主|2",
                                       "1|2|0B|FAT32|主|2",
                                       "2||05|扩展|扩展|10",
                                       "2|1|07|NTFS|逻辑|2",
                                       "2|2|83|Linux|逻辑|2",
                                       "3|1|0C|FAT32 LBA|主|2",
                                   }));
    EXPECT_EQ(DeviceMapText(scan.rows), "0,0,1 1,0,2 5,2,1 3,1,1 4,1,2");
    ExpectIdBytesWhereRecorded(scan.rows, {drive0, drive1, drive2});
}

TEST(ScanWalk, MissingDriveKeepsTheNumbersOfTheDrivesAfterIt) {
    TempDir dir;
    const std::string drive1 = MakeImage(dir, "d1.img", 32 * MiB, "p1 : start=2048, size=4096, type=7\n");
    Scan scan(std::vector<std::string>{dir.File("absent.img"), drive1});
    EXPECT_EQ(RowLines(scan.rows), (std::vector<std::string>{"2|1|07|NTFS|主|2"}));
    EXPECT_EQ(DeviceMapText(scan.rows), "0,1,1");
    EXPECT_EQ(scan.rows.Side(0).drive, 1u);

    // A registry count of 0 or below tries no drive at all.
    for (const int32_t count : {0, -1}) {
        ImagePlatform platform(std::vector<std::string>{drive1});
        platform.SetDiskCount(count);
        PartitionRows rows;
        ScanDisks(platform, rows);
        EXPECT_EQ(rows.Count(), 0);
        EXPECT_EQ(platform.CountCalls(PlatformCall::OpenDrive), 0u);
    }
}

TEST(ScanWalk, ASecondScanRebuildsTheSameRowsFromNothing) {
    TempDir dir;
    const std::string disk = MakeImage(dir, "again.img", 32 * MiB,
                                       "p1 : start=2048, size=20480, type=f\n"
                                       "p5 : start=4096, size=4096, type=7\n"
                                       "p2 : start=22528, size=4096, type=b\n");
    Scan scan({disk});
    const auto first = RowLines(scan.rows);
    const std::string firstMap = DeviceMapText(scan.rows);
    scan.rows.SetCell(0, ColumnId, "17");
    ScanDisks(scan.platform, scan.rows);
    EXPECT_EQ(RowLines(scan.rows), first);
    EXPECT_EQ(DeviceMapText(scan.rows), firstMap);
    EXPECT_EQ(scan.rows.Count(), 3);
    EXPECT_FALSE(scan.rows.HasPendingIdChange(0));
}

}  // namespace
}  // namespace quorvane::test
