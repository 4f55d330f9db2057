// A power cut at every point of runs of several writes: a run is stopped
// after its k-th write for every k, and in the middle of its (k+1)-th sector
// (the first half written); /U with the undo file that run saved must then
// bring every disk back byte for byte. Disks made by sfdisk and mkfs.fat;
// the volumes already have labels (an empty old label would come back as a
// deleted entry, not the zeros it was).
#include <gtest/gtest.h>

#include <functional>

#include "app/Session.h"
#include "fuzz/FuzzRun.h"
#include "tests/apply/ApplyFixtures.h"
#include "tests/reliability/ReliabilitySupport.h"
#include "tests/support/PowerCut.h"

namespace quorvane::test {
namespace {

struct CutRun {
    std::vector<SharedMemoryImage> images;
    std::vector<uint8_t> undoFile;  // the one the run saved; empty when none
    uint64_t writes = 0;
    int exitCode = 0;
};

std::vector<SharedMemoryImage> Copies(const std::vector<SharedMemoryImage>& images) {
    std::vector<SharedMemoryImage> copies;
    for (const SharedMemoryImage& image : images) copies.push_back(CopyImage(image));
    return copies;
}

// One run of the program's command line on copies of `images`, its power
// cut after `cut` writes (torn: the next one lands half); `file` goes to the
// run's undo folder as "saved.qvundo" first.
CutRun RunCut(const std::vector<SharedMemoryImage>& images, const std::vector<std::string>& parameters,
              std::optional<uint64_t> cut, bool torn, const std::vector<uint8_t>& file = {}) {
    CutRun run{Copies(images), {}, 0, 0};
    std::vector<ImageSource> sources;
    for (const SharedMemoryImage& image : run.images) sources.push_back({"", image});
    PowerCutPlatform platform(sources);
    if (cut) platform.CutAfter(*cut, torn);
    if (!file.empty()) platform.PutUndoFileInMemory("saved.qvundo", file);
    fuzz::QuietShell shell;
    Session session(platform, shell);
    {
        Deadline deadline(20, parameters.front() + " cut after " + std::to_string(cut.value_or(0)));
        session.Start(parameters);
        session.OnClose();
    }
    run.writes = platform.Writes();
    run.exitCode = session.ExitCode();
    if (const auto saved = platform.UndoFilesInMemory().find(session.UndoFile());
        saved != platform.UndoFilesInMemory().end())
        run.undoFile = saved->second;
    return run;
}

// Cuts the run at every point; /U with the file it saved restores `images`.
void CutEverywhere(const std::string& what, const std::vector<SharedMemoryImage>& images,
                   const std::vector<std::string>& parameters, uint64_t expectedWrites,
                   const std::vector<uint8_t>& file = {}) {
    const CutRun whole = RunCut(images, parameters, std::nullopt, false, file);
    ASSERT_EQ(whole.exitCode, ExitDone) << what;
    ASSERT_EQ(whole.writes, expectedWrites) << what;
    for (uint64_t k = 0; k <= whole.writes; ++k) {
        for (const bool torn : {false, true}) {
            if (torn && k == whole.writes) continue;
            const std::string where =
                what + ", cut after write " + std::to_string(k) + (torn ? " and half" : "");
            const CutRun cut = RunCut(images, parameters, k, torn, file);
            ASSERT_FALSE(cut.undoFile.empty()) << where << ": no undo file saved";
            const CutRun undo = RunCut(cut.images, {"/U", "saved.qvundo"}, std::nullopt, false, cut.undoFile);
            // Nothing changed (no write landed, or half a sector with the same
            // bytes): /U finds nothing of the change and says so.
            bool changed = false;
            for (size_t disk = 0; disk < images.size(); ++disk)
                changed = changed || !images[disk]->DifferingBlocks(*cut.images[disk]).empty();
            EXPECT_EQ(undo.exitCode, changed ? ExitDone : ExitNotApplied) << where;
            for (size_t disk = 0; disk < images.size(); ++disk) {
                const auto wrong = images[disk]->DifferingBlocks(*undo.images[disk]);
                EXPECT_TRUE(wrong.empty()) << where << ": disk " << disk << " differs in " << wrong.size()
                                           << " blocks, the first at " << (wrong.empty() ? 0 : wrong.front());
            }
        }
    }
}

class PowerCut : public ::testing::Test {
 protected:
    SharedMemoryImage Load(const std::string& path) { return LoadMemoryImage(path); }
    TempDir dir;
};

// Four EBRs of one chain.
TEST_F(PowerCut, IdsOverLogicalPartitions) {
    const std::string image = MakeImage(dir, "chain.img", 8 << 20,
                                        "start=2048, size=14336, type=5\n"
                                        "start=2112, size=1024, type=83\n"
                                        "start=3200, size=1024, type=83\n"
                                        "start=4288, size=1024, type=83\n"
                                        "start=5376, size=1024, type=83");
    CutEverywhere("/F 83 8E", {Load(image)}, {"/F", "83", "8E"}, 4);
}

// Two Linux partitions in entries 1 and 3: both in the first array sector,
// one in each half of it, so a sector cut in the middle holds some of the
// change and not the rest. The backup array and header, then the primary ones.
std::string GptDisk(const TempDir& dir) {
    return MakeGptImage(dir, "gpt.img", 8 << 20,
                        "p1 : start=2048, size=1024, type=uefi\n"
                        "p2 : start=3072, size=1024, type=linux\n"
                        "p4 : start=4096, size=1024, type=linux");
}

TEST_F(PowerCut, GptType) {
    CutEverywhere("/F 8300 0700", {Load(GptDisk(dir))}, {"/F", "8300", "0700"}, 4);
}

// The label through Windows, then the boot sector and its backup.
TEST_F(PowerCut, Fat32LabelWithBothBootCopies) {
    const StandardDisk disk(dir, "disk.img");
    CutEverywhere("/L 1 1 NEW", {Load(disk.image)}, {"/L", "1", "1", "NEW"}, 3);
}

// A restore, cut anywhere: the file that restore saved puts back what it
// had put back; the run's own file still completes the restore.
TEST_F(PowerCut, Restore) {
    const StandardDisk disk(dir, "disk.img");
    const std::string chain = MakeImage(dir, "chain.img", 8 << 20,
                                        "start=2048, size=14336, type=5\n"
                                        "start=2112, size=1024, type=c\n"
                                        "start=3200, size=1024, type=c");
    const std::vector<SharedMemoryImage> original{Load(disk.image), Load(chain), Load(GptDisk(dir))};
    struct Change {
        std::vector<std::string> parameters;
        uint64_t writes;  // of its restore
    };
    for (const Change& change : {Change{{"/F", "0C", "1C"}, 4}, Change{{"/L", "1", "1", "NEW"}, 3},
                                 Change{{"/F", "8300", "0700"}, 4}}) {
        const std::string what = "/U of " + change.parameters.front();
        const CutRun changed = RunCut(original, change.parameters, std::nullopt, false);
        ASSERT_EQ(changed.exitCode, ExitDone) << what;
        CutEverywhere(what, changed.images, {"/U", "saved.qvundo"}, change.writes, changed.undoFile);

        for (uint64_t k = 0; k < change.writes; ++k) {
            const CutRun cut = RunCut(changed.images, {"/U", "saved.qvundo"}, k, true, changed.undoFile);
            const CutRun rest =
                RunCut(cut.images, {"/U", "saved.qvundo"}, std::nullopt, false, changed.undoFile);
            bool left = false;  // something the cut restore did not put back
            for (size_t image = 0; image < original.size(); ++image) {
                left = left || !original[image]->DifferingBlocks(*cut.images[image]).empty();
                EXPECT_TRUE(original[image]->DifferingBlocks(*rest.images[image]).empty())
                    << what << ", cut after " << k << ": disk " << image;
            }
            EXPECT_EQ(rest.exitCode, left ? ExitDone : ExitNotApplied) << what << ", cut after " << k;
        }
    }
}

}  // namespace
}  // namespace quorvane::test
