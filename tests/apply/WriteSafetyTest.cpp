// What is never written, whatever was asked: another disk behind the same
// drive number, a table sector without 55 AA, a GPT disk's entries, a
// container that holds logical partitions, a second container, a dynamic
// disk's entry. Each refused row is named and the run exits 1; the images are
// compared whole.
#include <gtest/gtest.h>

#include "tests/apply/ApplyFixtures.h"

namespace quorvane::test {
namespace {

using SD = StandardDisk;

// The standard disk in the reader at scan time; then, before "确定", another
// medium behind the same drive number: made the same way (another disk
// signature), the same bytes on a longer card, or the same disk with the
// entry's start moved by another program.
TEST(WriteSafety, DiskChangedBetweenScanAndWriteIsNotWritten) {
    TempDir dir;
    const SD disk(dir, "disk.img");
    const SD twin(dir, "twin.img");
    ASSERT_NE(Le(ImageBytes(disk.image), 0x1B8, 4), Le(ImageBytes(twin.image), 0x1B8, 4));
    const std::string longer = dir.File("longer.img");
    MustRun("cp " + Quote(disk.image) + " " + Quote(longer) + " && truncate -s 8M " + Quote(longer));
    const std::string moved = dir.File("moved.img");
    MustRun("cp " + Quote(disk.image) + " " + Quote(moved));
    WriteBytes(moved, 0x1BE + 16 + 8, {0x41});  // slot 1 now starts at sector 0x841

    for (const auto& [medium, cause] : std::vector<std::pair<std::string, FailureCause>>{
             {twin.image, FailureCause::Replaced},
             {longer, FailureCause::Replaced},
             {moved, FailureCause::Stale}}) {
        SCOPED_TRACE(medium);
        ProgramRun run({disk.image});
        run.OpenWindow();
        run.platform.SwapMedium(0, {medium, nullptr});
        const auto before = ImageBytes(medium);
        run.Rows().SetCell(run.Row("1", "2"), ColumnId, "83");
        EXPECT_EQ(run.Confirm(), ExitNotApplied);
        EXPECT_EQ(run.session.Failures(), (ChangeFailures{{run.Row("1", "2"), cause}}));
        ExpectImage(before, medium, {});
    }
}

TEST(WriteSafety, TableSectorWithoutSignatureIsListedButNeverWritten) {
    TempDir dir;
    const SD disk(dir, "disk.img");
    WriteBytes(disk.image, 510, {0, 0});
    const auto before = ImageBytes(disk.image);
    ProgramRun run({disk.image});
    EXPECT_EQ(run.Command({"/M", "1", "2", "83"}), ExitNotApplied);
    EXPECT_EQ(run.Rows().Count(), 5);  // listed all the same
    EXPECT_EQ(run.session.Failures(), (ChangeFailures{{1, FailureCause::NoSignature}}));
    ExpectImage(before, disk.image, {});
}

// A GPT disk as sfdisk makes it: the protective entry EE over the whole disk.
TEST(WriteSafety, GptDiskKeepsItsProtectiveEntryAndGetsNoTemporaryLetter) {
    TempDir dir;
    const std::string gpt = MakeGptImage(dir, "gpt.img", 8 << 20,
                                         "start=2048, size=4096, type=uefi\nstart=6144, size=8192, type=linux");
    const SD mbr(dir, "mbr.img");
    const auto beforeGpt = ImageBytes(gpt), beforeMbr = ImageBytes(mbr.image);

    ProgramRun find({gpt, mbr.image});
    EXPECT_EQ(find.Command({"/F", "EE", "07"}), ExitNotApplied);
    EXPECT_EQ(find.session.Failures(), (ChangeFailures{{0, FailureCause::GptDisk}}));
    // The EE row has no Windows number, so no temporary letter reached the
    // disk's first partition (its EFI system partition on Windows).
    for (const TemporaryDriveName& name : find.session.TemporaryNames())
        EXPECT_EQ(name.target.find("Harddisk0"), std::string::npos) << name.target;

    ProgramRun to({gpt, mbr.image});
    EXPECT_EQ(to.Command({"/M", "2", "1", "EE"}), ExitNotApplied);
    EXPECT_EQ(to.session.Failures(), (ChangeFailures{{to.Row("2", "1"), FailureCause::ToProtective}}));
    ExpectImage(beforeGpt, gpt, {});
    ExpectImage(beforeMbr, mbr.image, {});
}

TEST(WriteSafety, ContainerAndDynamicDiskRules) {
    TempDir dir;
    const SD disk(dir, "disk.img");
    const int container = 2;
    const struct {
        std::vector<std::string> command;
        int row;
        FailureCause cause;
    } refused[] = {
        {{"/F", "05", "07"}, container, FailureCause::ContainerInUse},  // its logicals would vanish
        {{"/M", "1", "1", "0F"}, 0, FailureCause::SecondContainer},     // its boot sector read as an EBR
        {{"/M", "1", "3", "05"}, 3, FailureCause::SecondContainer},     // a logical one too
    };
    const auto before = ImageBytes(disk.image);
    for (const auto& c : refused) {
        SCOPED_TRACE(c.command[0] + " " + c.command[1]);
        ProgramRun run({disk.image});
        EXPECT_EQ(run.Command(c.command), ExitNotApplied);
        EXPECT_EQ(run.session.Failures(), (ChangeFailures{{c.row, c.cause}}));
        ExpectImage(before, disk.image, {});
    }
    // 05 and 0F stay interchangeable.
    ProgramRun lba({disk.image});
    EXPECT_EQ(lba.Command({"/F", "05", "0F"}), ExitDone);
    ExpectImage(before, disk.image, {{IdByte(0, 2), {0x0F}}});

    // A dynamic disk's entry is neither changed nor made.
    WriteBytes(disk.image, IdByte(0, 1), {0x42});
    const auto dynamic = ImageBytes(disk.image);
    for (const auto& command : std::vector<std::vector<std::string>>{{"/M", "1", "2", "07"}, {"/M", "1", "1", "42"}}) {
        ProgramRun run({disk.image});
        EXPECT_EQ(run.Command(command), ExitNotApplied);
        ASSERT_EQ(run.session.Failures().size(), 1u);
        EXPECT_EQ(run.session.Failures()[0].cause, FailureCause::Dynamic);
    }
    ExpectImage(dynamic, disk.image, {});
}

}  // namespace
}  // namespace quorvane::test

namespace quorvane::test {
namespace {

// An empty card reader opens but has no medium: it holds no partitions, and
// a /F that changed everything else has done all it was asked. A drive that
// fails in another way still leaves the run unconfirmed.
TEST(WriteSafety, EmptyCardReaderIsNoFailure) {
    TempDir dir;
    const SD disk(dir, "disk.img");
    const SD card(dir, "card.img");
    ProgramRun empty({disk.image, card.image});
    empty.platform.SetNoMedium(1, true);
    EXPECT_EQ(empty.Command({"/F", "07", "17"}), ExitDone);
    EXPECT_TRUE(empty.session.LastScan().Complete());

    ProgramRun failing({disk.image, card.image});
    failing.platform.AddFault(FaultOn(PlatformCall::Read, 1, 0, 0));
    EXPECT_EQ(failing.Command({"/F", "17", "07"}), ExitNotApplied);
    EXPECT_EQ(failing.session.LastScan().unreadDrives, std::vector<uint32_t>{1});
}

}  // namespace
}  // namespace quorvane::test
