// The table walk over hand-built tables that no partitioning tool writes:
// positions past 4 GiB and 2 TiB, looping and runaway EBR chains, links off
// the disk, truncated and unsigned sectors, and more rows than the tables hold.
#include <gtest/gtest.h>

#include "tests/scan/ScanSupport.h"
#include "tests/support/DiskImages.h"

namespace quorvane::test {
namespace {

constexpr uint8_t Active = 0x80;

uint64_t Reads(const Scan& scan) {
    return scan.platform.CountCalls(PlatformCall::Read);
}

TEST(ScanHostile, StartPositionsAcrossFourGiBKeepTheHighHalf) {
    const auto disk = MemoryDisk(8 * GiB);
    PutEntry(*disk, 0, 0, 0, 0x07, 63, 2048);
    PutEntry(*disk, 0, 1, 0, 0x83, 0x800000 + 63, 2048);  // 32256 bytes past 4 GiB
    PutEntry(*disk, 0, 2, 0, 0x0F, 2048, 0x900000);
    // EBR 1 at the container's start; EBR 2 in the last sector below 4 GiB,
    // its partition 2048 sectors further, across the boundary; EBR 3 past it.
    const uint64_t ebr2 = 0x7FFFFF;
    const uint64_t ebr3 = 0x801000;
    PutEntry(*disk, 2048 * 512, 0, 0, 0x07, 2048, 2048);
    PutEntry(*disk, 2048 * 512, 1, 0, 0x05, static_cast<uint32_t>(ebr2 - 2048), 4096);
    PutEntry(*disk, ebr2 * 512, 0, 0, 0x0B, 2048, 2048);
    PutEntry(*disk, ebr2 * 512, 1, 0, 0x05, static_cast<uint32_t>(ebr3 - 2048), 4096);
    PutEntry(*disk, ebr3 * 512, 0, 0, 0x83, 1, 2048);

    Scan scan({InMemory(disk)});
    EXPECT_EQ(StartTexts(scan.rows),
              (std::vector<std::string>{"000000007E00", "000100007E00", "000000100000", "000000200000",
                                        "0001000FFE00", "000100200200"}));
    EXPECT_EQ(PartitionStartText(scan.rows.Side(4).entrySectorPosition), "0000FFFFFE00");
    EXPECT_EQ(scan.rows.Side(5).entrySectorPosition, ebr3 * 512);
    EXPECT_EQ(DeviceMapText(scan.rows), "0,0,1 1,0,2 3,0,3 4,0,4 5,0,5");
}

TEST(ScanHostile, PositionsNearTwoTiBAreComputedIn64Bits) {
    const auto disk = MemoryDisk(uint64_t{4} << 40);
    // The largest first sector and sector count an entry holds.
    PutEntry(*disk, 0, 0, 0, 0x07, 0xFFFFFFFFu, 0xFFFFFFFFu);
    const uint64_t base = 0xF0000000;
    const uint64_t ebr2 = base + 0x0FFFF000;
    PutEntry(*disk, 0, 3, 0, 0x05, static_cast<uint32_t>(base), 0x0FFFFFFF);
    PutEntry(*disk, base * 512, 0, 0, 0x83, 0x800, 0x800);
    PutEntry(*disk, base * 512, 1, 0, 0x05, 0x0FFFF000, 0x1000);
    PutEntry(*disk, ebr2 * 512, 0, Active, 0x0C, 0xFFF, 0xFFFFFFFFu);

    Scan scan({InMemory(disk)});
    EXPECT_EQ(RowLines(scan.rows), (std::vector<std::string>{
                                       "1|1|07|NTFS|主|2097152",
                                       "1||05|扩展|扩展|131072",
                                       "1|2|83|Linux|逻辑|1",
                                       "1|3|0C|FAT32 LBA|逻辑，活动|2097152",
                                   }));
    EXPECT_EQ(StartTexts(scan.rows),
              (std::vector<std::string>{"01FFFFFFFE00", "01E000000000", "01E000100000", "01FFFFFFFE00"}));
    EXPECT_EQ(scan.rows.Side(3).entrySectorPosition, ebr2 * 512);
    // The recorded place of each ID byte holds it, on this sparse disk too.
    for (int row = 0; row < scan.rows.Count(); ++row) {
        uint8_t id = 0;
        disk->ReadAt(scan.rows.Side(row).entrySectorPosition + scan.rows.Side(row).idByteOffset, &id, 1);
        char text[3];
        std::snprintf(text, sizeof text, "%02X", id);
        EXPECT_EQ(scan.rows.Cell(row, ColumnId), text) << row;
    }
}

TEST(ScanHostile, LoopingChainsGiveEachEbrOnceAndEnd) {
    // 2048 -> 2148 -> 2248 -> back to 2148.
    const auto back = MemoryDisk(64 * MiB);
    PutEntry(*back, 0, 0, 0, 0x0F, 2048, 8192);
    for (const auto& [ebr, type, link] : std::vector<std::tuple<uint64_t, uint8_t, uint32_t>>{
             {2048, 0x07, 100}, {2148, 0x0B, 200}, {2248, 0x83, 100}}) {
        PutEntry(*back, ebr * 512, 0, 0, type, 1, 99);
        PutEntry(*back, ebr * 512, 1, 0, 0x05, link, 100);
    }
    // 2048 -> 2148, which links to itself.
    const auto self = MemoryDisk(64 * MiB);
    PutEntry(*self, 0, 0, 0, 0x05, 2048, 8192);
    PutEntry(*self, 2048 * 512, 0, 0, 0x07, 1, 99);
    PutEntry(*self, 2048 * 512, 1, 0, 0x05, 100, 100);
    PutEntry(*self, 2148 * 512, 0, 0, 0x07, 1, 99);
    PutEntry(*self, 2148 * 512, 1, 0, 0x05, 100, 100);

    // A container whose first sector is the MBR: its chain ends before it
    // starts, so no logical row aliases the MBR's entries.
    const auto mbr = MemoryDisk(MiB);
    PutEntry(*mbr, 0, 0, 0, 0x05, 0, 2048);

    Scan scan({InMemory(back), InMemory(self), InMemory(mbr)});
    EXPECT_EQ(RowLines(scan.rows), (std::vector<std::string>{
                                       "1||0F|扩展 LBA|扩展|4",
                                       "1|1|07|NTFS|逻辑|0",
                                       "1|2|0B|FAT32|逻辑|0",
                                       "1|3|83|Linux|逻辑|0",
                                       "2||05|扩展|扩展|4",
                                       "2|1|07|NTFS|逻辑|0",
                                       "2|2|07|NTFS|逻辑|0",
                                       "3||05|扩展|扩展|1",
                                   }));
    EXPECT_EQ(DeviceMapText(scan.rows), "1,0,1 2,0,2 3,0,3 5,1,1 6,1,2");
    // Each table sector is read once: three MBRs and five EBRs; each logical
    // partition's first sector is read once more, looking for a FAT label.
    EXPECT_EQ(Reads(scan), 3u + 5 + 5);
}

// Windows follows a link only when its entry carries an extended type; an
// entry of type 00 that still holds a start is no link, and what it points at
// (here the middle of the first logical partition's data) is no EBR.
TEST(ScanHostile, LinkEntryWithoutAnExtendedTypeEndsTheChain) {
    const auto disk = MemoryDisk(64 * MiB);
    PutEntry(*disk, 0, 0, 0, 0x0F, 2048, 16384);
    PutEntry(*disk, 2048 * 512, 0, 0, 0x07, 64, 8192);
    PutEntry(*disk, 2048 * 512, 1, 0, 0x00, 4096, 4096);
    PutEntry(*disk, 6144 * 512, 0, 0, 0x0B, 1, 100);  // looks like an EBR, inside partition 1's data

    Scan scan({InMemory(disk)});
    EXPECT_EQ(RowLines(scan.rows), (std::vector<std::string>{"1||0F|扩展 LBA|扩展|8", "1|1|07|NTFS|逻辑|4"}));
    EXPECT_TRUE(scan.report.Complete());
}

TEST(ScanHostile, LinkPastTheEndOfTheDiskGivesOneEmptyRowAndEnds) {
    const auto disk = MemoryDisk(8 * MiB);
    PutEntry(*disk, 0, 0, 0, 0x0F, 2048, 8192);
    PutEntry(*disk, 2048 * 512, 0, 0, 0x07, 2048, 2048);
    PutEntry(*disk, 2048 * 512, 1, 0, 0x05, 0x100000, 4096);  // 512 MiB into an 8 MiB disk

    Scan scan({InMemory(disk)});
    EXPECT_EQ(RowLines(scan.rows), (std::vector<std::string>{"1||0F|扩展 LBA|扩展|4", "1|1|07|NTFS|逻辑|1",
                                                             "1|2|00|空闲|逻辑|0"}));
    EXPECT_EQ(scan.rows.Side(2).entrySectorPosition, (2048 + 0x100000) * uint64_t{512});
    EXPECT_EQ(StartTexts(scan.rows)[2], "000020100000");
    EXPECT_EQ(DeviceMapText(scan.rows), "1,0,1");  // the empty row gets no Windows number
    EXPECT_EQ(scan.report.unreadDrives, std::vector<uint32_t>{0});
}

TEST(ScanHostile, EbrWithAnEmptyFirstEntryIsStillALogicalRowAndItsLinkIsFollowed) {
    const auto disk = MemoryDisk(64 * MiB);
    PutEntry(*disk, 0, 0, 0, 0x05, 2048, 16384);
    PutEntry(*disk, 0, 1, 0, 0x07, 20480, 2048);
    PutEntry(*disk, 2048 * 512, 0, 0, 0x00, 0, 0);
    PutEntry(*disk, 2048 * 512, 1, 0, 0x05, 4096, 4096);
    PutEntry(*disk, 6144 * 512, 0, 0, 0x83, 2048, 2048);

    Scan scan({InMemory(disk)});
    EXPECT_EQ(RowLines(scan.rows), (std::vector<std::string>{"1||05|扩展|扩展|8", "1|1|00|空闲|逻辑|0",
                                                             "1|2|83|Linux|逻辑|1", "1|3|07|NTFS|主|1"}));
    // Windows numbers the logical partitions without the empty one.
    EXPECT_EQ(DeviceMapText(scan.rows), "3,0,1 2,0,2");
}

TEST(ScanHostile, TwoContainersInOneMbrShareTheDrivesLogicalCount) {
    const auto disk = MemoryDisk(64 * MiB);
    PutEntry(*disk, 0, 0, 0, 0x0F, 2048, 8192);
    PutEntry(*disk, 0, 1, 0, 0x07, 10240, 2048);
    PutEntry(*disk, 0, 2, 0, 0x05, 12288, 4096);
    PutEntry(*disk, 2048 * 512, 0, 0, 0x83, 2048, 2048);
    PutEntry(*disk, 2048 * 512, 1, 0, 0x05, 4096, 4096);
    PutEntry(*disk, 6144 * 512, 0, 0, 0x82, 2048, 2048);
    PutEntry(*disk, 12288 * 512, 0, 0, 0x0C, 2048, 2048);

    Scan scan({InMemory(disk)});
    EXPECT_EQ(RowLines(scan.rows), (std::vector<std::string>{
                                       "1||0F|扩展 LBA|扩展|4",
                                       "1|1|83|Linux|逻辑|1",
                                       "1|2|82|Linux Swap|逻辑|1",
                                       "1|3|07|NTFS|主|1",
                                       "1||05|扩展|扩展|2",
                                       "1|4|0C|FAT32 LBA|逻辑|1",
                                   }));
    EXPECT_EQ(DeviceMapText(scan.rows), "3,0,1 1,0,2 2,0,3 5,0,4");
    EXPECT_EQ(scan.rows.Side(5).entrySectorPosition, 12288u * 512);
}

TEST(ScanHostile, EmptyMbrSlotsCountForNothingWhateverTheirOtherFields) {
    const auto disk = MemoryDisk(64 * MiB);
    PutEntry(*disk, 0, 0, Active, 0x00, 2048, 4096);
    PutEntry(*disk, 0, 1, 0x81, 0x07, 6144, 4096);  // only 0x80 marks an entry active
    PutEntry(*disk, 0, 2, 0x00, 0x00, 0xFFFFFFFF, 0xFFFFFFFF);
    PutEntry(*disk, 0, 3, Active, 0xA5, 10240, 4096);

    Scan scan({InMemory(disk)});
    EXPECT_EQ(RowLines(scan.rows),
              (std::vector<std::string>{"1|1|07|NTFS|主|2", "1|2|A5|BSD/386|主，活动|2"}));
    EXPECT_EQ(DeviceMapText(scan.rows), "0,0,1 1,0,2");
    EXPECT_EQ(scan.rows.Side(0).idByteOffset, 0x1D2u);
    EXPECT_EQ(scan.rows.Side(1).idByteOffset, 0x1F2u);
}

TEST(ScanHostile, BlankUnsignedAndTruncatedMbrs) {
    TempDir dir;
    // A whole MBR with two used slots, cut after 470 bytes: slot 1 keeps its
    // type byte but loses its first-sector and size fields, which read as 0.
    Sector mbr{};
    const auto put = [&mbr](int slot, uint8_t type, uint32_t first, uint32_t count) {
        const std::vector<uint8_t> entry = EntryBytes(0, type, first, count);
        std::copy(entry.begin(), entry.end(), mbr.begin() + EntryPosition(0, slot));
    };
    put(0, 0x07, 63, 4096);
    put(1, 0x83, 8192, 4096);
    const std::string cut = MakeBlankImage(dir, "cut.img", 0);
    WriteBytes(cut, 0, std::vector<uint8_t>(mbr.begin(), mbr.begin() + 470));
    const std::string stub = MakeBlankImage(dir, "stub.img", 0);
    WriteBytes(stub, 0, std::vector<uint8_t>(mbr.begin(), mbr.begin() + 300));
    const std::string empty = MakeBlankImage(dir, "empty.img", 0);
    // No 0x55AA: the table is used all the same.
    const std::string unsigned_ = MakeBlankImage(dir, "unsigned.img", 8 * MiB);
    WriteBytes(unsigned_, 0, std::vector<uint8_t>(mbr.begin(), mbr.end()));
    const std::string blank = MakeBlankImage(dir, "blank.img", 8 * MiB);

    Scan scan({cut, stub, empty, unsigned_, blank});
    // A disk shorter than one sector cannot be read at all.
    EXPECT_EQ(RowLines(scan.rows), (std::vector<std::string>{"4|1|07|NTFS|主|2", "4|2|83|Linux|主|2"}));
    EXPECT_EQ(DeviceMapText(scan.rows), "0,3,1 1,3,2");
    EXPECT_EQ(scan.report.unreadDrives, (std::vector<uint32_t>{0, 1, 2}));
    EXPECT_FALSE(scan.rows.Side(0).tableSigned);  // listed, but never written
    // Every drive was opened and its MBR read, blank ones included; the two
    // partitions' first sectors were read looking for a FAT label.
    EXPECT_EQ(scan.platform.CountCalls(PlatformCall::OpenDrive), 5u + 1);
    EXPECT_EQ(Reads(scan), 5u + 2);
}

TEST(ScanHostile, ChainLongerThanTheTablesStopsAtTheLastRow) {
    const auto disk = MemoryDisk(64 * MiB);
    PutEntry(*disk, 0, 0, 0, 0x0F, 2048, 8 * 400);
    for (uint32_t k = 0; k < 400; ++k) {
        const uint64_t ebr = 2048 + 8 * k;
        PutEntry(*disk, ebr * 512, 0, 0, 0x83, 1, 7);
        PutEntry(*disk, ebr * 512, 1, 0, 0x05, k + 1 < 400 ? 8 * (k + 1) : 0, 8);
    }
    Scan scan({InMemory(disk)});
    ASSERT_EQ(scan.rows.Count(), RowCapacity);
    EXPECT_TRUE(scan.report.rowsFull);
    EXPECT_EQ(scan.rows.Cell(RowCapacity - 1, ColumnPartition), "260");
    EXPECT_EQ(scan.rows.Side(RowCapacity - 1).entrySectorPosition, (2048 + 8 * 259) * uint64_t{512});
    ASSERT_EQ(scan.rows.DeviceMap().size(), 260u);
    EXPECT_EQ(scan.rows.DeviceMap().back(), (DeviceMapEntry{260, 0, 260}));
    // The walk stops at the limit instead of reading the rest of the chain
    // (each listed partition's first sector is read for a FAT label).
    EXPECT_LE(Reads(scan), 1u + 261 + 260);
}

// Empty EBRs up to the last row: the chain goes on past it, so the container
// may hold logical partitions the rows do not show.
TEST(ScanHostile, ContainerWhoseChainRunsPastTheLastRowHoldsLogicals) {
    const auto disk = MemoryDisk(64 * MiB);
    PutEntry(*disk, 0, 0, 0, 0x05, 2048, 8 * 400);
    for (uint32_t k = 0; k + 1 < 400; ++k) PutEntry(*disk, (2048 + 8 * k) * 512, 1, 0, 0x05, 8 * (k + 1), 8);
    Scan scan({InMemory(disk)});
    ASSERT_EQ(scan.rows.Count(), RowCapacity);
    EXPECT_EQ(scan.rows.Cell(1, ColumnId), "00");
    EXPECT_TRUE(scan.rows.Side(0).holdsLogicals);
}

TEST(ScanHostile, MoreEntriesOverManyDrivesThanTheTablesHold) {
    // 66 drives of four primaries: 264 entries for 261 rows.
    std::vector<ImageSource> primaries;
    for (int d = 0; d < 66; ++d) {
        const auto disk = MemoryDisk(64 * MiB);
        for (int slot = 0; slot < 4; ++slot)
            PutEntry(*disk, 0, slot, 0, 0x83, 2048 + 4096 * static_cast<uint32_t>(slot), 4096);
        primaries.push_back(InMemory(disk));
    }
    Scan flat(primaries);
    ASSERT_EQ(flat.rows.Count(), RowCapacity);
    EXPECT_TRUE(flat.report.rowsFull);
    EXPECT_FALSE(flat.report.Complete());
    EXPECT_EQ(RowLine(flat.rows, 260), "66|1|83|Linux|主|2");
    ASSERT_EQ(flat.rows.DeviceMap().size(), 261u);
    EXPECT_EQ(flat.rows.DeviceMap().back(), (DeviceMapEntry{260, 65, 1}));

    // 30 drives of a container with nine logicals: 26 drives fill 260 rows,
    // the 27th gets its container row only.
    std::vector<ImageSource> chains;
    for (int d = 0; d < 30; ++d) {
        const auto disk = MemoryDisk(64 * MiB);
        PutEntry(*disk, 0, 0, 0, 0x0F, 2048, 9 * 2048);
        for (uint32_t k = 0; k < 9; ++k) {
            const uint64_t ebr = 2048 + 2048 * k;
            PutEntry(*disk, ebr * 512, 0, 0, 0x07, 1, 2047);
            PutEntry(*disk, ebr * 512, 1, 0, 0x05, k < 8 ? 2048 * (k + 1) : 0, 2048);
        }
        chains.push_back(InMemory(disk));
    }
    Scan deep(chains);
    ASSERT_EQ(deep.rows.Count(), RowCapacity);
    EXPECT_EQ(RowLine(deep.rows, 259), "26|9|07|NTFS|逻辑|1");
    EXPECT_EQ(RowLine(deep.rows, 260), "27||0F|扩展 LBA|扩展|9");
    ASSERT_EQ(deep.rows.DeviceMap().size(), 26u * 9);
    EXPECT_EQ(deep.rows.DeviceMap().back(), (DeviceMapEntry{259, 25, 9}));
    for (int row = 0; row < deep.rows.Count(); ++row)
        EXPECT_EQ(deep.rows.Side(row).scannedId, deep.rows.Cell(row, ColumnId)) << row;
}

}  // namespace
}  // namespace quorvane::test
