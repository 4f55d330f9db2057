// The way back: every run that writes leaves an undo file first, and /U puts
// back every byte it recorded, on the disk it names, only where that disk
// still holds what the run wrote. Round trips go through the image tool on
// sfdisk and mkfs.fat images and are compared whole with the image before.
#include <gtest/gtest.h>

#include <functional>

#include "fuzz/FuzzRun.h"
#include "fuzz/UndoFormat.h"
#include "scan/Crc32.h"
#include "tests/apply/ApplyFixtures.h"
#include "tests/reliability/ReliabilitySupport.h"
#include "text/Texts.h"
#include "undo/UndoFile.h"

namespace quorvane::test {
namespace {

using SD = StandardDisk;

struct ToolRun {
    CommandResult result;
    std::string undoFile;  // from the "undo file: PATH" line
};

ToolRun Tool(const TempDir& dir, const std::vector<std::string>& images, const std::vector<std::string>& parameters) {
    std::vector<std::string> arguments{"--undo-dir", dir.File("undo")};
    arguments.insert(arguments.end(), images.begin(), images.end());
    arguments.push_back("--");
    arguments.insert(arguments.end(), parameters.begin(), parameters.end());
    ToolRun run{RunImageTool(arguments), {}};
    const std::string prefix = "undo file: ";
    if (const size_t at = run.result.out.find(prefix); at != std::string::npos)
        run.undoFile = run.result.out.substr(at + prefix.size(), run.result.out.find('\n', at) - at - prefix.size());
    return run;
}

TEST(Undo, EveryCommandRestoresEveryByte) {
    for (const std::vector<std::string>& command : std::vector<std::vector<std::string>>{
             {"/M", "1", "2", "83"}, {"/F", "0C", "1C"}, {"/L", "1", "1", "new"}, {"/S", "0C", "DATA"}}) {
        SCOPED_TRACE(command[0]);
        TempDir dir;
        const SD disk(dir, "disk.img");
        const auto before = ImageBytes(disk.image);
        const ToolRun change = Tool(dir, {disk.image}, command);
        ASSERT_EQ(change.result.exitCode, 0) << change.result.err;
        ASSERT_FALSE(change.undoFile.empty()) << change.result.out;
        EXPECT_FALSE(Diff(before, ImageBytes(disk.image)).empty());

        const ToolRun undo = Tool(dir, {disk.image}, {"/U", change.undoFile});
        EXPECT_EQ(undo.result.exitCode, 0) << undo.result.err;
        ExpectImage(before, disk.image, {});
        const CommandResult fsck = FsckPartition(dir, disk.image, SD::P1, SD::FatSectors);
        EXPECT_EQ(fsck.exitCode, 0) << fsck.out;

        // The same file again finds nothing of its change: refused, nothing written.
        const ToolRun again = Tool(dir, {disk.image}, {"/U", change.undoFile});
        EXPECT_EQ(again.result.exitCode, 1);
        EXPECT_NE(again.result.err.find("磁盘上已没有撤销文件所记录的更改"), std::string::npos) << again.result.err;
        ExpectImage(before, disk.image, {});

        // The restore left its own undo file: the change can be made again.
        ASSERT_FALSE(undo.undoFile.empty());
        EXPECT_EQ(Tool(dir, {disk.image}, {"/U", undo.undoFile}).result.exitCode, 0);
        EXPECT_TRUE(Diff(before, ImageBytes(disk.image)).size() > 0);
    }
}

// A label entry the change made on an unlabelled volume comes back as the
// FAT driver removes a label: a deleted entry, not the zeros it was.
TEST(Undo, WindowChangeOfAnUnlabelledVolume) {
    TempDir dir;
    const std::string image = MakeImage(dir, "disk.img", (64 + SD::FatSectors) * 512,
                                        "start=64, size=" + std::to_string(SD::FatSectors) + ", type=c");
    MakeFat32(image, 64, SD::FatSectors, "");
    const auto before = ImageBytes(image);
    const Fat32Places p1(before, 64);
    ProgramRun run({image});
    run.platform.SetUndoFolder(dir.File("undo"));
    run.OpenWindow();
    run.Rows().SetCell(0, ColumnId, "1C");
    run.Rows().SetCell(0, ColumnLabel, "NEW");
    ASSERT_EQ(run.Confirm(), ExitDone);

    ProgramRun undo({image});
    undo.platform.SetUndoFolder(dir.File("undo"));
    EXPECT_EQ(undo.Command({"/U", run.session.UndoFile()}), ExitDone);
    EXPECT_TRUE(undo.session.RestoreProblems().empty());
    std::vector<uint8_t> deleted = LabelField("NEW");
    deleted[0] = 0xE5;
    deleted.push_back(0x08);  // the entry keeps its label attribute
    ExpectImage(before, image, {{p1.rootEntry, deleted}});
}

// A run cut short after its first write (the second sector failed): the file
// holds both sectors; /U puts back the one written and leaves the other.
TEST(Undo, RunCutShortAfterItsFirstWrite) {
    TempDir dir;
    const SD disk(dir, "disk.img");
    const auto before = ImageBytes(disk.image);
    ProgramRun cut({disk.image});
    cut.platform.SetUndoFolder(dir.File("undo"));
    cut.platform.AddFault(FaultOn(PlatformCall::Write, 0, 0, Sector(disk.ebr5)));
    EXPECT_EQ(cut.Command({"/F", "0C", "1C"}), ExitNotApplied);
    ExpectImage(before, disk.image, {{IdByte(0, 0), {0x1C}}});

    ProgramRun undo({disk.image});
    undo.platform.SetUndoFolder(dir.File("undo"));
    EXPECT_EQ(undo.Command({"/U", cut.session.UndoFile()}), ExitDone);
    ExpectImage(before, disk.image, {});
}

TEST(Undo, FilesThatMustNotBeRestored) {
    TempDir dir;
    const SD disk(dir, "disk.img");
    const SD other(dir, "other.img");  // the same layout, another disk signature
    const ToolRun change = Tool(dir, {disk.image}, {"/M", "1", "2", "83"});
    ASSERT_EQ(change.result.exitCode, 0);
    const auto changed = ImageBytes(disk.image), otherBefore = ImageBytes(other.image);
    const std::vector<uint8_t> file = ReadBytes(change.undoFile);

    const std::string flipped = dir.File("flipped.qvundo"), cut = dir.File("cut.qvundo");
    WriteBytes(MakeBlankImage(dir, "flipped.qvundo", 0), 0, file);
    WriteBytes(flipped, file.size() / 2, {static_cast<uint8_t>(file[file.size() / 2] ^ 0x01)});
    WriteBytes(MakeBlankImage(dir, "cut.qvundo", 0), 0, std::vector<uint8_t>(file.begin(), file.end() - 1));
    for (const std::string& damaged : {flipped, cut}) {
        const ToolRun undo = Tool(dir, {disk.image}, {"/U", damaged});
        EXPECT_EQ(undo.result.exitCode, 1);
        EXPECT_NE(undo.result.err.find("撤销文件已损坏或不完整"), std::string::npos) << undo.result.err;
    }
    // Another disk in the drive, or the disk twice: no disk is chosen.
    const std::string twin = dir.File("twin.img");
    MustRun("cp " + Quote(disk.image) + " " + Quote(twin));
    EXPECT_NE(Tool(dir, {other.image}, {"/U", change.undoFile}).result.err.find("找不到撤销文件中的磁盘"),
              std::string::npos);
    EXPECT_NE(Tool(dir, {disk.image, twin}, {"/U", change.undoFile}).result.err.find("有多个磁盘"),
              std::string::npos);
    ExpectImage(changed, disk.image, {});
    ExpectImage(changed, twin, {});
    ExpectImage(otherBefore, other.image, {});

    // Another program changed the sector since: the disk is left as it is.
    WriteBytes(disk.image, IdByte(0, 3), {0x07});
    const auto edited = ImageBytes(disk.image);
    const ToolRun undo = Tool(dir, {disk.image}, {"/U", change.undoFile});
    EXPECT_EQ(undo.result.exitCode, 1);
    EXPECT_NE(undo.result.err.find("磁盘内容已与撤销文件不符"), std::string::npos) << undo.result.err;
    ExpectImage(edited, disk.image, {});
}

TEST(Undo, NoUndoFileMeansNoWrite) {
    TempDir dir;
    const SD disk(dir, "disk.img");
    const auto before = ImageBytes(disk.image);
    ProgramRun run({disk.image});
    run.platform.AddFault(FaultOn(PlatformCall::SaveUndoFile));
    EXPECT_EQ(run.Command({"/S", "0C", "X"}), ExitNotApplied);
    EXPECT_EQ(run.session.Failures(),
              (ChangeFailures{{0, FailureCause::UndoNotSaved}, {3, FailureCause::UndoNotSaved}}));
    EXPECT_TRUE(run.CallsSinceStart(PlatformCall::Write).empty());
    EXPECT_TRUE(run.CallsSinceStart(PlatformCall::SetVolumeLabel).empty());
    ExpectImage(before, disk.image, {});
}

// Another program relabelled the volume after the run (Windows changes only
// the root directory): the label finds neither its old nor its new value, so
// nothing on that disk is put back, neither the boot sectors' label copies
// nor the ID changed in the same run.
TEST(Undo, ChangedLabelLeavesTheWholeDiskAlone) {
    TempDir dir;
    const SD disk(dir, "disk.img");
    ProgramRun run({disk.image});
    run.platform.SetUndoFolder(dir.File("undo"));
    run.OpenWindow();
    run.Rows().SetCell(0, ColumnLabel, "NEW");
    run.Rows().SetCell(0, ColumnId, "1C");
    ASSERT_EQ(run.Confirm(), ExitDone);
    const Fat32Places p1(ImageBytes(disk.image), SD::P1);
    WriteBytes(disk.image, p1.rootEntry, LabelField("OTHER"));
    const auto relabelled = ImageBytes(disk.image);

    ProgramRun undo({disk.image});
    undo.platform.SetUndoFolder(dir.File("undo"));
    EXPECT_EQ(undo.Command({"/U", run.session.UndoFile()}), ExitNotApplied);
    ASSERT_EQ(undo.session.RestoreProblems().size(), 1u);
    EXPECT_NE(undo.session.RestoreProblems()[0].find(texts::RestoreLabelChanged), std::string::npos);
    EXPECT_TRUE(undo.CallsSinceStart(PlatformCall::Write).empty());
    EXPECT_TRUE(undo.CallsSinceStart(PlatformCall::SetVolumeLabel).empty());
    ExpectImage(relabelled, disk.image, {});
}

// The disk a file names is the one with its id, its size and its sector
// size, all three; a record of size 0 names none. A sector with a byte of
// neither its "before" nor its "after" leaves the whole disk alone.
constexpr uint8_t kDynamic = 0x42;
TEST(Undo, RestoreFindsTheRecordedDiskAndPutsBackOnlyWholeDisks) {
    TempDir dir;
    const std::string path = MakeImage(dir, "disk.img", 4 << 20,
                                       "start=64, size=1024, type=83\nstart=2048, size=1024, type=5\n"
                                       "start=2112, size=512, type=83");
    const SharedMemoryImage original = LoadMemoryImage(path);
    const auto runOn = [](const SharedMemoryImage& image, uint32_t sectorSize,
                          const std::vector<std::string>& parameters, const std::vector<uint8_t>& file) {
        ImagePlatform platform(std::vector<ImageSource>{{"", image}});
        platform.SetSectorSize(sectorSize);
        platform.PutUndoFileInMemory("run.qvundo", file);
        fuzz::QuietShell shell;
        Session session(platform, shell);
        session.Start(parameters);
        session.OnClose();
        const auto saved = platform.UndoFilesInMemory().find(session.UndoFile());
        return std::pair{session.ExitCode(), saved == platform.UndoFilesInMemory().end()
                                                 ? std::vector<uint8_t>{}
                                                 : saved->second};
    };
    const SharedMemoryImage changed = CopyImage(original);
    const auto [changeExit, file] = runOn(changed, 512, {"/F", "83", "8E"}, {});
    ASSERT_EQ(changeExit, ExitDone);
    ASSERT_EQ(ByteAt(*changed, 0x1C2), 0x8E);
    ASSERT_EQ(ByteAt(*changed, Sector(2048) + 0x1C2), 0x8E);  // the container's first EBR

    auto records = *DecodeUndoFile(file);
    for (UndoRecord& record : records) record.disk.size = 0;
    const std::vector<uint8_t> sizeZero = EncodeUndoFile(records);
    struct Case {
        std::string name;
        std::function<void(MemoryImage&)> since;  // what happened to the disk
        uint32_t sectorSize;
        const std::vector<uint8_t>* file;
        bool restored;
    };
    const std::vector<Case> cases{
        {"the recorded disk", [](MemoryImage&) {}, 512, &file, true},
        {"another size", [](MemoryImage& image) { image.Resize(image.Size() + (1 << 20)); }, 512, &file,
         false},
        {"another sector size", [](MemoryImage&) {}, 4096, &file, false},
        {"a record of size 0", [](MemoryImage&) {}, 512, &sizeZero, false},
        // The MBR's second entry changed by another program: the MBR holds
        // neither what the run read nor what it wrote; the EBR, which does,
        // is not put back either.
        {"a sector holding neither", [](MemoryImage& image) { image.WriteAt(0x1D2, &kDynamic, 1); }, 512,
         &file, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const SharedMemoryImage disk = CopyImage(changed);
        c.since(*disk);
        const MemoryImage before(*disk);
        const auto [exitCode, own] = runOn(disk, c.sectorSize, {"/U", "run.qvundo"}, *c.file);
        EXPECT_EQ(exitCode, c.restored ? ExitDone : ExitNotApplied);
        if (c.restored)
            EXPECT_TRUE(original->DifferingBlocks(*disk).empty());
        else
            EXPECT_TRUE(before.DifferingBlocks(*disk).empty());
        EXPECT_EQ(own.empty(), !c.restored);  // the restore's own undo file, before its first write
    }
}

TEST(UndoFile, RecordsSurviveTheRoundTripAndEveryDamageIsSeen) {
    UndoRecord record;
    record.kind = UndoKind::BootSector;
    record.disk.id = {0x78, 0x56, 0x34, 0x12};
    record.disk.size = 4 << 20;
    record.volumeSerial = 0xCAFEF00D;
    record.volumeStart = 64 * 512;
    record.position = 6 * 512;
    record.before.assign(512, 0xAA);
    record.after.assign(512, 0x55);
    UndoRecord label{UndoKind::Label, record.disk, 1, 2, 0, {'O', 'L', 'D'}, {}};
    const std::vector<uint8_t> file = EncodeUndoFile({record, label});
    EXPECT_EQ(DecodeUndoFile(file), (std::vector<UndoRecord>{record, label}));
    // Magic, version, count and the trailing CRC-32 (of "123456789": CBF43926).
    const std::vector<uint8_t> check{'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(EncodeUndoFile({}).size(), 8u + 4 + 4 + 4);
    EXPECT_EQ(DecodeUndoFile(EncodeUndoFile({})), std::vector<UndoRecord>{});
    EXPECT_EQ(Crc32(check), 0xCBF43926u);
    for (size_t at = 0; at < file.size(); ++at) {
        std::vector<uint8_t> damaged = file;
        damaged[at] ^= 0x80;
        EXPECT_FALSE(DecodeUndoFile(damaged)) << at;
    }
    for (size_t length = 0; length < file.size(); length += 7)
        EXPECT_FALSE(DecodeUndoFile(std::span(file).first(length))) << length;
}

// Files with a right CRC that break the layout all the same: each is
// refused whole, by the program and by the checkers' own reading.
TEST(UndoFile, RightCrcButWrongLayoutIsRefused) {
    fuzz::UndoEntry sector;
    sector.id = {0x78, 0x56, 0x34, 0x12};
    sector.diskSize = 4 << 20;
    sector.position = 512;
    sector.before.assign(512, 0xAA);
    sector.after.assign(512, 0x55);
    fuzz::UndoEntry label = sector;
    label.kind = 3;
    label.position = 0;
    label.before = {'O', 'L', 'D'};
    label.after = {};
    const auto withCrc = [](std::vector<uint8_t> content) {
        const uint32_t crc = Crc32(content);
        for (int i = 0; i < 4; ++i) content.push_back(static_cast<uint8_t>(crc >> (8 * i)));
        return content;
    };
    const auto file = [](std::vector<fuzz::UndoEntry> entries, uint32_t version = 1) {
        return fuzz::WriteUndoEntries(entries, version);
    };
    const auto changed = [&](auto change) {
        fuzz::UndoEntry e = sector;
        change(e);
        return file({e, label});
    };
    std::vector<uint8_t> trailing = file({sector, label});
    trailing.resize(trailing.size() - 4);
    trailing.push_back(0);
    std::vector<uint8_t> countTooHigh = file({sector, label});
    countTooHigh.resize(countTooHigh.size() - 4);
    countTooHigh[12] = 3;
    const std::vector<std::pair<std::string, std::vector<uint8_t>>> refused{
        {"kind 0", changed([](fuzz::UndoEntry& e) { e.kind = 0; })},
        {"kind 5", changed([](fuzz::UndoEntry& e) { e.kind = 5; })},
        {"id kind 0", changed([](fuzz::UndoEntry& e) { e.idKind = 0; })},
        {"id kind 3", changed([](fuzz::UndoEntry& e) { e.idKind = 3; })},
        {"version 2", file({sector, label}, 2)},
        {"version 0", file({sector, label}, 0)},
        {"a sector of 511 bytes", changed([](fuzz::UndoEntry& e) { e.before.resize(511); })},
        {"an after longer than its sector", changed([](fuzz::UndoEntry& e) { e.after.resize(1024); })},
        {"a label of 4097 bytes", file({sector,
                                        [&] {
                                            auto l = label;
                                            l.before.assign(4097, 'A');
                                            return l;
                                        }()})},
        {"a position inside a sector", changed([](fuzz::UndoEntry& e) { e.position = 100; })},
        {"sector size 0", changed([](fuzz::UndoEntry& e) { e.sectorSize = 0; })},
        {"a byte after the last record", withCrc(trailing)},
        {"more records counted than held", withCrc(countTooHigh)},
    };
    const std::vector<uint8_t> good = file({sector, label});
    ASSERT_TRUE(DecodeUndoFile(good));
    ASSERT_EQ(fuzz::ReadUndoEntries(good), (std::vector<fuzz::UndoEntry>{sector, label}));
    EXPECT_EQ(DecodeUndoFile(good)->at(0).before, sector.before);
    for (const auto& [name, bytes] : refused) {
        EXPECT_FALSE(DecodeUndoFile(bytes)) << name;
        EXPECT_FALSE(fuzz::ReadUndoEntries(bytes)) << name;
    }
}

}  // namespace
}  // namespace quorvane::test
