// Every way a change can fail to reach the disk, injected into one apply pass
// that changes three things: the ID of a primary (MBR), the ID of a logical
// partition (its EBR) and the label of a FAT32 partition. The failing change
// leaves its bytes as they were and is reported for its own row; the others
// still land; the exit code says a change did not reach the disk.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "apply/ChangeFailure.h"
#include "tests/apply/ApplyFixtures.h"
#include "tools/Utf8.h"

namespace quorvane::test {
namespace {

using SD = StandardDisk;

constexpr int RowP1 = 0, RowP2 = 1, RowP6 = 4;  // the extended container is row 2, 5 is row 3

struct Outcome {
    std::vector<uint8_t> before;  // the image just before the apply pass
    ChangeFailures failures;
    int exitCode = -1;
    std::vector<CallRecord> calls;  // every call of the run
    std::string image;
    uint64_t ebr6 = 0;
    std::string description;  // the first failure as the tool names it
};

// Runs the pass on a fresh standard disk. `beforeApply` runs after the start
// sequence, when faults no longer disturb the scan.
Outcome ApplyThreeChanges(const TempDir& dir,
                          const std::function<void(ProgramRun&, const StandardDisk&)>& beforeApply) {
    Outcome outcome;
    std::filesystem::remove(dir.File("disk.img"));
    const StandardDisk disk(dir, "disk.img");
    outcome.image = disk.image;
    outcome.ebr6 = disk.ebr6;
    ProgramRun run({outcome.image});
    run.OpenWindow();
    EXPECT_EQ(run.Rows().Cell(RowP6, ColumnPartition), "4");
    run.Rows().SetCell(RowP2, ColumnId, "83");
    run.Rows().SetCell(RowP6, ColumnId, "83");
    run.Rows().SetCell(RowP1, ColumnLabel, "NEWONE");
    beforeApply(run, disk);
    outcome.before = ImageBytes(outcome.image);
    outcome.exitCode = run.Confirm();
    outcome.failures = run.session.Failures();
    outcome.calls = run.platform.Calls();
    if (!outcome.failures.empty())
        outcome.description = GbkToUtf8(DescribeFailure(run.Rows(), outcome.failures.front()));
    EXPECT_EQ(run.shell.closeRequests, 1) << "the pass closes the window in every case";
    return outcome;
}

struct Landed {
    bool mbr = true, ebr = true, root = true, boot = true, backup = true;
};

void ExpectLanded(const Outcome& outcome, const Landed& landed) {
    const Fat32Places p1(outcome.before, SD::P1);
    std::vector<Patch> patches;
    if (landed.mbr) patches.push_back({IdByte(0, 1), {0x83}});
    if (landed.ebr) patches.push_back({IdByte(outcome.ebr6), {0x83}});
    if (landed.root) patches.push_back({p1.rootEntry, LabelField("NEWONE")});
    if (landed.boot) patches.push_back({p1.bootLabel, LabelField("NEWONE")});
    if (landed.backup) patches.push_back({p1.backupLabel, LabelField("NEWONE")});
    ExpectImage(outcome.before, outcome.image, patches);
}

TEST(ChangeFailure, WithoutFaultsAllThreeChangesLand) {
    TempDir dir;
    const Outcome outcome = ApplyThreeChanges(dir, [](ProgramRun&, const StandardDisk&) {});
    EXPECT_EQ(outcome.exitCode, ExitDone);
    EXPECT_TRUE(outcome.failures.empty());
    ExpectLanded(outcome, {});
}

TEST(ChangeFailure, DriveThatCannotBeOpenedSkipsItsRows) {
    TempDir dir;
    const Outcome outcome = ApplyThreeChanges(dir, [](ProgramRun& run, const StandardDisk&) {
        run.platform.AddFault(FaultOn(PlatformCall::OpenDrive, 0));
    });
    EXPECT_EQ(outcome.exitCode, ExitNotApplied);
    // The label goes through the volume; its boot copies are written only
    // where the disk shows the volume's boot sector, which cannot be seen.
    EXPECT_EQ(outcome.failures, (ChangeFailures{{RowP1, FailureCause::OpenDrive},
                                                {RowP2, FailureCause::OpenDrive},
                                                {RowP6, FailureCause::OpenDrive}}));
    EXPECT_EQ(outcome.description, "磁盘 1 分区 1：无法打开磁盘");
    ExpectLanded(outcome, {.mbr = false, .ebr = false, .boot = false, .backup = false});
}

TEST(ChangeFailure, FaultsInTheSectorCycleLeaveTheSectorAsItWas) {
    const struct {
        const char* name;
        Fault fault;  // at the sector of the EBR, filled in below
        FailureCause cause;
        const char* text;
    } cases[] = {
        {"first positioning", FaultOn(PlatformCall::Seek, 0), FailureCause::Seek, "无法定位扇区"},
        {"failed read", FaultOn(PlatformCall::Read, 0), FailureCause::Read, "无法完整读取扇区"},
        {"short read", FaultOn(PlatformCall::Read, 0, 0, std::nullopt, true), FailureCause::Read,
         "无法完整读取扇区"},
        {"failed write", FaultOn(PlatformCall::Write, 0), FailureCause::Write, "写入扇区失败"},
        // Half a sector goes out: the half that holds no change.
        {"short write", FaultOn(PlatformCall::Write, 0, 0, std::nullopt, true), FailureCause::Write,
         "写入扇区失败"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const Outcome outcome = ApplyThreeChanges(dir, [&](ProgramRun& run, const StandardDisk& disk) {
            Fault fault = c.fault;
            fault.position = Sector(disk.ebr6);
            run.platform.AddFault(fault);
        });
        EXPECT_EQ(outcome.exitCode, ExitNotApplied);
        EXPECT_EQ(outcome.failures, (ChangeFailures{{RowP6, c.cause}}));
        EXPECT_EQ(outcome.description, std::string("磁盘 1 分区 4：") + c.text);
        ExpectLanded(outcome, {.ebr = false});
    }
}

// When the second positioning fails the handle stands right after the sector
// it read; the sector must not be written there.
TEST(ChangeFailure, SecondPositioningFailedWritesNothing) {
    TempDir dir;
    const Outcome reference = ApplyThreeChanges(dir, [](ProgramRun&, const StandardDisk&) {});
    std::vector<uint64_t> seeks;
    for (const CallRecord& call : reference.calls)
        if (call.call == PlatformCall::Seek && call.letter == 0 && call.position == Sector(reference.ebr6))
            seeks.push_back(call.number);
    ASSERT_GE(seeks.size(), 2u);
    const uint64_t second = seeks.back();  // the last cycle on this EBR is the write's

    const Outcome outcome = ApplyThreeChanges(
        dir, [&](ProgramRun& run, const StandardDisk&) { run.platform.FailCallNumber(second); });
    ASSERT_TRUE(outcome.calls.at(second - 1).failed);
    ASSERT_EQ(outcome.calls.at(second - 2).call, PlatformCall::Read);  // it came right after the read
    EXPECT_EQ(outcome.exitCode, ExitNotApplied);
    EXPECT_EQ(outcome.failures, (ChangeFailures{{RowP6, FailureCause::Seek}}));
    ExpectLanded(outcome, {.ebr = false});
}

TEST(ChangeFailure, TableChangedSinceTheScanIsNotOverwritten) {
    TempDir dir;
    const Outcome stale = ApplyThreeChanges(dir, [](ProgramRun&, const StandardDisk& disk) {
        WriteBytes(disk.image, IdByte(disk.ebr6), {0x82});
    });
    EXPECT_EQ(stale.exitCode, ExitNotApplied);
    EXPECT_EQ(stale.failures, (ChangeFailures{{RowP6, FailureCause::Stale}}));
    EXPECT_EQ(stale.description, "磁盘 1 分区 4：分区表已被其他程序改动，未写入");
    ExpectLanded(stale, {.ebr = false});

    // A byte that already holds the new ID is no conflict.
    TempDir again;
    const Outcome alreadyNew = ApplyThreeChanges(again, [](ProgramRun&, const StandardDisk& disk) {
        WriteBytes(disk.image, IdByte(disk.ebr6), {0x83});
    });
    EXPECT_EQ(alreadyNew.exitCode, ExitDone);
    EXPECT_TRUE(alreadyNew.failures.empty());
    ExpectLanded(alreadyNew, {});
}

TEST(ChangeFailure, LabelFaults) {
    const struct {
        const char* name;
        Fault fault;
        FailureCause cause;
        Landed landed;
    } cases[] = {
        // A label Windows refused goes into no boot sector either.
        {"label call",
         FaultOn(PlatformCall::SetVolumeLabel, -1, 'D'),
         FailureCause::SetLabel,
         {.root = false, .boot = false, .backup = false}},
        // Without the volume's extent the letter cannot be shown to be the row's.
        {"extent query",
         FaultOn(PlatformCall::DiskExtent, -1, 'D'),
         FailureCause::OpenVolume,
         {.root = false, .boot = false, .backup = false}},
        {"volume open",
         FaultOn(PlatformCall::OpenVolume, -1, 'D'),
         FailureCause::OpenVolume,
         {.boot = false, .backup = false}},
        {"boot write",
         FaultOn(PlatformCall::Write, -1, 'D', 0),
         FailureCause::Write,
         {.boot = false, .backup = false}},
        {"backup write",
         FaultOn(PlatformCall::Write, -1, 'D', Sector(6)),
         FailureCause::BackupBoot,
         {.backup = false}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const Outcome outcome = ApplyThreeChanges(dir, [&](ProgramRun& run, const StandardDisk&) {
            ASSERT_EQ(run.Rows().Cell(RowP1, ColumnLetter), "D");
            run.platform.AddFault(c.fault);
        });
        EXPECT_EQ(outcome.exitCode, ExitNotApplied);
        EXPECT_EQ(outcome.failures, (ChangeFailures{{RowP1, c.cause}}));
        ExpectLanded(outcome, c.landed);
    }
}

}  // namespace
}  // namespace quorvane::test
