// Temporary DOS device names for the partitions without a letter: which
// letters they get, which partitions get none, and that the close path takes
// away exactly the names that were defined, in order, once.
#include <gtest/gtest.h>

#include <map>

#include "tests/apply/ApplyFixtures.h"

namespace quorvane::test {
namespace {

uint32_t Letters(const std::string& letters) {
    uint32_t mask = 0;
    for (const char letter : letters) mask |= 1u << (letter - 'A');
    return mask;
}

std::vector<char> CallLetters(const ImagePlatform& platform, PlatformCall kind) {
    std::vector<char> letters;
    for (const CallRecord& call : platform.Calls())
        if (call.call == kind) letters.push_back(call.letter);
    return letters;
}

std::vector<std::string> NamesOf(const TemporaryDriveNames& names) {
    std::vector<std::string> result;
    for (const TemporaryDriveName& name : names) result.push_back(name.name);
    return result;
}

TEST(TemporaryDriveLetters, FreeLettersAreTakenInOrderSkippingUsedOnes) {
    TempDir dir;
    const std::string image =
        MakeImage(dir, "disk.img", 4 << 20, "start=64, size=1024, type=7\nstart=1088, size=1024, type=83");
    ProgramRun run({image});
    run.platform.SetLogicalDriveMask(Letters("ABCDF"));
    run.OpenWindow();
    EXPECT_EQ(NamesOf(run.session.TemporaryNames()), (std::vector<std::string>{"E:", "G:"}));
    EXPECT_EQ(run.platform.DosDevices(),
              (std::map<char, std::string>{{'E', "\\Device\\Harddisk0\\Partition1"},
                                           {'G', "\\Device\\Harddisk0\\Partition2"}}));
    // The second scan shows them like any other letter.
    EXPECT_EQ(run.Rows().Cell(0, ColumnLetter), "E");
    EXPECT_EQ(run.Rows().Cell(1, ColumnLetter), "G");
}

TEST(TemporaryDriveLetters, ContainersGetNoneTheirLogicalPartitionsDo) {
    TempDir dir;
    const StandardDisk disk(dir, "disk.img");
    const std::string second = MakeImage(dir, "second.img", 1 << 20, "start=64, size=1024, type=7");
    ProgramRun run({disk.image, second});
    run.OpenWindow();
    // Every MBR partition of every disk first, then the logical ones, each
    // under the number Windows gives it.
    EXPECT_EQ(run.platform.DosDevices(),
              (std::map<char, std::string>{{'D', "\\Device\\Harddisk0\\Partition1"},
                                           {'E', "\\Device\\Harddisk0\\Partition2"},
                                           {'F', "\\Device\\Harddisk1\\Partition1"},
                                           {'G', "\\Device\\Harddisk0\\Partition3"},
                                           {'H', "\\Device\\Harddisk0\\Partition4"}}));
    EXPECT_EQ(run.Rows().Cell(2, ColumnId), "05");
    EXPECT_EQ(run.Rows().Cell(2, ColumnLetter), "");
}

// With no letter free there is no temporary name, and a new label for such a
// partition cannot be set: the run says so.
TEST(TemporaryDriveLetters, NoFreeLetterMeansNoNameAndNoLabel) {
    TempDir dir;
    const StandardDisk disk(dir, "disk.img");
    const auto before = ImageBytes(disk.image);
    ProgramRun run({disk.image});
    // C is free, but A, B and C are never used for a temporary name.
    run.platform.SetLogicalDriveMask(Letters("ABDEFGHIJKLMNOPQRSTUVWXYZ"));
    EXPECT_EQ(run.Command({"/L", "1", "1", "NEWNAME"}), ExitNotApplied);
    EXPECT_EQ(run.platform.CountCalls(PlatformCall::DefineDosDevice), 0u);
    EXPECT_TRUE(run.session.TemporaryNames().empty());
    EXPECT_EQ(run.session.Failures(), (ChangeFailures{{0, FailureCause::NoLetter}}));
    EXPECT_EQ(run.platform.CountCalls(PlatformCall::RemoveDosDevice), 0u);
    ExpectImage(before, disk.image, {});
}

// GetLogicalDrives answers 0 only when it fails: no letter is known to be
// free, so none is taken (D: may well be in use).
TEST(TemporaryDriveLetters, UnknownDriveMaskDefinesNothing) {
    TempDir dir;
    const StandardDisk disk(dir, "disk.img");
    ProgramRun run({disk.image});
    run.platform.AddFault(FaultOn(PlatformCall::LogicalDrives, -1, 0));
    run.OpenWindow();
    EXPECT_EQ(run.platform.CountCalls(PlatformCall::DefineDosDevice), 0u);
    EXPECT_TRUE(run.session.TemporaryNames().empty());
}

TEST(TemporaryDriveLetters, WhenLettersRunOutTheRestGetNone) {
    TempDir dir;
    const StandardDisk disk(dir, "disk.img");
    ProgramRun run({disk.image});
    run.platform.SetLogicalDriveMask(Letters("ABCDEFGHIJKLMNOPQRSTUVWXY"));
    run.OpenWindow();
    EXPECT_EQ(NamesOf(run.session.TemporaryNames()), (std::vector<std::string>{"Z:"}));
    EXPECT_EQ(run.platform.CountCalls(PlatformCall::DefineDosDevice), 1u);
    EXPECT_EQ(run.Rows().Cell(0, ColumnLetter), "Z");
    EXPECT_EQ(run.Rows().Cell(1, ColumnLetter), "");
}

// A name whose definition failed belongs to someone else (or to no one):
// it is neither recorded nor removed.
TEST(TemporaryDriveLetters, FailedDefinitionIsNotRecorded) {
    TempDir dir;
    const std::string image =
        MakeImage(dir, "disk.img", 4 << 20, "start=64, size=1024, type=7\nstart=1088, size=1024, type=7");
    ProgramRun run({image});
    run.platform.AddFault(FaultOn(PlatformCall::DefineDosDevice, -1, 'D'));
    run.OpenWindow();
    run.shell.RequestClose();
    run.HandleCloses();
    EXPECT_EQ(CallLetters(run.platform, PlatformCall::DefineDosDevice), (std::vector<char>{'D', 'D'}));
    EXPECT_TRUE(run.session.TemporaryNames().empty());
    EXPECT_EQ(run.platform.CountCalls(PlatformCall::RemoveDosDevice), 0u);
}

// Another program put its own definition over ours while we ran: the close
// takes away ours only, and what the other program defined stays in force.
TEST(TemporaryDriveLetters, CloseRemovesExactlyOurDefinition) {
    TempDir dir;
    const std::string image = MakeImage(dir, "disk.img", 4 << 20, "start=64, size=1024, type=7");
    ProgramRun run({image});
    run.OpenWindow();
    ASSERT_EQ(NamesOf(run.session.TemporaryNames()), (std::vector<std::string>{"D:"}));
    ASSERT_TRUE(run.platform.DefineDosDevice('D', "\\Device\\CdRom0"));
    run.shell.RequestClose();
    run.HandleCloses();
    EXPECT_EQ(run.platform.DosDevices(), (std::map<char, std::string>{{'D', "\\Device\\CdRom0"}}));
}

TEST(TemporaryDriveLetters, CloseRemovesEveryNameInOrderOnce) {
    TempDir dir;
    const StandardDisk disk(dir, "disk.img");
    // The help switch requests a close at start and the command line one more.
    ProgramRun help({disk.image});
    EXPECT_EQ(help.Command({"/h"}), ExitDone);
    EXPECT_EQ(help.shell.closeRequests, 2);
    EXPECT_EQ(CallLetters(help.platform, PlatformCall::RemoveDosDevice),
              (std::vector<char>{'D', 'E', 'F', 'G'}));
    EXPECT_TRUE(help.platform.DosDevices().empty());
    EXPECT_TRUE(help.session.TemporaryNames().empty());

    // Window mode: the close box, then more requests already queued.
    ProgramRun window({disk.image});
    window.OpenWindow();
    for (int i = 0; i < 3; ++i) window.shell.RequestClose();
    window.HandleCloses();
    EXPECT_EQ(CallLetters(window.platform, PlatformCall::RemoveDosDevice),
              (std::vector<char>{'D', 'E', 'F', 'G'}));
}

}  // namespace
}  // namespace quorvane::test
