// The label column of rows with a FAT32 ID: the boot sector's 11-byte field,
// read from the partition's own first sector, on volumes made by mkfs.fat.
#include <gtest/gtest.h>

#include "tests/scan/ScanSupport.h"
#include "tests/support/DiskImages.h"

namespace quorvane::test {
namespace {

constexpr uint64_t Sectors = 80000;  // enough clusters of one sector for FAT32

TEST(Fat32LabelScan, BootSectorLabelsOfPrimaryAndLogicalVolumes) {
    TempDir dir;
    const std::string disk = MakeImage(dir, "fat.img", 256 * MiB,
                                       "p1 : start=2048, size=80000, type=b\n"
                                       "p2 : start=90112, size=80000, type=c\n"
                                       "p3 : start=172032, size=40000, type=b\n"
                                       "p4 : start=214016, size=270000, type=f\n"
                                       "p5 : start=216064, size=80000, type=1b\n"
                                       "p6 : start=298112, size=20000, type=b\n"
                                       "p7 : start=320160, size=80000, type=7\n"
                                       "p8 : start=402208, size=80000, type=bc\n");
    MakeFat32(disk, 2048, Sectors, "");  // mkfs.fat writes NO NAME into the field
    MakeFat32(disk, 90112, Sectors, "DATA");
    MustRun("mkfs.fat -F 16 -n OLD16 --offset 172032 " + Quote(disk) + " 20000 >/dev/null 2>&1");
    MakeFat32(disk, 216064, Sectors, "LOGIC");
    WriteBytes(disk, 216064 * 512 + 82, {'f', 'a', 't', '3', '2'});
    // p6: an NTFS-like boot sector, nothing at the FAT32 type field.
    WriteBytes(disk, 298112 * 512 + 3, {'N', 'T', 'F', 'S', ' ', ' ', ' ', ' '});
    MakeFat32(disk, 320160, Sectors, "SEVEN");
    MakeFat32(disk, 402208, Sectors, "ZERO");
    WriteBytes(disk, 402208 * 512 + 71 + 2, {0});
    ASSERT_EQ(BlkidTag(disk, 90112 * 512, "LABEL_FATBOOT"), "DATA");

    Scan scan({disk});
    std::vector<std::string> labels;
    for (int row = 0; row < scan.rows.Count(); ++row) labels.push_back(scan.rows.Cell(row, ColumnLabel));
    EXPECT_EQ(labels, (std::vector<std::string>{
                          "NO NAME    ",  // p1
                          "DATA       ",  // p2: trailing blanks kept
                          "           ",  // p3: FAT16 keeps its type field elsewhere
                          "",             // the container
                          "LOGIC      ",  // p5: "fat32" passes
                          "           ",  // p6: not FAT at all
                          "",             // p7: FAT32 inside, but 07 is not a FAT32 ID
                          "ZE",           // p8: a zero byte ends the text
                      }));
    for (int row = 0; row < scan.rows.Count(); ++row)
        EXPECT_EQ(scan.rows.Side(row).scannedLabel, labels[row]) << row;

    // Table sectors, then one boot sector per FAT32-ID row at the partition's
    // own start (for a logical: its EBR plus its offset, not the EBR itself).
    std::vector<uint64_t> reads;
    for (const CallRecord& call : scan.platform.Calls())
        if (call.call == PlatformCall::Read) reads.push_back(call.position / 512);
    const uint64_t ebr5 = scan.rows.Side(4).entrySectorPosition / 512;
    const uint64_t ebr6 = scan.rows.Side(5).entrySectorPosition / 512;
    const uint64_t ebr7 = scan.rows.Side(6).entrySectorPosition / 512;
    const uint64_t ebr8 = scan.rows.Side(7).entrySectorPosition / 512;
    EXPECT_EQ(ebr5, 214016u);
    EXPECT_EQ(reads, (std::vector<uint64_t>{0, ebr5, ebr6, ebr7, ebr8, 2048, 90112, 172032, 216064, 298112,
                                            402208}));
    EXPECT_EQ(scan.platform.CountCalls(PlatformCall::Write), 0u);
}

TEST(Fat32LabelScan, UnreadableBootSectorGivesElevenBlanks) {
    TempDir dir;
    const std::string disk = MakeImage(dir, "fat.img", 64 * MiB, "p1 : start=2048, size=80000, type=c\n");
    MakeFat32(disk, 2048, Sectors, "DATA");
    // A failed read leaves zeros; a short one keeps what it got, and the
    // label and type fields lie in the first half of the sector.
    for (const auto& [fault, label] : std::vector<std::pair<Fault, std::string>>{
             {FailOn(PlatformCall::Read, 0, 2048 * 512), "           "},
             {FailOn(PlatformCall::Seek, 0, 2048 * 512), "           "},
             {FailOn(PlatformCall::Read, 0, 2048 * 512, true), "DATA       "}}) {
        ImagePlatform platform(std::vector<std::string>{disk});
        platform.AddFault(fault);
        PartitionRows rows;
        ScanDisks(platform, rows);
        ASSERT_EQ(rows.Count(), 1);
        EXPECT_EQ(rows.Cell(0, ColumnLabel), label) << PlatformCallName(fault.call) << fault.shortTransfer;
    }
    // The drive opens for the walk but not for the label: also 11 blanks.
    ImagePlatform platform(std::vector<std::string>{disk});
    PartitionRows rows;
    ScanDisks(platform, rows);
    uint64_t secondOpen = 0;
    for (const CallRecord& call : platform.Calls())
        if (call.call == PlatformCall::OpenDrive) secondOpen = call.number;
    ImagePlatform failing(std::vector<std::string>{disk});
    failing.FailCallNumber(secondOpen);
    ScanDisks(failing, rows);
    ASSERT_EQ(rows.Count(), 1);
    EXPECT_EQ(rows.Cell(0, ColumnLabel), "           ");
}

}  // namespace
}  // namespace quorvane::test
