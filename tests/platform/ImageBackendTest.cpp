// The image backend's model of Windows, one case per rule of
// platform/image/WindowsPartitions.cpp and per refusal of its devices: the
// numbers Windows gives to the entries of hand-built tables, and what a
// handle on a drive or a volume may read and write.
#include <gtest/gtest.h>

#include "platform/image/ImagePlatform.h"
#include "platform/image/WindowsPartitions.h"
#include "tests/scan/ScanSupport.h"
#include "tests/support/DiskImages.h"

namespace quorvane::test {
namespace {

constexpr uint8_t Linux = 0x83, Ntfs = 0x07, Fat32 = 0x0C, Extended = 0x05, ExtendedLba = 0x0F;

// The first sectors of the partitions Windows numbers, in number order.
std::vector<uint64_t> NumberedStarts(const SharedMemoryImage& disk) {
    auto file = ImageFile::Open(InMemory(disk), false);
    std::vector<uint64_t> starts;
    for (const PartitionExtent& partition : WindowsPartitions(*file, 512))
        starts.push_back(partition.offset / 512);
    return starts;
}

// Rule 1; rule 4's start of a logical partition counts from its own EBR.
TEST(WindowsNumbering, PrimariesInSlotOrderThenLogicalsInChainOrder) {
    const auto disk = MemoryDisk(64 * MiB);
    PutEntry(*disk, 0, 0, 0, Extended, 10000, 50000);
    PutEntry(*disk, 0, 1, 0, Ntfs, 2048, 4096);
    PutEntry(*disk, 0, 3, 0, Fat32, 70000, 4096);
    PutEntry(*disk, 10000 * 512, 0, 0, Linux, 63, 100);
    PutEntry(*disk, 10000 * 512, 1, 0, Extended, 500, 1000);
    PutEntry(*disk, 10500 * 512, 0, 0, Linux, 2, 100);
    EXPECT_EQ(NumberedStarts(disk), (std::vector<uint64_t>{2048, 70000, 10063, 10502}));
}

// Rule 2: in the MBR and in an EBR's first entry alike.
TEST(WindowsNumbering, EmptyEntriesAndContainersGetNoNumber) {
    const auto disk = MemoryDisk(64 * MiB);
    PutEntry(*disk, 0, 0, 0, 0x00, 100, 100);
    PutEntry(*disk, 0, 1, 0, ExtendedLba, 10000, 50000);
    PutEntry(*disk, 0, 2, 0, Linux, 2048, 100);
    PutEntry(*disk, 10000 * 512, 0, 0, Extended, 63, 100);
    PutEntry(*disk, 10000 * 512, 1, 0, Extended, 500, 1000);
    PutEntry(*disk, 10500 * 512, 0, 0, Ntfs, 2, 100);
    EXPECT_EQ(NumberedStarts(disk), (std::vector<uint64_t>{2048, 10502}));
}

// Rule 3: the entries of a disk with a protective entry are no partitions,
// whichever slot the EE is in.
// Rule 3: a protective entry alone makes a GPT disk (here without a GPT, so
// without partitions); beside other entries it is a hybrid MBR, read as an
// MBR whose EE entry is one more primary partition.
TEST(WindowsNumbering, ProtectiveEntryAloneMakesAGptDiskAndAHybridIsReadAsMbr) {
    const auto disk = MemoryDisk(64 * MiB);
    PutEntry(*disk, 0, 3, 0, 0xEE, 1, 100);
    EXPECT_TRUE(NumberedStarts(disk).empty());
    PutEntry(*disk, 0, 0, 0, Ntfs, 2048, 100);
    PutEntry(*disk, 0, 1, 0, Extended, 10000, 5000);
    PutEntry(*disk, 10000 * 512, 0, 0, Linux, 63, 100);
    EXPECT_EQ(NumberedStarts(disk), (std::vector<uint64_t>{2048, 1, 10063}));
}

// Rule 4: the empty EBR is passed over, the chain goes on past it.
TEST(WindowsNumbering, EbrWithAnEmptyFirstEntryGetsNoNumberAndItsLinkIsFollowed) {
    const auto disk = MemoryDisk(64 * MiB);
    PutEntry(*disk, 0, 0, 0, Extended, 10000, 50000);
    PutEntry(*disk, 10000 * 512, 1, 0, Extended, 500, 1000);
    PutEntry(*disk, 10500 * 512, 0, 0, Linux, 2, 100);
    EXPECT_EQ(NumberedStarts(disk), (std::vector<uint64_t>{10502}));
}

// Rule 5: links count from the first EBR, not from the EBR holding them; a
// link whose type is no container ends the chain. (A link of 0 names the
// first EBR again, so rule 6 would end the chain there as well.)
TEST(WindowsNumbering, LinksCountFromTheFirstEbrAndNeedAContainerType) {
    const auto disk = MemoryDisk(64 * MiB);
    PutEntry(*disk, 0, 0, 0, Extended, 10000, 50000);
    PutEntry(*disk, 10000 * 512, 0, 0, Linux, 63, 100);
    PutEntry(*disk, 10000 * 512, 1, 0, ExtendedLba, 500, 1000);
    PutEntry(*disk, 10500 * 512, 0, 0, Linux, 2, 100);
    PutEntry(*disk, 10500 * 512, 1, 0, Extended, 1000, 1000);  // 11000, not 11500
    PutEntry(*disk, 11000 * 512, 0, 0, Linux, 2, 100);
    PutEntry(*disk, 11000 * 512, 1, 0, Linux, 1500, 1000);  // not followed
    PutEntry(*disk, 11500 * 512, 0, 0, Linux, 2, 100);
    PutEntry(*disk, 11500 * 512, 1, 0, Extended, 2000, 1000);
    PutEntry(*disk, 12000 * 512, 0, 0, Linux, 2, 100);
    EXPECT_EQ(NumberedStarts(disk), (std::vector<uint64_t>{10063, 10502, 11002}));
}

// Rule 6: a loop ends where it comes back, a link to the MBR ends at once,
// and a second container cannot repeat an EBR of the first one's chain.
TEST(WindowsNumbering, ChainsEndAtTheMbrAndAtEbrsReadBefore) {
    const auto disk = MemoryDisk(64 * MiB);
    PutEntry(*disk, 0, 0, 0, Extended, 10000, 50000);
    PutEntry(*disk, 0, 1, 0, Extended, 10500, 1000);
    PutEntry(*disk, 10000 * 512, 0, 0, Linux, 63, 100);
    PutEntry(*disk, 10000 * 512, 1, 0, Extended, 500, 1000);
    PutEntry(*disk, 10500 * 512, 0, 0, Linux, 2, 100);
    PutEntry(*disk, 10500 * 512, 1, 0, Extended, 0x1000, 1000);  // on to 14096
    PutEntry(*disk, 14096 * 512, 0, 0, Linux, 2, 100);
    PutEntry(*disk, 14096 * 512, 1, 0, Extended, 500, 1000);  // back to 10500
    EXPECT_EQ(NumberedStarts(disk), (std::vector<uint64_t>{10063, 10502, 14098}));

    const auto toMbr = MemoryDisk(64 * MiB);
    PutEntry(*toMbr, 0, 0, 0, Ntfs, 2048, 100);
    PutEntry(*toMbr, 0, 1, 0, Extended, 0, 50000);  // the chain would start at the MBR
    EXPECT_EQ(NumberedStarts(toMbr), (std::vector<uint64_t>{2048}));
}

// Rule 7: a disk shorter than a sector has no partitions; an EBR that runs
// past the end of the disk ends its chain and is no partition.
TEST(WindowsNumbering, TableSectorsThatDoNotLieWholeOnTheDiskAreNotRead) {
    const auto cut = MemoryDisk(511);
    uint8_t entry[16] = {0, 0, 0, 0, Linux, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
    cut->WriteAt(0x1BE, entry, sizeof entry);
    EXPECT_TRUE(NumberedStarts(cut).empty());

    const auto disk = MemoryDisk(3 * 512 + 100);
    PutEntry(*disk, 0, 0, 0, Extended, 1, 10);
    PutEntry(*disk, 512, 0, 0, Linux, 1, 1);
    PutEntry(*disk, 512, 1, 0, Extended, 2, 1);  // sector 3: 100 bytes of it on the disk
    disk->WriteAt(3 * 512, entry, 16);
    EXPECT_EQ(NumberedStarts(disk), (std::vector<uint64_t>{2}));
}

// A DOS name reaches a volume only through a partition Windows numbers:
// never the whole disk (Partition0), a container, a GPT disk's MBR entry, or
// a drive without a medium.
// Rule 9: entries in entry order, the empty second one passed over; the
// backup header where the primary's CRC is wrong; nothing where both are.
TEST(WindowsNumbering, GptEntriesInOrderFromTheFirstCopyThatIsRight) {
    TempDir dir;
    const std::string node = dir.File("gpt.img");
    const std::string path = MakeGptImage(dir, "gpt.img", 8 * MiB,
                                          node + "1 : start=4096, size=100, type=linux\n" +
                                          node + "3 : start=2048, size=100, type=uefi\n");
    std::vector<uint8_t> bytes = ReadBytes(path);
    const auto disk = MemoryDisk(bytes.size());
    const auto starts = [&] {
        disk->WriteAt(0, bytes.data(), bytes.size());
        return NumberedStarts(disk);
    };
    EXPECT_EQ(starts(), (std::vector<uint64_t>{4096, 2048}));
    bytes[2 * 512 + 32] ^= 1;  // the first entry's start, in the primary array only
    EXPECT_EQ(starts(), (std::vector<uint64_t>{4096, 2048}));
    bytes[512 + 16] ^= 1;  // the primary header's CRC
    EXPECT_EQ(starts(), (std::vector<uint64_t>{4096, 2048}));
    bytes[bytes.size() - 512 + 16] ^= 1;
    EXPECT_TRUE(starts().empty());
}

TEST(ImageVolumes, OnlyNumberedPartitionsAreVolumes) {
    const auto mbr = MemoryDisk(64 * MiB), gpt = MemoryDisk(64 * MiB);
    PutEntry(*mbr, 0, 0, 0, Extended, 10000, 5000);
    PutEntry(*mbr, 0, 1, 0, Ntfs, 2048, 100);
    PutEntry(*gpt, 0, 0, 0, 0xEE, 1, 100);  // a protective MBR without a GPT
    ImagePlatform platform({InMemory(mbr), InMemory(gpt), InMemory(MemoryDisk(MiB))});
    const std::vector<std::pair<std::string, int64_t>> names = {
        {"\\Device\\Harddisk0\\Partition0", 0},  {"\\Device\\Harddisk0\\Partition1", 2048 * 512},
        {"\\Device\\Harddisk0\\Partition2", 0},  {"\\Device\\Harddisk1\\Partition1", 0},
        {"\\Device\\Harddisk0\\Partition1 ", 0}, {"\\Device\\Harddisk2\\Partition1", 0}};
    char letter = 'K';
    for (const auto& [target, start] : names) {
        ASSERT_TRUE(platform.DefineDosDevice(letter, target));
        EXPECT_EQ(platform.FirstDiskExtent(letter).startingOffset, start) << target;
        EXPECT_EQ(platform.OpenVolume(letter, Access::Read) != nullptr, start != 0) << target;
        ++letter;
    }
    platform.SetNoMedium(0, true);
    EXPECT_EQ(platform.FirstDiskExtent('L').startingOffset, 0);
}

// A transfer that does not lie whole on the disk fails instead of moving
// less, through a drive handle and through a volume that runs past the end.
TEST(ImageDevices, TransfersMustLieWholeOnTheDisk) {
    const auto disk = MemoryDisk(4 * 512 + 256);
    PutEntry(*disk, 0, 0, 0, Linux, 2, 100);  // 100 sectors on a disk of 4.5
    ImagePlatform platform({InMemory(disk)});
    Sector sector{};
    uint32_t transferred = 0;
    const auto drive = platform.OpenPhysicalDrive(0, Access::ReadWrite);
    ASSERT_TRUE(drive->Seek(3 * 512) && drive->Read(sector, transferred));
    EXPECT_EQ(transferred, 512u);
    ASSERT_TRUE(drive->Seek(4 * 512));
    EXPECT_FALSE(drive->Read(sector, transferred));
    EXPECT_FALSE(drive->Write(sector, transferred));

    ASSERT_TRUE(platform.DefineDosDevice('K', "\\Device\\Harddisk0\\Partition1"));
    const auto volume = platform.OpenVolume('K', Access::ReadWrite);
    ASSERT_TRUE(volume->Seek(1 * 512) && volume->Read(sector, transferred));
    ASSERT_TRUE(volume->Seek(2 * 512));
    EXPECT_FALSE(volume->Read(sector, transferred));
    EXPECT_FALSE(volume->Write(sector, transferred));
    EXPECT_EQ(transferred, 0u);
}

// Windows' FAT driver lets a mounted volume's handle write its boot sector
// and reserved sectors only; a drive handle, or a volume Windows does not
// mount as FAT, may write anywhere.
TEST(ImageDevices, MountedFatVolumeHandleWritesOnlyItsReservedSectors) {
    TempDir dir;
    const std::string image = MakeImage(
        dir, "fat.img", 80 * MiB, "start=2048, size=139264, type=c\nstart=141312, size=2048, type=83\n");
    MakeFat32(image, 2048, 139264, "DATA");
    const uint32_t reserved = LoadLe16(ReadBytes(image, 2048 * 512 + 0x0E, 2).data());
    ASSERT_GT(reserved, 6u);
    ImagePlatform platform(std::vector<std::string>{image});
    ASSERT_TRUE(platform.DefineDosDevice('K', "\\Device\\Harddisk0\\Partition1"));
    ASSERT_TRUE(platform.DefineDosDevice('L', "\\Device\\Harddisk0\\Partition2"));
    const auto write = [](SectorDevice& device, uint64_t sector) {
        Sector bytes{};
        uint32_t transferred = 0;
        return device.Seek(sector * 512) && device.Read(bytes, transferred) && device.Seek(sector * 512) &&
               device.Write(bytes, transferred);
    };
    const auto fat = platform.OpenVolume('K', Access::ReadWrite);
    EXPECT_TRUE(write(*fat, 0));
    EXPECT_TRUE(write(*fat, reserved - 1));
    EXPECT_FALSE(write(*fat, reserved));
    EXPECT_FALSE(write(*fat, 1000));
    EXPECT_TRUE(write(*platform.OpenVolume('L', Access::ReadWrite), 1000));
    EXPECT_TRUE(write(*platform.OpenPhysicalDrive(0, Access::ReadWrite), 2048 + reserved));
}

// Windows' FAT driver mounts a FAT32 volume only when its boot sector keeps a
// reserved area and a FAT, and its partition holds every sector the boot
// sector counts; otherwise no query answers for it.
TEST(ImageVolumes, FatVolumeIsMountedOnlyWhenItsPartitionHoldsIt) {
    TempDir dir;
    const std::string image = MakeImage(dir, "fat.img", 80 * MiB, "start=2048, size=139264, type=c\n");
    MakeFat32(image, 2048, 139264, "DATA");
    const auto answers = [&] {
        ImagePlatform platform(std::vector<std::string>{image});
        return platform.DefineDosDevice('K', "\\Device\\Harddisk0\\Partition1") && platform.QueryVolume('K');
    };
    ASSERT_TRUE(answers());
    WriteEntry(image, 0, 0, 0, Fat32, 2048, 139263);  // one sector short of the file system
    EXPECT_FALSE(answers());
    WriteEntry(image, 0, 0, 0, Fat32, 2048, 139264);
    WriteBytes(image, 2048 * 512 + 0x0E, {0, 0});  // no reserved sectors
    EXPECT_FALSE(answers());
}

}  // namespace
}  // namespace quorvane::test
