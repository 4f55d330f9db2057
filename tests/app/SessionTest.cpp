// The start sequence as the window sees it: when it is shown, when the help
// box appears, which runs close by themselves, and with what exit code.
#include <gtest/gtest.h>

#include "app/HelpText.h"
#include "app/Session.h"
#include "tests/apply/ApplyFixtures.h"

namespace quorvane::test {
namespace {

TEST(Session, WindowIsShownOnlyWithoutParameters) {
    TempDir dir;
    const StandardDisk disk(dir, "disk.img");
    ProgramRun window({disk.image});
    window.OpenWindow();
    EXPECT_EQ(window.shell.windowShown, 1);
    EXPECT_EQ(window.shell.selected, (std::vector<int>{0}));
    EXPECT_EQ(window.shell.closeRequests, 0);
    EXPECT_TRUE(window.shell.helpShown.empty());
    // Both scans and the temporary letters are done before the user sees rows.
    EXPECT_EQ(window.Rows().Cell(3, ColumnLetter), "F");
    EXPECT_EQ(window.Rows().Cell(3, ColumnFreeMb), "32");

    for (const std::vector<std::string>& parameters :
         std::vector<std::vector<std::string>>{{"/F", "07", "07"}, {"rubbish"}, {"/M", "1"}}) {
        ProgramRun command({disk.image});
        command.Command(parameters);
        EXPECT_EQ(command.shell.windowShown, 0) << parameters[0];
        EXPECT_GE(command.shell.closeRequests, 1) << parameters[0];
        EXPECT_TRUE(command.shell.helpShown.empty()) << parameters[0];
    }
}

TEST(Session, HelpSwitchAloneShowsTheHelpAndCloses) {
    TempDir dir;
    const StandardDisk disk(dir, "disk.img");
    for (const std::string help : {"/?", "/h", "/H"}) {
        ProgramRun run({disk.image});
        EXPECT_EQ(run.Command({help}), ExitDone) << help;
        EXPECT_EQ(run.shell.helpShown, (std::vector<std::string>{BuildHelpText()})) << help;
        EXPECT_GE(run.shell.closeRequests, 1) << help;
        EXPECT_EQ(run.platform.CountCalls(PlatformCall::Write), 0u) << help;
    }
    ProgramRun both({disk.image});
    EXPECT_EQ(both.Command({"/?", "/H"}), ExitInvalidCommand);
    EXPECT_TRUE(both.shell.helpShown.empty());
    EXPECT_EQ(both.shell.closeRequests, 1);
}

TEST(Session, Windows9xEndsRightAfterStart) {
    TempDir dir;
    const StandardDisk disk(dir, "disk.img");
    const struct {
        uint32_t version;
        int closes;
    } cases[] = {
        {0xC0000A04, 1},  // Windows 98: the non-NT bit, version 4.10
        {0xC0005A04, 1},  // Windows Me (4.90)
        {0x80000003, 0},  // the non-NT bit with version 3: not 95, 98 or Me
        {0x0ECE0005, 0},  // Windows 2000
    };
    for (const auto& c : cases) {
        ProgramRun run({disk.image});
        run.platform.SetVersion(c.version);
        run.OpenWindow();
        EXPECT_EQ(run.shell.closeRequests, c.closes) << std::hex << c.version;
        EXPECT_EQ(run.shell.windowShown, 1);  // the sequence goes on regardless
    }
}

// F5: the rows and temporary drive names as a new start on the disks as
// they are now would make them. The names of this run go first, so none is
// lost or defined twice, pending changes are dropped, and nothing is written.
TEST(Session, RescanIsAFreshStart) {
    TempDir dir;
    const StandardDisk disk(dir, "disk.img");
    ProgramRun window({disk.image});
    window.OpenWindow();
    const std::map<char, std::string> namesAtStart = window.platform.DosDevices();
    ASSERT_FALSE(namesAtStart.empty());
    window.Rows().SetCell(0, ColumnId, "1B");  // pending, and dropped by the rescan
    // Another program changes partition 2 while the window is open, and
    // tells Windows, which reads the disk's layout again.
    MustRun("sfdisk --quiet --no-reread --no-tell-kernel --part-type " + Quote(disk.image) + " 2 83");
    window.platform.ReReadLayout(0);

    window.session.Rescan();
    ProgramRun fresh({disk.image});
    fresh.OpenWindow();
    ASSERT_EQ(window.Rows().Count(), fresh.Rows().Count());
    for (int row = 0; row < fresh.Rows().Count(); ++row)
        for (int column = 0; column < ColumnCount; ++column)
            EXPECT_EQ(window.Rows().Cell(row, column), fresh.Rows().Cell(row, column))
                << row << "," << column;
    EXPECT_EQ(window.Rows().Cell(window.Row("1", "2"), ColumnId), "83");
    EXPECT_FALSE(window.Rows().HasPendingIdChange(0));
    EXPECT_EQ(window.platform.DosDevices(), fresh.platform.DosDevices());
    EXPECT_EQ(window.platform.DosDevices(), namesAtStart);
    EXPECT_EQ(window.platform.CountCalls(PlatformCall::RemoveDosDevice), namesAtStart.size());
    EXPECT_EQ(window.shell.selected, (std::vector<int>{0, 0}));
    EXPECT_EQ(window.platform.CountCalls(PlatformCall::Write), 0u);

    // The one close path removes the names the rescan defined.
    window.shell.RequestClose();
    window.HandleCloses();
    EXPECT_TRUE(window.platform.DosDevices().empty());
}

}  // namespace
}  // namespace quorvane::test
