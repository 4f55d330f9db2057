// The label column of rows Windows gives no answer for (no letter): the label
// entry of the FAT root directory, as Windows reads it, on volumes made by
// mkfs.fat and then relabelled the way Windows relabels them (the root entry
// changes, the boot-sector copy goes stale).
#include <gtest/gtest.h>

#include "tests/scan/ScanSupport.h"
#include "tests/support/DiskImages.h"

namespace quorvane::test {
namespace {

constexpr uint64_t Sectors = 80000;  // enough clusters of one sector for FAT32

// Byte position of the first root directory entry of the FAT at `start`
// (a sector number), from its own boot sector.
uint64_t RootEntry(const std::string& image, uint64_t start) {
    const std::vector<uint8_t> boot = ReadBytes(image, start * 512, 512);
    const auto le = [&boot](size_t at, int width) {
        uint64_t value = 0;
        for (int i = width - 1; i >= 0; --i) value = value << 8 | boot[at + static_cast<size_t>(i)];
        return value;
    };
    const uint64_t fatSize = le(0x16, 2) != 0 ? le(0x16, 2) : le(0x24, 4);
    return (start + le(0x0E, 2) + boot[0x10] * fatSize) * 512;  // FAT32: cluster 2 is the root
}

TEST(FatLabelScan, RootDirectoryLabelWhateverTheBootSectorSays) {
    TempDir dir;
    const std::string disk = MakeImage(dir, "fat.img", 256 * MiB,
                                       "p1 : start=2048, size=80000, type=b\n"
                                       "p2 : start=90112, size=80000, type=c\n"
                                       "p3 : start=172032, size=40000, type=6\n"
                                       "p4 : start=214016, size=270000, type=f\n"
                                       "p5 : start=216064, size=80000, type=1b\n"
                                       "p6 : start=298112, size=20000, type=b\n"
                                       "p7 : start=320160, size=80000, type=7\n"
                                       "p8 : start=402208, size=80000, type=c\n");
    MakeFat32(disk, 2048, Sectors, "");  // no label entry; "NO NAME" in the boot sector
    MakeFat32(disk, 90112, Sectors, "label1");
    MustRun("mkfs.fat -F 16 -n OLD16 --offset 172032 " + Quote(disk) + " 20000 >/dev/null 2>&1");
    MakeFat32(disk, 216064, Sectors, "LOGIC");
    // p6: an NTFS-like boot sector.
    WriteBytes(disk, 298112 * 512 + 3, {'N', 'T', 'F', 'S', ' ', ' ', ' ', ' '});
    MakeFat32(disk, 320160, Sectors, "SEVEN");
    MakeFat32(disk, 402208, Sectors, "label1");
    // Windows relabelled p2 and erased p8's label: only the root entries changed.
    WriteBytes(disk, RootEntry(disk, 90112), {'L', 'A', 'B', 'E', 'L', '2', ' ', ' ', ' ', ' ', ' '});
    WriteBytes(disk, RootEntry(disk, 402208), {0xE5});
    ASSERT_EQ(BlkidTag(disk, 90112 * 512, "LABEL_FATBOOT"), "label1");

    Scan scan({disk});
    std::vector<std::string> labels;
    for (int row = 0; row < scan.rows.Count(); ++row) labels.push_back(scan.rows.Cell(row, ColumnLabel));
    EXPECT_EQ(labels, (std::vector<std::string>{
                          "",        // p1: no label entry
                          "LABEL2",  // p2: not the stale boot-sector copy, no trailing blanks
                          "OLD16",   // p3: FAT16 too
                          "",        // the container
                          "LOGIC",   // p5: read at the logical partition's own start
                          "",        // p6: not FAT at all
                          "SEVEN",   // p7: the file system decides, not the ID
                          "",        // p8: erased, whatever the boot sector holds
                      }));
    for (int row = 0; row < scan.rows.Count(); ++row)
        EXPECT_EQ(scan.rows.Side(row).scannedLabel, labels[row]) << row;
    EXPECT_EQ(scan.platform.CountCalls(PlatformCall::Write), 0u);
}

TEST(FatLabelScan, UnreadableFileSystemShowsNoLabel) {
    TempDir dir;
    const std::string disk = MakeImage(dir, "fat.img", 64 * MiB, "p1 : start=2048, size=80000, type=c\n");
    MakeFat32(disk, 2048, Sectors, "DATA");
    for (const Fault& fault : {FaultOn(PlatformCall::Read, 0, 0, 2048 * 512), FaultOn(PlatformCall::Seek, 0, 0, 2048 * 512),
                               FaultOn(PlatformCall::Read, 0, 0, 2048 * 512, true),
                               FaultOn(PlatformCall::Read, 0, 0, RootEntry(disk, 2048))}) {
        ImagePlatform platform(std::vector<std::string>{disk});
        platform.AddFault(fault);
        PartitionRows rows;
        ScanDisks(platform, rows);
        ASSERT_EQ(rows.Count(), 1);
        EXPECT_EQ(rows.Cell(0, ColumnLabel), "") << PlatformCallName(fault.call) << fault.shortTransfer;
    }
}

}  // namespace
}  // namespace quorvane::test
