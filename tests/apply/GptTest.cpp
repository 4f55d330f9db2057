// GPT disks made by sfdisk: listed partition by partition, their types
// changed in both copies with every CRC-32 kept right (sgdisk -v finds no
// problem), changes refused where the table or the code says so, and undone.
#include <gtest/gtest.h>

#include "tests/apply/ApplyFixtures.h"
#include "tools/Utf8.h"

namespace quorvane::test {
namespace {

constexpr char BasicData[] = "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7";
constexpr char LinuxFs[] = "0FC63DAF-8483-4772-8E79-3D69D8477DE4";

// 64 MiB: EFI system, basic data (hidden), basic data without a drive letter,
// Linux filesystem, and a type no table knows.
std::string GptDisk(const TempDir& dir, const std::string& name = "gpt.img") {
    return MakeGptImage(dir, name, 64 << 20,
                        "start=2048, size=4096, type=uefi\n"
                        "start=6144, size=8192, type=" + std::string(BasicData) + ", attrs=\"GUID:62\"\n"
                        "start=14336, size=8192, type=" + std::string(BasicData) + ", attrs=\"GUID:63\"\n"
                        "start=22528, size=8192, type=linux\n"
                        "start=30720, size=2048, type=11111111-2222-3333-4444-555555555555\n");
}

CommandResult Tool(const TempDir& dir, const std::vector<std::string>& images, const std::vector<std::string>& parameters) {
    std::vector<std::string> arguments{"--undo-dir", dir.File("undo")};
    arguments.insert(arguments.end(), images.begin(), images.end());
    arguments.push_back("--");
    arguments.insert(arguments.end(), parameters.begin(), parameters.end());
    return RunImageTool(arguments);
}

std::string SgdiskVerify(const std::string& image) {
    return MustRun("sgdisk -v " + Quote(image) + " 2>&1");
}

TEST(Gpt, PartitionsAreListedAfterTheProtectiveEntry) {
    TempDir dir;
    const std::string image = GptDisk(dir);
    const nlohmann::json rows = ImageToolJson({image});
    const nlohmann::json table = SfdiskJson(image);
    ASSERT_EQ(rows.size(), 6u) << rows.dump(1);
    EXPECT_EQ(rows[0]["id"], "EE");
    EXPECT_EQ(rows[0]["partition"], "");
    EXPECT_EQ(rows[0]["gpt_header"], "primary");
    const std::vector<std::string> codes{"EF00", "0700", "0700", "8300", "----"};
    const std::vector<std::string> kinds{"GPT", "GPT，隐藏", "GPT，无盘符", "GPT", "GPT"};
    for (size_t i = 0; i < codes.size(); ++i) {
        const nlohmann::json& row = rows[i + 1];
        const nlohmann::json& part = table["partitions"][i];
        SCOPED_TRACE(row.dump());
        EXPECT_EQ(row["id"], codes[i]);
        EXPECT_EQ(row["kind"], kinds[i]);
        EXPECT_EQ(row["partition"], std::to_string(i + 1));
        EXPECT_EQ(row["windows_partition"], i + 1);
        EXPECT_EQ(row["type_guid"], part["type"]);
        EXPECT_EQ(row["start"], PartitionStartText(part["start"].get<uint64_t>() * 512));
        // Where the entry's type GUID lies in the primary array (LBA 2 on).
        EXPECT_EQ(row["entry_sector_position"].get<uint64_t>() + row["id_byte_offset"].get<uint64_t>(), 1024 + 128 * i);
    }
    EXPECT_EQ(rows[2]["attributes"], "4000000000000000");
    EXPECT_EQ(rows[5]["name"], "未知类型");

    // Windows gives letters to basic data only, and not where bit 63 says no.
    ProgramRun run({image});
    run.OpenWindow();
    ASSERT_EQ(run.session.TemporaryNames().size(), 1u);
    EXPECT_EQ(run.session.TemporaryNames()[0].target, "\\Device\\Harddisk0\\Partition2");
}

// A GPT partition's type says nothing of its file system: a FAT32 volume in
// a basic-data partition gets its boot-sector copies of the label too.
TEST(Gpt, Fat32InBasicDataGetsTheLabelInItsBootSectors) {
    TempDir dir;
    // Windows takes a volume for FAT32 only from 65525 clusters on.
    constexpr uint64_t FatSectors = 67584;
    const std::string image =
        MakeGptImage(dir, "gpt.img", 128 << 20,
                     "start=2048, size=4096, type=uefi\nstart=6144, size=" + std::to_string(FatSectors) +
                         ", type=" + std::string(BasicData) + "\n");
    MakeFat32(image, 6144, FatSectors, "OLD");
    const auto before = ImageBytes(image);
    const CommandResult run = Tool(dir, {image}, {"/L", "1", "2", "gpt data"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(BlkidTag(image, 6144 * 512, "LABEL"), "GPT DATA");
    EXPECT_EQ(BlkidTag(image, 6144 * 512, "LABEL_FATBOOT"), "GPT DATA");
    std::vector<uint8_t> expected = before;
    for (const uint64_t boot : {6144 * 512, (6144 + 6) * 512}) std::copy_n("GPT DATA   ", 11, expected.begin() + boot + 0x47);
    const auto changed = Diff(expected, ImageBytes(image));
    ASSERT_FALSE(changed.empty());  // the root directory's label entry
    for (const ByteChange& change : changed) {  // past the reserved sectors, inside the partition
        EXPECT_GE(change.offset, (6144 + 32) * 512u);
        EXPECT_LT(change.offset, (6144 + FatSectors) * 512u);
    }
}

TEST(Gpt, TypeChangeTouchesOnlyTheGuidsAndTheirChecksums) {
    TempDir dir;
    const std::string image = GptDisk(dir);
    const auto before = ImageBytes(image);
    const CommandResult result = Tool(dir, {image}, {"/M", "1", "4", "0700"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(SfdiskJson(image)["partitions"][3]["type"], BasicData);
    EXPECT_NE(SgdiskVerify(image).find("No problems found"), std::string::npos) << SgdiskVerify(image);
    // The entry's 16 type bytes and the two CRC fields, in each copy.
    const uint64_t last = (64 << 20) / 512 - 1;
    const uint64_t backupArray = last - 32;  // sfdisk puts 128 entries right before the backup header
    std::vector<uint64_t> allowed;
    for (const uint64_t header : {uint64_t{1}, last})
        for (const uint64_t field : {16u, 88u})
            for (uint64_t i = 0; i < 4; ++i) allowed.push_back(header * 512 + field + i);
    for (const uint64_t array : {uint64_t{2}, backupArray})
        for (uint64_t i = 0; i < 16; ++i) allowed.push_back(array * 512 + 3 * 128 + i);
    for (const ByteChange& change : Diff(before, ImageBytes(image)))
        EXPECT_NE(std::find(allowed.begin(), allowed.end(), change.offset), allowed.end()) << change.offset;

    // /F over every basic data partition, then the undo file of the first run.
    const CommandResult find = Tool(dir, {image}, {"/F", "0700", "8300"});
    EXPECT_EQ(find.exitCode, 0) << find.err;
    EXPECT_EQ(SfdiskJson(image)["partitions"][1]["type"], LinuxFs);
    EXPECT_NE(SgdiskVerify(image).find("No problems found"), std::string::npos);
}

TEST(Gpt, UndoPutsBothCopiesBack) {
    TempDir dir;
    const std::string image = GptDisk(dir);
    const auto before = ImageBytes(image);
    ProgramRun run({image});
    run.platform.SetUndoFolder(dir.File("undo"));
    ASSERT_EQ(run.Command({"/M", "1", "1", "0c01"}), ExitDone);
    // The backup copy went first.
    const auto writes = run.CallsSinceStart(PlatformCall::Write);
    ASSERT_EQ(writes.size(), 4u);
    EXPECT_GT(writes[0].position, writes[3].position);
    ProgramRun undo({image});
    undo.platform.SetUndoFolder(dir.File("undo"));
    EXPECT_EQ(undo.Command({"/U", run.session.UndoFile()}), ExitDone);
    ExpectImage(before, image, {});
}

// A write that fails, whole or in half, at any of the four sectors leaves
// both copies as they were: the sectors written before it are put back.
TEST(Gpt, FailedWriteLeavesBothCopiesAsTheyWere) {
    TempDir dir;
    const std::string image = GptDisk(dir);
    const auto before = ImageBytes(image);
    const uint64_t last = (64 << 20) / 512 - 1;
    for (const uint64_t sector : {last - 32, last, uint64_t{2}, uint64_t{1}})  // the plan's order
        for (const bool half : {false, true}) {
            SCOPED_TRACE(std::to_string(sector) + (half ? " half" : " whole"));
            ProgramRun run({image});
            run.platform.SetUndoFolder(dir.File("undo"));
            run.platform.AddFault(FaultOn(PlatformCall::Write, 0, 0, sector * 512, half));
            EXPECT_EQ(run.Command({"/M", "1", "4", "8e00"}), ExitNotApplied);
            ExpectImage(before, image, {});
        }
}

// The restore of a GPT change is one whole too: a failed write of the
// primary header leaves the change as it was, both copies right.
TEST(Gpt, FailedRestoreLeavesTheChangeWhole) {
    TempDir dir;
    const std::string image = GptDisk(dir);
    ProgramRun run({image});
    run.platform.SetUndoFolder(dir.File("undo"));
    ASSERT_EQ(run.Command({"/M", "1", "4", "8e00"}), ExitDone);
    const auto changed = ImageBytes(image);
    ProgramRun undo({image});
    undo.platform.SetUndoFolder(dir.File("undo"));
    undo.platform.AddFault(FaultOn(PlatformCall::Write, 0, 0, 512, true));
    EXPECT_EQ(undo.Command({"/U", run.session.UndoFile()}), ExitNotApplied);
    ExpectImage(changed, image, {});
}

// The backup header's write stops halfway and so does putting it back: the
// backup copy may be left half changed, and the failure says so with the
// undo file that holds every sector as it was.
TEST(Gpt, ChangeThatCannotBePutBackNamesTheUndoFile) {
    TempDir dir;
    const std::string image = GptDisk(dir);
    ProgramRun run({image});
    run.platform.SetUndoFolder(dir.File("undo"));
    run.platform.AddFault(FaultOn(PlatformCall::Write, 0, 0, (64 << 20) - 512, true));
    EXPECT_EQ(run.Command({"/M", "1", "4", "8e00"}), ExitNotApplied);
    ASSERT_FALSE(run.session.UndoFile().empty());
    const ChangeFailures& failures = run.session.Failures();
    ASSERT_FALSE(failures.empty());
    EXPECT_EQ(failures.back(), (ChangeFailure{4, FailureCause::GptHalfChanged, run.session.UndoFile()}));
    EXPECT_NE(GbkToUtf8(DescribeFailure(run.Rows(), failures.back())).find("请用撤销文件恢复 " + run.session.UndoFile()),
              std::string::npos);
}

TEST(Gpt, RefusedChangesWriteNothing) {
    TempDir dir;
    const std::string image = GptDisk(dir);
    const StandardDisk mbr(dir, "mbr.img");
    const auto before = ImageBytes(image), beforeMbr = ImageBytes(mbr.image);
    const struct {
        std::vector<std::string> command;
        FailureCause cause;
    } cases[] = {
        {{"/M", "1", "4", "83"}, FailureCause::IdWidth},       // two digits on a GPT row
        {{"/M", "2", "1", "0700"}, FailureCause::IdWidth},     // four on an MBR row
        {{"/M", "1", "4", "1234"}, FailureCause::UnknownCode},
        {{"/M", "1", "4", "4200"}, FailureCause::Pooled},
        {{"/M", "1", "4", "G000"}, FailureCause::BadId},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command[3]);
        ProgramRun run({image, mbr.image});
        EXPECT_EQ(run.Command(c.command), ExitNotApplied);
        ASSERT_EQ(run.session.Failures().size(), 1u);
        EXPECT_EQ(run.session.Failures()[0].cause, c.cause);
    }
    // A backup array that no longer agrees with the primary.
    const uint64_t backupEntry = ((64 << 20) / 512 - 33) * 512;
    WriteBytes(image, backupEntry + 100, {0x5A});
    const auto damaged = ImageBytes(image);
    ProgramRun run({image, mbr.image});
    EXPECT_EQ(run.Command({"/M", "1", "4", "0700"}), ExitNotApplied);
    EXPECT_EQ(run.session.Failures(), (ChangeFailures{{run.Row("1", "4"), FailureCause::GptMismatch}}));
    ExpectImage(damaged, image, {});
    ExpectImage(beforeMbr, mbr.image, {});
}

TEST(Gpt, DamagedPrimaryIsListedFromTheBackup) {
    TempDir dir;
    const std::string image = GptDisk(dir);
    WriteBytes(image, 512 + 40, {0xFF});  // a header field: its CRC no longer matches
    const nlohmann::json rows = ImageToolJson({image});
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[0]["gpt_header"], "backup");
    EXPECT_EQ(rows[0]["name"], "GPT（主 GPT 头已损坏，使用备份）");
    EXPECT_EQ(rows[4]["id"], "8300");
    const auto before = ImageBytes(image);
    EXPECT_EQ(Tool(dir, {image}, {"/M", "1", "4", "0700"}).exitCode, 1);
    ExpectImage(before, image, {});
}

}  // namespace
}  // namespace quorvane::test
