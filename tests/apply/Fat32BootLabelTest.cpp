// The FAT32 label of an apply pass on mkfs.fat file systems: the root
// directory through the volume's label call, the boot sector and its backup
// through the volume handle, and fsck.fat -n finding the copies equal.
#include <gtest/gtest.h>

#include "tests/apply/ApplyFixtures.h"

namespace quorvane::test {
namespace {

using SD = StandardDisk;

TEST(Fat32BootLabel, LabelReachesRootBootSectorAndBackup) {
    TempDir dir;
    const StandardDisk disk(dir, "disk.img");
    const std::string& image = disk.image;
    ProgramRun run({image});
    run.OpenWindow();
    const int row = run.Row("1", "3");
    EXPECT_EQ(run.Rows().Cell(row, ColumnLabel), "LOGIC");  // as Windows reports it
    const std::string letter = run.Rows().Cell(row, ColumnLetter);
    const auto before = ImageBytes(image);
    const Fat32Places p5(before, SD::P5);
    run.Rows().SetCell(row, ColumnLabel, "ARCHIVE");

    EXPECT_EQ(run.Confirm(), ExitDone);
    ExpectImage(before, image,
                {{p5.rootEntry, LabelField("ARCHIVE")},
                 {p5.bootLabel, LabelField("ARCHIVE")},
                 {p5.backupLabel, LabelField("ARCHIVE")}});
    EXPECT_EQ(BlkidTag(image, Sector(SD::P5), "LABEL"), "ARCHIVE");
    EXPECT_EQ(BlkidTag(image, Sector(SD::P5), "LABEL_FATBOOT"), "ARCHIVE");
    EXPECT_EQ(FatlabelOfPartition(dir, image, SD::P5, SD::FatSectors), "ARCHIVE");
    const CommandResult fsck = FsckPartition(dir, image, SD::P5, SD::FatSectors);
    EXPECT_EQ(fsck.exitCode, 0) << fsck.out;

    // Partition 1 was not edited, so its label is not set.
    ASSERT_EQ(run.CallsSinceStart(PlatformCall::SetVolumeLabel).size(), 1u);
    EXPECT_EQ(run.CallsSinceStart(PlatformCall::SetVolumeLabel)[0].letter, letter[0]);

    // Both boot sectors went through the volume handle of the row's letter,
    // never through the physical drive.
    std::vector<uint64_t> volumeWrites;
    for (const CallRecord& call : run.CallsSinceStart(PlatformCall::Write)) {
        EXPECT_EQ(call.letter, letter[0]);
        volumeWrites.push_back(call.position);
    }
    EXPECT_EQ(volumeWrites, (std::vector<uint64_t>{0, Sector(6)}));
}

// Windows reports what file system a volume holds, whatever the partition's
// ID says (people leave FAT32 under 07): every FAT32 volume gets its boot
// copies, so fsck.fat finds both labels alike.
TEST(Fat32BootLabel, FileSystemNotIdDecidesWhetherTheBootSectorIsWritten) {
    TempDir dir;
    // Partition 1 holds FAT32 (without a label) under the ID 07; partition 2
    // holds FAT32 under 0B.
    constexpr uint64_t F = SD::FatSectors, P2 = 64 + F;
    const std::string image =
        MakeImage(dir, "disk.img", (P2 + F) * 512,
                  "start=64, size=" + std::to_string(F) + ", type=7\nstart=" + std::to_string(P2) +
                      ", size=" + std::to_string(F) + ", type=b");
    MakeFat32(image, 64, F, "");
    MakeFat32(image, P2, F, "OLDNAME");
    ProgramRun run({image});
    run.OpenWindow();
    const auto before = ImageBytes(image);
    const Fat32Places p1(before, 64), p2(before, P2);
    run.Rows().SetCell(0, ColumnLabel, "NEWNAME");  // FAT32 under 07
    run.Rows().SetCell(1, ColumnId, "07");          // 0B to 07 with a label
    run.Rows().SetCell(1, ColumnLabel, "PLAIN");

    EXPECT_EQ(run.Confirm(), ExitDone);
    std::vector<uint8_t> newEntry = LabelField("NEWNAME");
    newEntry.push_back(0x08);  // a new label entry in the first free root slot
    ExpectImage(before, image,
                {{IdByte(0, 1), {0x07}},
                 {p1.rootEntry, newEntry},
                 {p1.bootLabel, LabelField("NEWNAME")},
                 {p1.backupLabel, LabelField("NEWNAME")},
                 {p2.rootEntry, LabelField("PLAIN")},
                 {p2.bootLabel, LabelField("PLAIN")},
                 {p2.backupLabel, LabelField("PLAIN")}});
    for (const uint64_t start : {uint64_t{64}, P2}) {
        const CommandResult fsck = FsckPartition(dir, image, start, F);
        EXPECT_EQ(fsck.exitCode, 0) << fsck.out;
    }
}

// Two FAT32 partitions behind an empty one. An ID changed to 00 renumbers
// the partitions Windows knows, and with them the targets of the temporary
// names: the label of partition 2 must never land in partition 3.
constexpr uint64_t RenumberedThird = 576 + SD::FatSectors;
std::string RenumberingDisk(const TempDir& dir) {
    const std::string size = std::to_string(SD::FatSectors), third = std::to_string(RenumberedThird);
    const std::string image = MakeImage(dir, "disk.img", (RenumberedThird + SD::FatSectors) * 512,
                                        "start=64, size=512, type=7\n"
                                        "start=576, size=" +
                                            size +
                                            ", type=c\n"
                                            "start=" +
                                            third + ", size=" + size + ", type=c");
    MakeFat32(image, 576, SD::FatSectors, "TWO");
    MakeFat32(image, RenumberedThird, SD::FatSectors, "THREE");
    return image;
}

TEST(Fat32BootLabel, OwnIdChangeNeverMovesALabelToAnotherPartition) {
    TempDir dir;
    const std::string image = RenumberingDisk(dir);
    ProgramRun run({image});
    run.OpenWindow();
    const auto before = ImageBytes(image);
    const Fat32Places p2(before, 576);
    run.Rows().SetCell(0, ColumnId, "00");
    run.Rows().SetCell(1, ColumnLabel, "NEW");

    EXPECT_EQ(run.Confirm(), ExitDone);
    ExpectImage(before, image,
                {{IdByte(0, 0), {0x00}},
                 {p2.rootEntry, LabelField("NEW")},
                 {p2.bootLabel, LabelField("NEW")},
                 {p2.backupLabel, LabelField("NEW")}});
    EXPECT_EQ(BlkidTag(image, Sector(RenumberedThird), "LABEL_FATBOOT"), "THREE");
}

TEST(Fat32BootLabel, TableChangedByAnotherProgramStopsTheLabel) {
    TempDir dir;
    const std::string image = RenumberingDisk(dir);
    ProgramRun run({image});
    run.OpenWindow();
    // After the scan, a tool that sets the layout through Windows: E: now
    // reaches partition 3.
    WriteBytes(image, IdByte(0, 0), {0x00});
    run.platform.ReReadLayout(0);
    const auto before = ImageBytes(image);
    run.Rows().SetCell(1, ColumnLabel, "NEW");

    EXPECT_EQ(run.Confirm(), ExitNotApplied);
    EXPECT_EQ(run.session.Failures(), (ChangeFailures{{1, FailureCause::VolumeReplaced}}));
    EXPECT_TRUE(run.CallsSinceStart(PlatformCall::SetVolumeLabel).empty());
    ExpectImage(before, image, {});
}

TEST(Fat32BootLabel, BootSectorThatIsNotFat32IsNeverWritten) {
    TempDir dir;
    const std::string image = MakeImage(dir, "disk.img", 4 << 20, "start=64, size=6144, type=b");
    MustRun("mkfs.fat -F 16 -s 1 -n FATSIXTEEN --offset 64 " + Quote(image) + " 3072 >/dev/null 2>&1");
    const auto before = ImageBytes(image);
    ProgramRun run({image});
    run.OpenWindow();
    // The ID says FAT32, the file system is FAT16, read as Windows reads it.
    EXPECT_EQ(run.Rows().Cell(0, ColumnLabel), "FATSIXTEEN");
    run.Rows().SetCell(0, ColumnLabel, "NEWNAME");

    // Windows (emulated for FAT32 only) gave no answer for the volume, so it
    // cannot be told to be the one scanned: nothing is set or written.
    EXPECT_EQ(run.Confirm(), ExitNotApplied);
    EXPECT_EQ(run.session.Failures(), (ChangeFailures{{0, FailureCause::OpenVolume}}));
    EXPECT_EQ(run.CallsSinceStart(PlatformCall::OpenVolume).size(), 0u);
    EXPECT_TRUE(run.CallsSinceStart(PlatformCall::Write).empty());
    ExpectImage(before, image, {});
}

TEST(Fat32BootLabel, BackupIsWrittenOnlyWhenItPassesTheSameTest) {
    TempDir dir;
    const StandardDisk disk(dir, "disk.img");
    const std::string& image = disk.image;
    const Fat32Places p1(ImageBytes(image), SD::P1);
    // The type field compares without case; a backup whose type field was
    // destroyed is no FAT32 boot sector.
    WriteBytes(image, p1.bootLabel + (0x52 - 0x47), Bytes("fat32"));
    WriteBytes(image, p1.backupLabel + (0x52 - 0x47), Bytes("XXXXX"));
    ProgramRun run({image});
    run.OpenWindow();
    EXPECT_EQ(run.Rows().Cell(0, ColumnLabel), "BOOTONE");
    const auto before = ImageBytes(image);
    run.Rows().SetCell(0, ColumnLabel, "KEEP");

    EXPECT_EQ(run.Confirm(), ExitDone);
    ExpectImage(before, image, {{p1.rootEntry, LabelField("KEEP")}, {p1.bootLabel, LabelField("KEEP")}});
}

// The backup field is trusted only inside the reserved sectors: pointing at
// a data sector (even one holding a copy of the boot sector), it names no
// backup, and the sector it names is left alone.
TEST(Fat32BootLabel, BackupFieldPointingIntoTheDataIsIgnored) {
    TempDir dir;
    const StandardDisk disk(dir, "disk.img");
    const std::string& image = disk.image;
    const uint64_t boot = Sector(SD::P1);
    ASSERT_LT(Le(ImageBytes(image), boot + 0x0E, 2), 40u);  // reserved sectors
    WriteBytes(image, boot + 0x32, {40, 0});
    WriteBytes(image, boot + Sector(40), ReadBytes(image, boot, 512));
    ProgramRun run({image});
    run.OpenWindow();
    const auto before = ImageBytes(image);
    const Fat32Places p1(before, SD::P1);
    run.Rows().SetCell(0, ColumnLabel, "KEEP");

    EXPECT_EQ(run.Confirm(), ExitDone);
    ExpectImage(before, image, {{p1.rootEntry, LabelField("KEEP")}, {p1.bootLabel, LabelField("KEEP")}});
}

// "濉" is E5 A1 in code page 936; 0xE5 first in a directory entry marks it
// deleted, so the root directory holds 0x05 there, the boot sector 0xE5.
TEST(Fat32BootLabel, LeadByteE5StaysALabelInTheRootDirectory) {
    TempDir dir;
    const StandardDisk disk(dir, "disk.img");
    const std::string label =
        "\xE5\xA1"
        "DATA";
    ProgramRun run({disk.image});
    run.OpenWindow();
    const auto before = ImageBytes(disk.image);
    const Fat32Places p1(before, SD::P1);
    run.Rows().SetCell(0, ColumnLabel, label);
    EXPECT_EQ(run.Confirm(), ExitDone);
    std::vector<uint8_t> root = LabelField(label);
    root[0] = 0x05;
    ExpectImage(
        before, disk.image,
        {{p1.rootEntry, root}, {p1.bootLabel, LabelField(label)}, {p1.backupLabel, LabelField(label)}});
    // blkid reads both copies back as the same bytes (fsck.fat takes no
    // label outside ASCII, so it cannot judge this one).
    EXPECT_EQ(BlkidTag(disk.image, Sector(SD::P1), "LABEL"), label);
    EXPECT_EQ(BlkidTag(disk.image, Sector(SD::P1), "LABEL_FATBOOT"), label);
    ProgramRun again({disk.image});
    again.OpenWindow();
    EXPECT_EQ(again.platform.QueryVolume('D')->label, label);  // the emulated label call reads it back whole
}

TEST(Fat32BootLabel, FieldIsPaddedOrCutToElevenBytes) {
    TempDir dir;
    const StandardDisk disk(dir, "disk.img");
    const std::string& image = disk.image;
    ProgramRun run({image});
    run.OpenWindow();
    const auto before = ImageBytes(image);
    const Fat32Places p1(before, SD::P1), p5(before, SD::P5);
    run.Rows().SetCell(run.Row("1", "1"), ColumnLabel, "");                // no label
    run.Rows().SetCell(run.Row("1", "3"), ColumnLabel, "FOURTEENLETTER");  // 14 bytes

    // FAT takes no label of more than 11 bytes, so Windows refuses the second,
    // and its boot sectors keep what they held.
    EXPECT_EQ(run.Confirm(), ExitNotApplied);
    EXPECT_EQ(run.session.Failures(), (ChangeFailures{{run.Row("1", "3"), FailureCause::SetLabel}}));
    ExpectImage(before, image,
                {{p1.rootEntry, {0xE5}},  // the label entry is deleted
                 {p1.bootLabel, LabelField("")},
                 {p1.backupLabel, LabelField("")}});
    EXPECT_EQ(BlkidTag(image, Sector(SD::P5), "LABEL"), "LOGIC");
}

}  // namespace
}  // namespace quorvane::test
