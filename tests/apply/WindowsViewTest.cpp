// What Windows itself sees, asked before anything is written: its own layout
// of each disk (a stale or different one stops every ID change on the disk),
// the volumes it must let go of (locked before their entries change), the
// partitions it runs from (never changed), the table it reads on a hybrid
// MBR, and volumes whose raw sectors are not what it shows (BitLocker).
#include <gtest/gtest.h>

#include "app/RowEdit.h"
#include "scan/SystemPartitions.h"
#include "tests/apply/ApplyFixtures.h"

namespace quorvane::test {
namespace {

// A FAT32 file system needs 65525 clusters: 40 MiB of 512-byte clusters.
constexpr uint64_t FatSectors = 81920;

// Two FAT32 primaries (07 and 0C) and a Linux one.
std::string TwoVolumes(const TempDir& dir) {
    const std::string image = MakeImage(dir, "disk.img", 200 << 20,
                                        "start=2048, size=81920, type=7\n"
                                        "start=83968, size=81920, type=c\n"
                                        "start=165888, size=20480, type=83");
    MakeFat32(image, 2048, FatSectors, "FIRST");
    MakeFat32(image, 83968, FatSectors, "SECOND");
    return image;
}

std::vector<ChangeFailure> FailuresOf(const ProgramRun& run) {
    return run.session.Failures();
}

// A GPT made by sgdisk (Linux, then FAT32 in basic data) turned into a
// hybrid MBR by `sgdisk -h 2:EE`: the MBR lists GPT partition 2 as 07 in
// slot 0 and the protective entry after it. Windows reads the MBR.
TEST(WindowsView, HybridMbrIsAddressedByTheRowsOfTheTableWindowsReads) {
    TempDir dir;
    const std::string image = MakeBlankImage(dir, "hybrid.img", 100 << 20);
    MustRun("sgdisk -n 1:2048:+8M -t 1:8300 -n 2:18432:+40M -t 2:0700 " + Quote(image) + " >/dev/null");
    MakeFat32(image, 18432, FatSectors, "HYBRID");
    MustRun("sgdisk -h 2:EE " + Quote(image) + " >/dev/null");
    const nlohmann::json rows = ImageToolJson({image});
    ASSERT_EQ(rows.size(), 4u) << rows.dump(1);
    EXPECT_EQ(rows[0]["id"], "07");
    EXPECT_EQ(rows[0]["partition"], "1");
    EXPECT_EQ(rows[1]["id"], "EE");
    EXPECT_EQ(rows[1]["partition"], "2");
    for (const int gpt : {2, 3}) {
        EXPECT_EQ(rows[gpt]["partition"], "") << rows[gpt].dump();
        EXPECT_EQ(rows[gpt]["kind"], "GPT，Windows 不读取");
        EXPECT_EQ(rows[gpt]["letter"], "");
        EXPECT_EQ(rows[gpt]["windows_partition"], nullptr);
    }

    // "1 1" is the MBR's 07 entry and nothing else: its label (the FAT32
    // volume it covers) and its ID byte; a GPT code is refused on it.
    ProgramRun label({image});
    auto before = ImageBytes(image);
    const Fat32Places fat(before, 18432);
    EXPECT_EQ(label.Command({"/L", "1", "1", "NEWLBL"}), ExitDone);
    ExpectImage(before, image,
                {{fat.rootEntry, LabelField("NEWLBL")},
                 {fat.bootLabel, LabelField("NEWLBL")},
                 {fat.backupLabel, LabelField("NEWLBL")}});
    before = ImageBytes(image);
    ProgramRun gptCode({image});
    EXPECT_EQ(gptCode.Command({"/M", "1", "1", "0C01"}), ExitNotApplied);
    ExpectImage(before, image, {});
    ProgramRun id({image});
    id.platform.SetUndoFolder(dir.File("undo"));
    EXPECT_EQ(id.Command({"/M", "1", "1", "0C"}), ExitDone);
    ExpectImage(before, image, {{IdByte(0, 0), {0x0C}}});
    EXPECT_NE(SgdiskVerify(image, 512).value_or("").find("No problems found"), std::string::npos);
    // The disk is the GPT's, whichever slot the row's entry lies in: /U
    // finds it by its GUID and puts the byte back.
    ProgramRun undo({image});
    undo.platform.SetUndoFolder(dir.File("undo"));
    EXPECT_EQ(undo.Command({"/U", id.session.UndoFile()}), ExitDone);
    ExpectImage(before, image, {});

    // The GPT's rows are never changed, whatever the command names.
    before = ImageBytes(image);
    ProgramRun find({image});
    EXPECT_EQ(find.Command({"/F", "0700", "2700"}), ExitNotApplied);
    EXPECT_EQ(FailuresOf(find), (ChangeFailures{{3, FailureCause::OtherScheme}}));
    ExpectImage(before, image, {});
}

// Where Windows' own layout says GPT, the GPT's rows get the numbers and the
// MBR's other entries are the table it does not read.
class GptReadingWindows : public ImagePlatform {
 public:
    using ImagePlatform::ImagePlatform;
    std::optional<DriveLayout> QueryDriveLayout(uint32_t drive) override {
        auto layout = ImagePlatform::QueryDriveLayout(drive);
        if (!layout) return layout;
        // Windows' answer for the same disk read as GPT: its two partitions.
        DriveLayout gpt;
        gpt.style = PartitionStyle::Gpt;
        gpt.entries = {{1, 2048 * 512, 8 << 20, 0, *GuidOnDiskOf("0FC63DAF-8483-4772-8E79-3D69D8477DE4"), 0},
                       {2, 18432 * 512, 40 << 20, 0, *GuidOnDiskOf("EBD0A0A2-B9E5-4433-87C0-68B6B72699C7"), 0}};
        return gpt;
    }
    static std::optional<Guid> GuidOnDiskOf(const char* text) { return ParseGuid(text); }
};

TEST(WindowsView, HybridMbrReadAsGptWhereWindowsSaysSo) {
    TempDir dir;
    const std::string image = MakeBlankImage(dir, "hybrid.img", 100 << 20);
    MustRun("sgdisk -n 1:2048:+8M -t 1:8300 -n 2:18432:+40M -t 2:0700 -h 2:EE " + Quote(image) + " >/dev/null");
    GptReadingWindows platform(std::vector<std::string>{image});
    RecordingShell shell;
    Session session(platform, shell);
    session.Start({});
    const PartitionRows& rows = session.Rows();
    ASSERT_EQ(rows.Count(), 4);
    EXPECT_EQ(rows.Cell(0, ColumnPartition), "");  // the MBR's 07: not read
    EXPECT_TRUE(rows.Side(0).otherScheme);
    EXPECT_EQ(rows.Cell(2, ColumnPartition), "1");
    EXPECT_EQ(rows.Cell(3, ColumnPartition), "2");
    EXPECT_FALSE(rows.Side(3).layoutDiffers);
}

// A table written raw by another tool without asking Windows to read it
// again: Windows' view is stale, so no ID on the disk is written and no
// temporary letter points into it; the other disk is not held back.
TEST(WindowsView, StaleLayoutStopsEveryIdChangeOnItsDisk) {
    TempDir dir;
    const std::string stale = TwoVolumes(dir);
    const std::string other = MakeImage(dir, "other.img", 8 << 20, "start=2048, size=4096, type=7");
    ProgramRun run({stale, other});
    ASSERT_TRUE(run.platform.QueryDriveLayout(0));  // Windows met the disk at boot
    WriteBytes(stale, IdByte(0, 2), {0x8E});
    const auto before = ImageBytes(stale);
    const auto otherBefore = ImageBytes(other);
    EXPECT_EQ(run.Command({"/F", "07", "17"}), ExitNotApplied);
    EXPECT_EQ(FailuresOf(run), (ChangeFailures{{0, FailureCause::LayoutDiffers}}));
    ExpectImage(before, stale, {});
    ExpectImage(otherBefore, other, {{IdByte(0, 0), {0x17}}});
    EXPECT_EQ(run.session.LastScan().layoutDiffers, (std::vector<uint32_t>{0}));
    for (const TemporaryDriveName& name : run.session.TemporaryNames())
        EXPECT_EQ(name.target.find("Harddisk0"), std::string::npos) << name.target;
}

// A volume with open files cannot be locked: after ten tries 100 ms apart
// nothing of its disk is written. A volume that can be is locked and
// dismounted before the write and let go after Windows read the new layout.
TEST(WindowsView, VolumesAreLockedBeforeTheirEntriesChange) {
    TempDir dir;
    const std::string image = TwoVolumes(dir);
    auto before = ImageBytes(image);
    ProgramRun busy({image});
    busy.platform.SetVolumeInUse(0, 2);
    EXPECT_EQ(busy.Command({"/M", "1", "1", "17", }), ExitDone);  // partition 1 is not in use
    ExpectImage(before, image, {{IdByte(0, 0), {0x17}}});
    before = ImageBytes(image);
    ProgramRun both({image});
    both.platform.SetVolumeInUse(0, 2);
    both.OpenWindow();
    both.Rows().SetCell(0, ColumnId, "07");
    both.Rows().SetCell(1, ColumnId, "1C");
    EXPECT_EQ(both.Confirm(), ExitNotApplied);
    EXPECT_EQ(FailuresOf(both),
              (ChangeFailures{{1, FailureCause::VolumeInUse}, {0, FailureCause::DiskVolumeInUse}}));
    EXPECT_EQ(both.platform.Pauses(), std::vector<uint32_t>(9, 100));
    ExpectImage(before, image, {});

    ProgramRun free({image});
    free.OpenWindow();
    free.Rows().SetCell(1, ColumnId, "1C");
    EXPECT_EQ(free.Confirm(), ExitDone);
    ExpectImage(before, image, {{IdByte(0, 1), {0x1C}}});
    std::vector<PlatformCall> order;
    for (const CallRecord& call : free.platform.Calls())
        if (call.number > free.scanCalls &&
            (call.call == PlatformCall::LockVolume || call.call == PlatformCall::DismountVolume ||
             (call.call == PlatformCall::Write && call.letter == 0) || call.call == PlatformCall::RefreshLayout))
            order.push_back(call.call);
    EXPECT_EQ(order, (std::vector<PlatformCall>{PlatformCall::LockVolume, PlatformCall::DismountVolume,
                                                PlatformCall::Write, PlatformCall::RefreshLayout}));
    // The lock ended with the run: the volume can be locked again.
    VolumeOpenStatus status{};
    const auto volume = free.platform.OpenVolumeToLock({0, 0, 2}, status);
    ASSERT_EQ(status, VolumeOpenStatus::Opened);
    EXPECT_TRUE(volume->LockVolume());
}

// Two entries of one start are one volume under one letter: it is locked
// once (a second open would meet the first one's lock and fail).
TEST(WindowsView, OneVolumeOfTwoEntriesIsLockedOnce) {
    TempDir dir;
    const std::string image = TwoVolumes(dir);
    WriteEntry(image, 0, 3, 0, 0x0C, 83968, 81920);
    const auto before = ImageBytes(image);
    ProgramRun run({image});
    run.platform.SetLayoutAnswered(false);  // Windows' view would differ: the tables stand alone
    EXPECT_EQ(run.Command({"/F", "0C", "1C"}), ExitDone);
    EXPECT_EQ(run.platform.CountCalls(PlatformCall::LockVolume), 1u);
    ExpectImage(before, image, {{IdByte(0, 1), {0x1C}}, {IdByte(0, 3), {0x1C}}});
}

// The Windows volume (with its page file), the system partition the firmware
// boots from and the EFI system partition of the disk holding Windows: their
// IDs and types are refused everywhere, their labels may change.
TEST(WindowsView, PartitionsThatKeepWindowsRunningAreNeverChanged) {
    TempDir dir;
    const std::string mbr = TwoVolumes(dir);
    const std::string gpt = MakeGptImage(dir, "gpt.img", 64 << 20,
                                         "start=2048, size=4096, type=uefi\n"
                                         "start=6144, size=8192, type=linux\n");
    const auto before = ImageBytes(mbr), gptBefore = ImageBytes(gpt);
    ProgramRun run({mbr, gpt});
    run.platform.SetWindowsOn(0, 1);
    run.platform.SetSystemPartition(0, 3);
    run.OpenWindow();
    EXPECT_EQ(run.Rows().Cell(0, ColumnLetter), "C");
    EXPECT_EQ(run.Rows().Cell(0, ColumnKind), "\xD6\xF7\xA3\xAC\xCF\xB5\xCD\xB3");  // "主，系统"
    for (const int row : {0, 2}) EXPECT_TRUE(run.Rows().Side(row).keepsWindowsRunning) << row;
    EXPECT_FALSE(run.Rows().Side(1).keepsWindowsRunning);
    // The EFI system partition of another disk than Windows' is no system partition.
    EXPECT_FALSE(run.Rows().Side(4).keepsWindowsRunning);
    for (const int row : {0, 2}) {
        run.Rows().SetCell(row, ColumnId, "17");
    }
    run.Rows().SetCell(0, ColumnLabel, "WINDOWS");
    EXPECT_EQ(run.Confirm(), ExitNotApplied);
    EXPECT_EQ(FailuresOf(run), (ChangeFailures{{0, FailureCause::KeepsWindowsRunning},
                                               {2, FailureCause::KeepsWindowsRunning}}));
    const Fat32Places first(before, 2048);
    ExpectImage(before, mbr,
                {{first.rootEntry, LabelField("WINDOWS")},
                 {first.bootLabel, LabelField("WINDOWS")},
                 {first.backupLabel, LabelField("WINDOWS")}});
    ExpectImage(gptBefore, gpt, {});

    // On the disk that holds Windows its EFI system partition is refused too,
    // in the window at "修改".
    ProgramRun uefi({gpt});
    uefi.platform.SetWindowsOn(0, 2);
    uefi.OpenWindow();
    EXPECT_TRUE(uefi.Rows().Side(1).keepsWindowsRunning);
    EXPECT_EQ(ModifyRow(uefi.Rows(), 1, {"0700", "", "", true}), FailureCause::KeepsWindowsRunning);

    // The Windows volume under a second letter: the row shows W, and is
    // still the volume C: names.
    ProgramRun twoLetters({mbr});
    twoLetters.platform.SetWindowsOn(0, 1);
    ASSERT_TRUE(twoLetters.platform.DefineDosDevice('W', "\\Device\\Harddisk0\\Partition1"));
    twoLetters.OpenWindow();
    EXPECT_EQ(twoLetters.Rows().Cell(0, ColumnLetter), "W");
    EXPECT_TRUE(twoLetters.Rows().Side(0).keepsWindowsRunning);
}

TEST(WindowsView, PageFilesAndTheWindowsDirectoryNameTheirVolumes) {
    const struct {
        const char* path;
        char letter;
    } cases[] = {{"C:\\Windows", 'C'},          {"\\??\\D:\\pagefile.sys", 'D'}, {"e:\\pagefile.sys 0 0", 'E'},
                 {"?:\\pagefile.sys", 0},        {"\\Device\\HarddiskVolume2", 0}, {"", 0}};
    for (const auto& c : cases) EXPECT_EQ(LetterOfPath(c.path), c.letter) << c.path;
}

// A BitLocker To Go volume looks like FAT32 through the raw disk; Windows
// shows its decrypted file system through the volume. Its label is read
// from Windows only and set through Windows only: no byte of the raw disk
// changes, and no boot-sector copy is written anywhere.
TEST(WindowsView, BitLockerVolumesGetNoBootSectorCopy) {
    TempDir dir;
    const std::string image = MakeImage(dir, "disk.img", 64 << 20, "start=2048, size=81920, type=c");
    MakeFat32(image, 2048, FatSectors, "WRAPPER");
    WriteBytes(image, Sector(2048) + 3, Bytes("MSWIN4.1"));
    WriteBytes(image, Sector(2048) + 424, {0x3B, 0xD6, 0x67, 0x49, 0x29, 0x2E, 0xD8, 0x4A, 0x83, 0x99, 0xF6, 0xA3,
                                           0x39, 0xE3, 0xD0, 0x01});
    const std::string decrypted = MakeBlankImage(dir, "decrypted.img", FatSectors * 512);
    MakeFat32(decrypted, 0, FatSectors, "INSIDE");
    const auto before = ImageBytes(image), viewBefore = ImageBytes(decrypted);

    ProgramRun locked({image});
    locked.OpenWindow();
    EXPECT_EQ(locked.Rows().Cell(0, ColumnLabel), "");  // never the wrapper's "WRAPPER"

    ProgramRun run({image});
    run.platform.SetUnlockedView(0, 1, {decrypted, nullptr});
    run.OpenWindow();
    EXPECT_EQ(run.Rows().Cell(0, ColumnLabel), "INSIDE");
    run.Rows().SetCell(0, ColumnLabel, "NEWNAME");
    EXPECT_EQ(run.Confirm(), ExitDone);
    ExpectImage(before, image, {});
    ExpectImage(viewBefore, decrypted, {{Fat32Places(viewBefore, 0).rootEntry, LabelField("NEWNAME")}});
}

// Without the drive's size a swapped medium of the same signature cannot be
// told apart: the write is refused, whether the size was missing at the
// scan or is now.
TEST(WindowsView, DriveOfUnknownSizeIsNeverWritten) {
    TempDir dir;
    const std::string image = TwoVolumes(dir);
    const auto before = ImageBytes(image);
    for (const bool atScan : {true, false}) {
        ProgramRun run({image});
        run.platform.SetSizeUnknown(0, atScan);
        run.OpenWindow();
        run.platform.SetSizeUnknown(0, true);
        run.Rows().SetCell(2, ColumnId, "8E");
        EXPECT_EQ(run.Confirm(), ExitNotApplied);
        EXPECT_EQ(FailuresOf(run), (ChangeFailures{{2, FailureCause::SizeUnknown}})) << atScan;
        ExpectImage(before, image, {});
    }
}

}  // namespace
}  // namespace quorvane::test
