// Every switch end to end: `quorvane-image IMAGE... -- PARAM...` runs the
// parameters as the program's own command line on sfdisk and mkfs.fat
// images; sfdisk, blkid, fatlabel and fsck.fat read the result back, and the
// whole image is compared with what it was.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/apply/ApplyFixtures.h"

namespace quorvane::test {
namespace {

using SD = StandardDisk;

CommandResult Tool(const std::vector<std::string>& images, const std::vector<std::string>& parameters) {
    std::vector<std::string> arguments = images;
    arguments.push_back("--");
    arguments.insert(arguments.end(), parameters.begin(), parameters.end());
    return RunImageTool(arguments);
}

std::string SfdiskType(const std::string& image, size_t index) {
    const nlohmann::json table = SfdiskJson(image);
    return table["partitions"].at(index)["type"];
}

TEST(ImageTool, ModifyWritesTheIdIntoTheRightTable) {
    TempDir dir;
    const SD disk(dir, "disk.img");
    auto before = ImageBytes(disk.image);
    CommandResult result = Tool({disk.image}, {"/M", "1", "2", "83"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    ExpectImage(before, disk.image, {{IdByte(0, 1), {0x83}}});
    EXPECT_EQ(SfdiskType(disk.image, 1), "83");

    // A logical partition's ID lives in its own EBR, never in the MBR.
    before = ImageBytes(disk.image);
    result = Tool({disk.image}, {"/m", "1", "4", "a5"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    ExpectImage(before, disk.image, {{IdByte(disk.ebr6), {0xA5}}});
    EXPECT_EQ(SfdiskType(disk.image, 4), "a5");

    // One digit is read as hexadecimal: b is 0x0B.
    before = ImageBytes(disk.image);
    result = Tool({disk.image}, {"/M", "1", "1", "b"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    ExpectImage(before, disk.image, {{IdByte(0, 0), {0x0B}}});
    EXPECT_EQ(result.out.rfind("undo file: " + dir.File("quorvane-undo/"), 0), 0u) << result.out;
}

TEST(ImageTool, FindChangesEveryMatchingRowOnEveryDisk) {
    TempDir dir;
    const SD disk(dir, "disk.img");
    const std::string second = MakeImage(dir, "second.img", 1 << 20, "start=64, size=1024, type=7");
    const auto before = ImageBytes(disk.image), beforeSecond = ImageBytes(second);
    CommandResult result = Tool({disk.image, second}, {"/f", "07", "1b"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    ExpectImage(before, disk.image, {{IdByte(0, 1), {0x1B}}, {IdByte(disk.ebr6), {0x1B}}});
    ExpectImage(beforeSecond, second, {{IdByte(0, 0), {0x1B}}});

    // 7 matches no two-digit cell: nothing to do is done, exit 0.
    const auto afterFind = ImageBytes(disk.image);
    result = Tool({disk.image}, {"/F", "7", "0C"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    ExpectImage(afterFind, disk.image, {});
}

TEST(ImageTool, LabelIsCutToElevenBytesWithItsCaseAndBlanks) {
    TempDir dir;
    const SD disk(dir, "disk.img");
    const auto before = ImageBytes(disk.image);
    const Fat32Places p1(before, SD::P1);
    const CommandResult result = Tool({disk.image}, {"/L", "1", "1", "My Data Label"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    // Windows keeps FAT labels in upper case; the boot sectors get the label
    // as Windows then reports it, so the copies agree.
    ExpectImage(before, disk.image,
                {{p1.rootEntry, LabelField("MY DATA LAB")},
                 {p1.bootLabel, LabelField("MY DATA LAB")},
                 {p1.backupLabel, LabelField("MY DATA LAB")}});
    EXPECT_EQ(BlkidTag(disk.image, Sector(SD::P1), "LABEL_FATBOOT"), "MY DATA LAB");
    EXPECT_EQ(FatlabelOfPartition(dir, disk.image, SD::P1, SD::FatSectors), "MY DATA LAB");
    // The cut is said on standard output, as the console companion says it.
    EXPECT_EQ(result.out.rfind("磁盘 1 分区 1：卷标超出长度上限，已截短为“My Data Lab”\nundo file: ", 0), 0u)
        << result.out;
}

TEST(ImageTool, SetLabelUpperCasesAndReachesEveryMatchingRow) {
    TempDir dir;
    const SD disk(dir, "disk.img");
    const auto before = ImageBytes(disk.image);
    const Fat32Places p1(before, SD::P1), p5(before, SD::P5);
    const CommandResult result = Tool({disk.image}, {"/s", "0c", "new data"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    std::vector<Patch> patches;
    for (const Fat32Places& p : {p1, p5})
        for (const uint64_t at : {p.rootEntry, p.bootLabel, p.backupLabel})
            patches.push_back({at, LabelField("NEW DATA")});
    ExpectImage(before, disk.image, patches);
    for (const uint64_t start : {SD::P1, SD::P5}) {
        EXPECT_EQ(BlkidTag(disk.image, Sector(start), "LABEL"), "NEW DATA");
        EXPECT_EQ(BlkidTag(disk.image, Sector(start), "LABEL_FATBOOT"), "NEW DATA");
        const CommandResult fsck = FsckPartition(dir, disk.image, start, SD::FatSectors);
        EXPECT_EQ(fsck.exitCode, 0) << fsck.out;
    }
}

TEST(ImageTool, HelpIsPrintedAndNothingIsWritten) {
    TempDir dir;
    const SD disk(dir, "disk.img");
    const auto before = ImageBytes(disk.image);
    for (const std::string help : {"/?", "/h"}) {
        const CommandResult result = Tool({disk.image}, {help});
        EXPECT_EQ(result.exitCode, 0) << help;
        EXPECT_EQ(result.out,
                  "命令行参数\n/? 或 /H\t显示此帮助\n/M <disk> <part> <ID>\t修改某磁盘上指定分区的分区标记\n"
                  "/F <ID1> <ID2>\t\t查找分区标记 <ID1>，找到后用 <ID2> 代替\n"
                  "/L <disk> <part> <label>\t修改某磁盘上指定分区的卷标\n"
                  "/S <ID> <label>\t\t查找分区标记 <ID1>，找到后修改卷标为 <label>\n"
                  "/U <file>\t\t撤销某次更改：恢复撤销文件中记录的扇区和卷标\n")
            << help;
        EXPECT_TRUE(result.err.empty()) << result.err;
    }
    ExpectImage(before, disk.image, {});
}

TEST(ImageTool, CommandLineThatAsksNothingValidExitsTwo) {
    TempDir dir;
    const SD disk(dir, "disk.img");
    const auto before = ImageBytes(disk.image);
    for (const std::vector<std::string>& parameters : std::vector<std::vector<std::string>>{
             {"rubbish"},
             {"/?", "/H"},
             {"/M", "1"},
             {"/M", "1", "1", "0B7"},
             {"/M", "0", "1", "07"},
             {"/L", "1", "9", "X"},
             {"/S", "05", "X"},
             {"/S", "0f", "X"},
             {"/F", "07", "83", "X"},
         }) {
        const CommandResult result = Tool({disk.image}, parameters);
        EXPECT_EQ(result.exitCode, 2) << parameters[0] << " (" << parameters.size() << ")";
        EXPECT_EQ(result.err, "quorvane-image: 命令行参数无效，未做任何更改\n");
    }
    ExpectImage(before, disk.image, {});
}

TEST(ImageTool, ChangeThatDoesNotLandExitsOneAndIsNamed) {
    TempDir dir;
    const SD disk(dir, "disk.img");
    // A second disk whose extended partition points past its end: the EBR
    // cannot be read, the scan shows zeros for it.
    const std::string broken = MakeImage(dir, "broken.img", 1 << 20, "start=64, size=512, type=7");
    WriteBytes(disk.image, IdByte(0, 2), {0x0F});  // the first disk's container is an LBA one
    WriteEntry(broken, 0, 1, 0, 0x05, 4096, 128);
    const auto before = ImageBytes(disk.image), beforeBroken = ImageBytes(broken);
    const struct {
        std::vector<std::string> parameters;
        std::string named;
    } cases[] = {
        {{"/M", "1", "2", "ZZ"}, "磁盘 1 分区 2：分区标记不是一到两位十六进制数，未写入"},
        {{"/L", "1", "2", "NOFS"}, "磁盘 1 分区 2：无法打开卷"},  // 07 without a file system
        {{"/M", "2", "2", "83"}, "磁盘 2 分区 2：分区表扇区没有 55 AA 签名，未写入"},  // the unread EBR
        // /F means every match: the unread disk may hold more.
        {{"/F", "0F", "ZZ"},
         "磁盘 1 扩展分区：分区标记不是一到两位十六进制数，未写入\n"
         "quorvane-image: 未能读取所有磁盘，无法确认每个相符的分区都已修改"},
        // A character code page 936 lacks reaches no label, as on Windows.
        {{"/L", "1", "1", "DATA😀"}, "磁盘 1 分区 1：设置卷标失败"},
    };
    for (const auto& c : cases) {
        const CommandResult result = Tool({disk.image, broken}, c.parameters);
        EXPECT_EQ(result.exitCode, 1) << c.named;
        EXPECT_EQ(result.err,
                  "quorvane-image: " + c.named +
                      "\nquorvane-image: 磁盘 2：分区表未能完整读取（扇区无法读取，或 GPT 已损坏）\n");
    }
    ExpectImage(before, disk.image, {});
    ExpectImage(beforeBroken, broken, {});
}

// /F and /S mean every partition with an ID: a disk that cannot be read may
// hold some, so the run cannot say it did everything. /M names its row.
TEST(ImageTool, DiskThatCannotBeReadLeavesEveryMatchUnconfirmed) {
    TempDir dir;
    const SD disk(dir, "disk.img");
    const std::string missing = dir.File("missing.img");
    auto before = ImageBytes(disk.image);
    CommandResult result = Tool({disk.image, missing}, {"/F", "07", "17"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "quorvane-image: cannot open " + missing +
                              ": it gives no rows\n"
                              "quorvane-image: 未能读取所有磁盘，无法确认每个相符的分区都已修改\n"
                              "quorvane-image: 注册表记有 2 个磁盘，只打开了 1 个\n");
    ExpectImage(before, disk.image, {{IdByte(0, 1), {0x17}}, {IdByte(disk.ebr6), {0x17}}});

    before = ImageBytes(disk.image);
    result = Tool({disk.image, missing}, {"/M", "1", "2", "07"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    ExpectImage(before, disk.image, {{IdByte(0, 1), {0x07}}});
}

// Parameters reach the program in code page 936, as on Windows, and the
// file /U names is opened by its UTF-8 name. A name holding a character
// 936 lacks cannot be given to the Windows program, nor here.
TEST(ImageTool, UndoFileIsFoundUnderAChineseName) {
    TempDir dir;
    const SD disk(dir, "disk.img");
    const auto before = ImageBytes(disk.image);
    const std::string folder = dir.File("撤销目录");
    const CommandResult change = RunImageTool({"--undo-dir", folder, disk.image, "--", "/M", "1", "2", "83"});
    ASSERT_EQ(change.exitCode, 0) << change.err;
    const std::string line = "undo file: ";
    ASSERT_EQ(change.out.rfind(line + folder + "/", 0), 0u) << change.out;
    const std::string path = change.out.substr(line.size(), change.out.size() - line.size() - 1);
    const auto changed = ImageBytes(disk.image);

    const std::string unreachable = dir.File("撤销😀.qvundo");
    std::filesystem::copy_file(path, unreachable);
    CommandResult result = Tool({disk.image}, {"/U", unreachable});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "quorvane-image: 撤销文件无法读取\n");
    ExpectImage(changed, disk.image, {});

    result = Tool({disk.image}, {"/U", path});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    ExpectImage(before, disk.image, {});
}

// What Windows shows beyond the images, told on the tool's command line:
// the Windows volume (listed "，系统", never changed), a volume in use (not
// locked: nothing written), a disk Windows answers no layout for.
TEST(ImageTool, WindowsSwitchesModelWhatWindowsShows) {
    TempDir dir;
    const SD disk(dir, "disk.img");
    const auto before = ImageBytes(disk.image);
    const nlohmann::json rows = nlohmann::json::parse(
        RunImageTool({"--json", "--windows-on", "1:1", disk.image}).out);
    EXPECT_EQ(rows[0]["letter"], "C");
    EXPECT_EQ(rows[0]["system"], true);
    EXPECT_EQ(rows[1]["system"], false);
    const struct {
        std::vector<std::string> arguments;
        const char* err;
    } cases[] = {
        {{"--windows-on", "1:1", disk.image, "--", "/M", "1", "1", "1C"}, "Windows 运行所需的分区"},
        {{"--in-use", "1:2", disk.image, "--", "/M", "1", "2", "17"}, "卷正在使用，无法锁定，未写入"},
    };
    for (const auto& c : cases) {
        const CommandResult result = RunImageTool(c.arguments);
        EXPECT_EQ(result.exitCode, 1) << result.err;
        EXPECT_NE(result.err.find(c.err), std::string::npos) << result.err;
        ExpectImage(before, disk.image, {});
    }
    const CommandResult unanswered = RunImageTool({"--no-layout", disk.image, "--", "/M", "1", "2", "17"});
    EXPECT_EQ(unanswered.exitCode, 0) << unanswered.err;
    ExpectImage(before, disk.image, {{IdByte(0, 1), {0x17}}});
    EXPECT_EQ(RunImageTool({"--in-use", "1", disk.image}).exitCode, 2);
}

}  // namespace
}  // namespace quorvane::test
