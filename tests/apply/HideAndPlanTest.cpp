// /HIDE, /SHOW and /A on disks made by sfdisk and mkfs.fat, read back by
// sfdisk and sgdisk; and /N, which writes nothing and names exactly the
// bytes the same command then writes.
#include <gtest/gtest.h>

#include "app/CommandLine.h"
#include "text/Texts.h"
#include "tests/apply/ApplyFixtures.h"

namespace quorvane::test {
namespace {

constexpr char BasicData[] = "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7";

// EFI system, basic data, Microsoft reserved, Linux.
std::string GptDisk(const TempDir& dir) {
    return MakeGptImage(dir, "gpt.img", 64 << 20,
                        "start=2048, size=4096, type=uefi\n"
                        "start=6144, size=8192, type=" + std::string(BasicData) + "\n"
                        "start=14336, size=2048, type=E3C9E316-0B5C-4DB8-817D-F92DF00215AE\n"
                        "start=16384, size=8192, type=linux\n");
}

CommandResult Tool(const TempDir& dir, const std::string& image, const std::vector<std::string>& parameters,
                   const std::vector<std::string>& options = {}) {
    std::vector<std::string> arguments = options;
    arguments.insert(arguments.end(), {"--undo-dir", dir.File("undo"), image, "--"});
    arguments.insert(arguments.end(), parameters.begin(), parameters.end());
    return RunImageTool(arguments);
}

std::string GptAttributes(const std::string& image, int partition) {
    const std::string info = MustRun("sgdisk -i " + std::to_string(partition) + " " + Quote(image));
    const size_t at = info.find("Attribute flags: ");
    return at == std::string::npos ? "" : info.substr(at + 17, 16);
}

TEST(AttributesFromText, WholeValueOrBitsSetAndCleared) {
    const uint64_t now = 0x8000000000000001;
    const struct {
        const char* text;
        std::optional<uint64_t> value;
    } cases[] = {{"0x0", 0},
                 {"0X4000000000000000", uint64_t{1} << 62},
                 {"0xc000000000000001", 0xC000000000000001},
                 {"+62,+63", 0xC000000000000001},
                 {"-0", uint64_t{1} << 63},
                 {"+0", now},
                 {"-63,+60,-0", uint64_t{1} << 60},
                 {"0x", std::nullopt},
                 {"0x10000000000000000", std::nullopt},
                 {"+64", std::nullopt},
                 {"62", std::nullopt},
                 {"+62,", std::nullopt},
                 {"+6x", std::nullopt},
                 {"", std::nullopt}};
    for (const auto& c : cases) EXPECT_EQ(AttributesFromText(now, c.text), c.value) << c.text;
}

// A GPT basic-data partition hidden and shown again: bits 62 and 63 in both
// copies with every CRC right (sgdisk -v), the second /HIDE writes nothing.
TEST(HideAndShow, GptRoundTripReadBackBySgdisk) {
    TempDir dir;
    const std::string image = GptDisk(dir);
    const auto before = ImageBytes(image);
    CommandResult run = Tool(dir, image, {"/HIDE", "1", "2"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(GptAttributes(image, 2), "C000000000000000");
    EXPECT_NE(MustRun("sgdisk -v " + Quote(image)).find("No problems found"), std::string::npos);
    const nlohmann::json rows = ImageToolJson({image});
    EXPECT_EQ(rows[2]["hidden"], true);
    EXPECT_EQ(rows[2]["kind"], "GPT，隐藏");
    EXPECT_EQ(rows[1]["hidden"], false);
    const auto hidden = ImageBytes(image);
    run = Tool(dir, image, {"/hide", "1", "2"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.find("undo file"), std::string::npos) << run.out;  // nothing to write, nothing saved
    ExpectImage(hidden, image, {});
    run = Tool(dir, image, {"/SHOW", "1", "2"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    ExpectImage(before, image, {});
}

// Hiding an MBR partition writes its twin ID and nothing else; twice, once.
TEST(HideAndShow, MbrTwinIdWrittenOnce) {
    TempDir dir;
    const StandardDisk disk(dir, "disk.img");  // partition 2 is 07
    const auto before = ImageBytes(disk.image);
    ASSERT_EQ(Tool(dir, disk.image, {"/HIDE", "1", "2"}).exitCode, 0);
    ExpectImage(before, disk.image, {{IdByte(0, 1), {0x17}}});
    EXPECT_EQ(SfdiskJson(disk.image)["partitions"][1]["type"], "17");
    ASSERT_EQ(Tool(dir, disk.image, {"/HIDE", "1", "2"}).exitCode, 0);
    ExpectImage(before, disk.image, {{IdByte(0, 1), {0x17}}});
    ASSERT_EQ(Tool(dir, disk.image, {"/SHOW", "1", "2"}).exitCode, 0);
    ExpectImage(before, disk.image, {});
}

// /A takes the whole value or single bits; what it must not do is refused
// with nothing written: attributes of an MBR row, bit 0 of an EFI system or
// Microsoft reserved partition, a type with no hidden twin.
TEST(Attributes, BothFormsAndTheirRefusals) {
    TempDir dir;
    const std::string image = GptDisk(dir);
    ASSERT_EQ(Tool(dir, image, {"/A", "1", "4", "0x8000000000000001"}).exitCode, 0);
    EXPECT_EQ(GptAttributes(image, 4), "8000000000000001");
    ASSERT_EQ(Tool(dir, image, {"/A", "1", "4", "-63,+62"}).exitCode, 0);
    EXPECT_EQ(GptAttributes(image, 4), "4000000000000001");
    ASSERT_EQ(Tool(dir, image, {"/A", "1", "1", "+63"}).exitCode, 0);  // bit 0 untouched: allowed
    EXPECT_NE(MustRun("sgdisk -v " + Quote(image)).find("No problems found"), std::string::npos);

    const std::string mbr = MakeImage(dir, "mbr.img", 4 << 20, "start=64, size=2048, type=7\nstart=2112, size=2048, type=83");
    const auto before = ImageBytes(image), mbrBefore = ImageBytes(mbr);
    const struct {
        std::string image;
        std::vector<std::string> parameters;
        int exitCode;
        const char* err;
    } refused[] = {
        {image, {"/A", "1", "1", "+0"}, 1, "位 0"},
        {image, {"/A", "1", "3", "0x1"}, 1, "位 0"},
        {image, {"/HIDE", "1", "4"}, 1, "可以隐藏或显示"},
        {image, {"/A", "1", "2", "+64"}, 2, ""},
        {mbr, {"/A", "1", "1", "+62"}, 1, "只能在 GPT 分区上设置"},
        {mbr, {"/HIDE", "1", "2"}, 1, "可以隐藏或显示"},  // 83
    };
    for (const auto& c : refused) {
        const CommandResult run = Tool(dir, c.image, c.parameters);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.parameters[0] << " " << c.parameters[3 % c.parameters.size()];
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
    }
    ExpectImage(before, image, {});
    ExpectImage(mbrBefore, mbr, {});
}

// Windows ignores bits 62 and 63 on removable media: the hiding is written
// all the same, and the user is told on standard output.
TEST(HideAndShow, RemovableDriveIsToldItStillShows) {
    TempDir dir;
    const std::string image = GptDisk(dir);
    const CommandResult run = Tool(dir, image, {"/HIDE", "1", "2"}, {"--removable", "1"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.out.find("Windows 不理会可移动磁盘上的隐藏"), std::string::npos) << run.out;
    EXPECT_EQ(GptAttributes(image, 2), "C000000000000000");
}

// /N writes nothing and saves no undo file; the plan it prints (as JSON)
// names exactly the bytes the real run writes, and every volume it locks.
TEST(DryRun, PlanNamesExactlyTheBytesTheRunWrites) {
    TempDir dir;
    const struct {
        bool gpt;
        std::vector<std::string> parameters;
        size_t locks;
    } cases[] = {
        {false, {"/F", "07", "17"}, 2},  // the primary and the logical partition
        {false, {"/M", "1", "2", "17"}, 1},
        {false, {"/L", "1", "1", "PLANNED"}, 0},
        {true, {"/HIDE", "1", "2"}, 1},
        {true, {"/A", "1", "4", "+60"}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.parameters[0]);
        const std::string image = c.gpt ? GptDisk(dir) : StandardDisk(dir, "disk.img").image;
        const auto before = ImageBytes(image);
        std::vector<std::string> planned{"--json", "--undo-dir", dir.File("undo-plan"), image, "--", "/N"};
        planned.insert(planned.end(), c.parameters.begin(), c.parameters.end());
        const CommandResult plan = RunImageTool(planned);
        ASSERT_EQ(plan.exitCode, 0) << plan.err;
        ExpectImage(before, image, {});
        EXPECT_FALSE(std::filesystem::exists(dir.File("undo-plan")));
        const nlohmann::json json = nlohmann::json::parse(plan.out);
        EXPECT_EQ(json["locks"].size(), c.locks) << plan.out;

        ASSERT_EQ(Tool(dir, image, c.parameters).exitCode, 0);
        std::vector<Patch> written;
        for (const nlohmann::json& write : json["writes"]) {
            const std::string after = write["after"];
            Patch patch{write["position"].get<uint64_t>(), {}};
            for (size_t i = 0; i < after.size(); i += 2)
                patch.bytes.push_back(static_cast<uint8_t>(std::stoi(after.substr(i, 2), nullptr, 16)));
            written.push_back(patch);
        }
        if (!json["labels"].empty()) {  // Windows' own write of the label: the root directory entry
            const Fat32Places fat(before, StandardDisk::P1);
            written.push_back({fat.rootEntry, LabelField("PLANNED")});
        }
        ExpectImage(before, image, written);
    }
}

// A refusal is as the real run would give it: exit 1, the same text.
TEST(DryRun, RefusalsAreThoseOfTheRun) {
    TempDir dir;
    const StandardDisk disk(dir, "disk.img");
    const auto before = ImageBytes(disk.image);
    const CommandResult plan = Tool(dir, disk.image, {"/N", "/M", "1", "2", "EE"});
    const CommandResult run = Tool(dir, disk.image, {"/M", "1", "2", "EE"});
    EXPECT_EQ(plan.exitCode, 1);
    EXPECT_EQ(plan.err, run.err);
    EXPECT_NE(plan.out.find("没有要写入的内容"), std::string::npos) << plan.out;
    ExpectImage(before, disk.image, {});
    EXPECT_EQ(Tool(dir, disk.image, {"/N"}).exitCode, 2);
}

// /U puts entries back as any ID change writes them: the volumes whose
// entries it restores are locked first (one in use: the disk's tables stay),
// and under /N it plans the restore, writing nothing and saving nothing.
TEST(DryRun, RestoreLocksItsVolumesAndPlansUnderN) {
    TempDir dir;
    const StandardDisk disk(dir, "disk.img");
    const auto before = ImageBytes(disk.image);
    ProgramRun change({disk.image});
    change.platform.SetUndoFolder(dir.File("undo"));
    ASSERT_EQ(change.Command({"/F", "07", "17"}), ExitDone);
    const std::string undoFile = change.session.UndoFile();
    const auto changed = ImageBytes(disk.image);

    ProgramRun busy({disk.image});
    busy.platform.SetUndoFolder(dir.File("undo-busy"));
    busy.platform.SetVolumeInUse(0, 2);
    EXPECT_EQ(busy.Command({"/U", undoFile}), ExitNotApplied);
    ASSERT_EQ(busy.session.RestoreProblems().size(), 1u);
    EXPECT_NE(busy.session.RestoreProblems()[0].find(texts::FailVolumeInUse), std::string::npos);
    ExpectImage(changed, disk.image, {});

    ProgramRun plan({disk.image});
    plan.platform.SetUndoFolder(dir.File("undo-plan"));
    EXPECT_EQ(plan.Command({"/N", "/U", undoFile}), ExitDone);
    ExpectImage(changed, disk.image, {});
    EXPECT_FALSE(std::filesystem::exists(dir.File("undo-plan")));
    ASSERT_TRUE(plan.session.Plan());
    EXPECT_EQ(plan.session.Plan()->locks.size(), 2u);  // partition 2 and the logical 07
    std::vector<Patch> planned;
    for (const PlanWrite& write : plan.session.Plan()->writes) planned.push_back({write.position, write.after});

    ProgramRun undo({disk.image});
    undo.platform.SetUndoFolder(dir.File("undo-real"));
    EXPECT_EQ(undo.Command({"/U", undoFile}), ExitDone);
    ExpectImage(before, disk.image, {});
    ExpectImage(changed, disk.image, planned);
}

}  // namespace
}  // namespace quorvane::test
