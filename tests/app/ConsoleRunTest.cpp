// The console companion's run on images: what goes to standard output and
// error, the exit codes, that it asks nothing of the system when it is not
// elevated, and that its single close path still runs without a window.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "app/ConsoleRun.h"
#include "app/HelpText.h"
#include "app/Session.h"
#include "tests/apply/ApplyFixtures.h"
#include "text/Texts.h"
#include "tools/Utf8.h"

namespace quorvane::test {
namespace {

struct Printed : ConsoleSink {
    void Out(std::string_view gbk) override { out += gbk; }
    void Err(std::string_view gbk) override { err += gbk; }
    void OutUtf8(std::string_view utf8) override { utf8Out += utf8; }
    std::string out, err, utf8Out;
};

struct ConsoleRun {
    explicit ConsoleRun(const std::string& image, const TempDir& dir) : ConsoleRun(std::vector{image}, dir) {}
    ConsoleRun(const std::vector<std::string>& images, const TempDir& dir) : platform(images) {
        platform.SetUndoFolder(dir.File("undo"));
    }
    int Run(const std::vector<std::string>& parameters, bool elevated = true) {
        return RunConsole(platform, parameters, elevated, printed, GbkToUtf8);
    }
    ImagePlatform platform;
    Printed printed;
};

TEST(ConsoleRun, NotElevatedAsksNothingOfTheSystemButTheHelpStillShows) {
    TempDir dir;
    const StandardDisk disk(dir, "disk.img");
    ConsoleRun denied(disk.image, dir);
    EXPECT_EQ(denied.Run({"/M", "1", "1", "07"}, false), ExitNotElevated);
    EXPECT_EQ(denied.printed.err, std::string(texts::ConsoleNotElevated) + "\n");
    EXPECT_EQ(denied.printed.out, "");
    EXPECT_TRUE(denied.platform.Calls().empty());

    ConsoleRun help(disk.image, dir);
    EXPECT_EQ(help.Run({"/h"}, false), ExitDone);
    std::string lines = BuildHelpText();
    std::replace(lines.begin(), lines.end(), '\r', '\n');
    EXPECT_EQ(help.printed.out, lines + "\n");
    EXPECT_TRUE(help.platform.Calls().empty());
}

TEST(ConsoleRun, ListingsEndWithTheTemporaryLettersRemoved) {
    TempDir dir;
    const StandardDisk disk(dir, "disk.img");
    ConsoleRun table(disk.image, dir);
    EXPECT_EQ(table.Run({}), ExitDone);
    // The header and the five rows; the letters the run defined are shown...
    EXPECT_EQ(std::count(table.printed.out.begin(), table.printed.out.end(), '\n'), 6);
    EXPECT_EQ(table.printed.out.rfind(std::string(texts::HeaderLetter) + "\t" + texts::HeaderLabel, 0), 0u);
    EXPECT_NE(table.printed.out.find("\nF\tLOGIC\t1\t3\t0C\t"), std::string::npos) << table.printed.out;
    // ...and removed again before the program ends.
    EXPECT_EQ(table.platform.CountCalls(PlatformCall::RemoveDosDevice),
              table.platform.CountCalls(PlatformCall::DefineDosDevice));
    EXPECT_GT(table.platform.CountCalls(PlatformCall::DefineDosDevice), 0u);

    ConsoleRun json(disk.image, dir);
    EXPECT_EQ(json.Run({"/j"}), ExitDone);
    EXPECT_EQ(json.printed.out, "");
    const nlohmann::json rows = nlohmann::json::parse(json.printed.utf8Out);
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[3]["kind"], "逻辑");
    EXPECT_EQ(rows[3]["letter"], "F");
    EXPECT_EQ(json.platform.CountCalls(PlatformCall::RemoveDosDevice),
              json.platform.CountCalls(PlatformCall::DefineDosDevice));

    // /J is the companion's alone: with anything else it is the window
    // program's unknown switch.
    ConsoleRun extra(disk.image, dir);
    EXPECT_EQ(extra.Run({"/J", "1"}), ExitInvalidCommand);
    EXPECT_EQ(extra.printed.utf8Out, "");
    EXPECT_EQ(extra.printed.err, std::string(texts::ConsoleInvalid) + "\n");
}

TEST(ConsoleRun, ChangesPrintTheUndoFileAndFailuresGoToStandardError) {
    TempDir dir;
    const StandardDisk disk(dir, "disk.img");
    ConsoleRun change(disk.image, dir);
    EXPECT_EQ(change.Run({"/M", "1", "2", "83"}), ExitDone);
    EXPECT_EQ(change.printed.err, "");
    const std::string prefix = texts::ConsoleUndoFile;
    ASSERT_EQ(change.printed.out.rfind(prefix, 0), 0u) << change.printed.out;
    const std::string path =
        change.printed.out.substr(prefix.size(), change.printed.out.size() - prefix.size() - 1);
    EXPECT_TRUE(std::filesystem::is_regular_file(path)) << path;

    // Two rows fail: one line each, the row and the cause as the box words them.
    ConsoleRun failed(disk.image, dir);
    const auto before = ImageBytes(disk.image);
    EXPECT_EQ(failed.Run({"/F", "0C", "GG"}), ExitNotApplied);
    const std::string line = std::string(texts::FailureColon) + texts::FailBadId + "\n";
    EXPECT_EQ(failed.printed.err, std::string(texts::FailureDisk) + "1" + texts::FailurePartition + "1" +
                                      line + texts::FailureDisk + "1" + texts::FailurePartition + "3" + line);
    ExpectImage(before, disk.image, {});
}

// Whatever makes a run end with 1, standard error says what was not done
// and why; a drive the scan could not read is named even where the run
// wrote all it could.
TEST(ConsoleRun, EveryExitOneSaysWhatWasNotDone) {
    TempDir dir;
    const StandardDisk disk(dir, "disk.img");
    // Both GPT headers damaged: the disk's partitions cannot be listed.
    const std::string gpt = MakeGptImage(dir, "gpt.img", 2 << 20, "size=100, type=linux");
    WriteBytes(gpt, 512 + 40, {0xFF});
    WriteBytes(gpt, (2 << 20) - 512 + 40, {0xFF});
    const std::string unconfirmed = std::string(texts::ScanMatchesUnconfirmed) + "\n";
    const struct {
        std::vector<std::string> images;
        int32_t diskCount;  // as the registry counts them; 0: one per image
        std::vector<std::string> parameters;
        std::string err;
    } cases[] = {
        {{disk.image, gpt},
         0,
         {"/F", "07", "17"},
         unconfirmed + texts::FailureDisk + "2" + texts::FailureColon + texts::ScanUnreadDrive + "\n"},
        {{disk.image},
         2,
         {"/S", "0C", "X"},
         unconfirmed + texts::ScanDrivesCounted + "2" + texts::ScanDrivesOpened + "1" +
             texts::ScanDrivesUnit + "\n"},
        {{disk.image},
         0,
         {"/M", "1", "3", "05"},
         std::string(texts::FailureDisk) + "1" + texts::FailurePartition + "3" + texts::FailureColon +
             texts::RefuseSecondContainer + "\n"},
        {{disk.image}, 0, {"/U", dir.File("none.qvundo")}, std::string(texts::RestoreUnreadable) + "\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.parameters[0]);
        ConsoleRun run(c.images, dir);
        if (c.diskCount) run.platform.SetDiskCount(c.diskCount);
        EXPECT_EQ(run.Run(c.parameters), ExitNotApplied);
        EXPECT_EQ(run.printed.err, c.err);
    }
    // A table written raw since Windows read the disk: the drive is named.
    ConsoleRun stale(disk.image, dir);
    ASSERT_TRUE(stale.platform.QueryDriveLayout(0));
    WriteBytes(disk.image, IdByte(0, 1), {0x8E});
    EXPECT_EQ(stale.Run({"/M", "1", "1", "1C"}), ExitNotApplied);
    EXPECT_EQ(stale.printed.err, std::string(texts::FailureDisk) + "1" + texts::FailurePartition + "1" +
                                     texts::FailureColon + texts::RefuseLayoutDiffers + "\n" + texts::FailureDisk +
                                     "1" + texts::FailureColon + texts::LayoutDiffersNotice + "\n");
}

// A label cut to what the file system takes is done, not failed: it is said
// on standard output, before the undo file.
TEST(ConsoleRun, CutLabelIsSaidOnStandardOutput) {
    TempDir dir;
    const StandardDisk disk(dir, "disk.img");
    ConsoleRun run(disk.image, dir);
    EXPECT_EQ(run.Run({"/L", "1", "1", "ABCDEFGHIJ\xD6\xD0"}), ExitDone);  // 中: 12 bytes
    EXPECT_EQ(run.printed.err, "");
    const std::string said = std::string(texts::FailureDisk) + "1" + texts::FailurePartition + "1" +
                             texts::FailureColon + texts::NoteLabelCut + "ABCDEFGHIJ" +
                             texts::NoteLabelCutEnd + "\n" + texts::ConsoleUndoFile;
    EXPECT_EQ(run.printed.out.rfind(said, 0), 0u) << run.printed.out;
}

}  // namespace
}  // namespace quorvane::test
