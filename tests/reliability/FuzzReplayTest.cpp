// Replays the fuzzer's seeds and every input it ever found a fault with, through
// the same decoding and the same checks as the fuzz target.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "fuzz/FuzzCase.h"
#include "fuzz/FuzzRun.h"
#include "fuzz/RestoreCase.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> ReadInput(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

fuzz::FuzzOutcome Replay(const fs::path& path) {
    const std::vector<uint8_t> input = ReadInput(path);
    return fuzz::RunFuzzCase(fuzz::DecodeFuzzCase(input.data(), input.size()));
}

void ExpectNoViolation(const fs::path& path, const fuzz::FuzzOutcome& outcome) {
    for (const std::string& violation : outcome.violations) ADD_FAILURE() << path << ": " << violation;
}

// The seeds are the fuzzer's starting points: each must build the disks and
// reach the outcome it was made for, or the fuzzer starts from nothing.
TEST(FuzzReplay, SeedsBuildTheirDisksAndKeepEveryPromise) {
    struct Shape {
        int rows;
        int requested;
        int landed;
        int exitCode;
        int restored;  // disks /U with the run's undo file put back afterwards
    };
    const std::map<std::string, Shape> expected = {
        {"mbr-primaries", {4, 1, 1, ExitDone, 1}},        // 07, 0B, 83, 0C; /F 0B 0C
        {"chain-0f", {6, 3, 3, ExitDone, 2}},             // 07, 0F + 83, 83, 0B; 83 on disk 2
        {"looping-chain", {4, 3, 3, ExitDone, 1}},        // 05 + three EBRs, the loop cut
        {"past-4gib", {4, 3, 3, ExitDone, 1}},            // 0F + two logicals, 07 above 4 GiB
        {"bad-id", {1, 1, 0, ExitNotApplied, 0}},         // "G1" is refused, nothing written
        {"long-chain", {43, 41, 41, ExitDone, 1}},        // 41 EBRs from one chunk
        {"label-one", {4, 1, 1, ExitDone, 1}},            // /L through Windows and both boot sectors
        {"labels-by-id", {5, 2, 2, ExitDone, 1}},         // /S on a primary and a logical
        {"window-edits", {5, 2, 2, ExitDone, 1}},         // an ID and a label; EE refused in the window
        {"swapped-card", {4, 1, 0, ExitNotApplied, 0}},   // another disk signature
        {"stale-entry", {4, 1, 0, ExitNotApplied, 0}},    // the entry moved since the scan
        {"longer-card", {4, 1, 0, ExitNotApplied, 0}},    // another size
        {"removed-card", {4, 1, 0, ExitNotApplied, 0}},   // no medium for the label
        {"failed-write", {4, 1, 0, ExitNotApplied, 0}},   // the write fails
        {"short-read", {0, 0, 0, ExitNotApplied, 0}},     // the MBR never read in full
        {"failed-label", {5, 2, 0, ExitNotApplied, 0}},   // Windows refuses every label
        {"foreign-names", {5, 1, 0, ExitNotApplied, 0}},  // our letter redefined by someone else
        {"gpt-disk", {1, 1, 0, ExitNotApplied, 0}},       // EE is never changed
        {"container-in-use", {2, 1, 0, ExitNotApplied, 0}},
        {"help", {1, 0, 0, ExitDone, 0}},
        {"no-such-row", {1, 0, 0, ExitInvalidCommand, 0}},
        {"two-parameters", {1, 0, 0, ExitInvalidCommand, 0}},
        {"missing-disk", {1, 1, 1, ExitNotApplied, 1}},         // the registry counts three disks
        {"gpt-type", {6, 1, 1, ExitDone, 1}},                   // EE + five GPT rows; one type in both copies
        {"gpt-by-code", {6, 2, 2, ExitDone, 1}},                // both basic-data rows
        {"gpt-label", {6, 1, 1, ExitDone, 1}},                  // a FAT32 volume in a GPT partition
        {"gpt-window", {6, 1, 1, ExitDone, 1}},                 // FD00 taken; 4200 and "83" refused at once
        {"gpt-damaged-primary", {3, 1, 0, ExitNotApplied, 0}},  // listed from the backup, not changed
        {"gpt-hybrid", {4, 1, 0, ExitNotApplied, 0}},           // read as MBR: EE, two GPT rows never changed, 0C
        {"4k-chain", {4, 2, 2, ExitDone, 1}},  // 0C, 05 + two logicals at 4096 bytes a sector
        {"4k-label", {1, 1, 1, ExitDone, 1}},
        {"4k-gpt", {4, 2, 2, ExitDone, 1}},
        {"gpt-lower-case", {6, 3, 3, ExitDone, 1}},         // "8e00", "a503", and "ef00" on an EF00 row
        {"fat16-by-count", {1, 1, 0, ExitNotApplied, 0}},   // 65524 clusters: no FAT32 volume for Windows
        {"container-to-42", {5, 2, 0, ExitNotApplied, 0}},  // an empty container and a full one, both refused
        // /U after the run, with another program's change or an altered file
        // between them: refused for that disk.
        {"undo-after-relabel", {4, 1, 1, ExitDone, 0}},      // the label set by someone else since
        {"undo-sector-of-neither", {4, 1, 1, ExitDone, 0}},  // another ID in the same MBR
        {"undo-other-size", {4, 1, 1, ExitDone, 0}},         // a record naming a disk of another size
        {"undo-size-zero", {6, 2, 2, ExitDone, 0}},          // records of size 0 name no disk
        {"undo-damaged", {4, 1, 1, ExitDone, 0}},            // a flipped byte: the file is refused
        // Windows' view: both IDs of the disk of a volume in use stay, its
        // label is set; partition 2 is C: and the EFI system partition boots
        // it (only partition 5 changes); a type written raw since Windows
        // read the layout, and the same where Windows does not answer.
        {"volume-in-use", {4, 3, 1, ExitNotApplied, 1}},
        {"system-partition", {6, 2, 1, ExitNotApplied, 1}},
        {"system-partition-mbr", {3, 1, 0, ExitNotApplied, 0}},  // EF of the disk Windows runs from
        {"stale-layout", {4, 1, 0, ExitNotApplied, 0}},
        {"stale-layout-length", {4, 1, 0, ExitNotApplied, 0}},
        {"stale-layout-unanswered", {4, 1, 1, ExitDone, 1}},
        {"removable-hide", {6, 1, 1, ExitDone, 1}},  // written, and told
        // Hiding and showing: the MBR twins, GPT bits 62 and 63, the menu.
        {"mbr-hide", {4, 1, 1, ExitDone, 1}},
        {"mbr-show-in-window", {3, 1, 1, ExitDone, 1}},  // 83 is not offered
        {"gpt-show", {6, 1, 1, ExitDone, 1}},
        {"gpt-hide-in-window", {6, 1, 1, ExitDone, 1}},  // the EFI system partition is not offered
        {"attributes-whole", {6, 1, 1, ExitDone, 1}},
        {"attributes-bits", {6, 1, 1, ExitDone, 1}},
        {"attributes-platform-required", {6, 1, 0, ExitNotApplied, 0}},
        {"attributes-malformed", {6, 0, 0, ExitInvalidCommand, 0}},
        {"attributes-on-mbr", {4, 0, 0, ExitNotApplied, 0}},
        // /N writes nothing (the same case without it is run and matched);
        // /N /U before the /U after a run.
        {"dry-run", {4, 1, 0, ExitDone, 0}},
        {"dry-run-gpt-label", {6, 1, 0, ExitDone, 0}},
        {"dry-run-refused", {4, 0, 0, ExitNotApplied, 0}},
        {"dry-run-restore", {6, 1, 1, ExitDone, 1}},
    };
    const fs::path dir = fs::path(QUORVANE_SOURCE_DIR) / "fuzz" / "corpus";
    size_t seeds = 0;
    for (const auto& file : fs::directory_iterator(dir)) seeds += file.is_regular_file();
    EXPECT_EQ(seeds, expected.size()) << "a seed without an expected outcome";
    for (const auto& [name, shape] : expected) {
        SCOPED_TRACE(name);
        const fuzz::FuzzOutcome outcome = Replay(dir / name);
        ExpectNoViolation(dir / name, outcome);
        EXPECT_EQ(outcome.rows, shape.rows);
        EXPECT_EQ(outcome.requested, shape.requested);
        EXPECT_EQ(outcome.landed, shape.landed);
        EXPECT_EQ(outcome.exitCode, shape.exitCode);
        EXPECT_EQ(outcome.restoredDisks, shape.restored);
    }
}

// The restore fuzzer's seeds: /U after runs cut anywhere, on disks told
// apart by one thing each, with changes since.
TEST(FuzzReplay, RestoreSeedsPutBackWholeDisksOrNone) {
    struct Shape {
        int exitCode;
        int restored;  // disks something was put back on
    };
    const std::map<std::string, Shape> expected = {
        {"ids-whole", {ExitDone, 1}},
        {"gpt-cut-in-a-sector", {ExitDone, 1}},    // the backup array half written, both halves changed
        {"label-4k-cut", {ExitDone, 1}},           // the label and the boot sector, not the backup
        {"gpt-4k-label", {ExitDone, 1}},           // the label, the boot sector half
        {"same-id-other-size", {ExitDone, 2}},     // each disk gets its own records
        {"same-id-other-sectors", {ExitDone, 2}},  // one GUID and size, 512 and 4096 bytes a sector
        {"twins", {ExitNotApplied, 0}},            // two drives hold the recorded disk
        {"sector-of-neither", {ExitNotApplied, 1}},
        {"relabelled", {ExitNotApplied, 0}},
        {"size-zero", {ExitNotApplied, 2}},  // the record of size 0 is refused, the rest put back
        {"copied-to-other-disk", {ExitNotApplied, 1}},
        {"other-version", {ExitNotApplied, 0}},
    };
    const fs::path dir = fs::path(QUORVANE_SOURCE_DIR) / "fuzz" / "undo-corpus";
    size_t seeds = 0;
    for (const auto& file : fs::directory_iterator(dir)) seeds += file.is_regular_file();
    EXPECT_EQ(seeds, expected.size()) << "a seed without an expected outcome";
    for (const auto& [name, shape] : expected) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> input = ReadInput(dir / name);
        const auto outcome = fuzz::RunRestoreCase(fuzz::DecodeRestoreCase(input.data(), input.size()));
        for (const std::string& violation : outcome.violations) ADD_FAILURE() << violation;
        EXPECT_EQ(outcome.exitCode, shape.exitCode);
        EXPECT_EQ(outcome.restoredDisks, shape.restored);
    }
}

// Every input the fuzzer ever stopped on (fuzz/make-corpus says what each of
// the hand-made ones holds). no-op-id-in-cut-mbr: "/F 05 5" on a 500-byte disk
// whose MBR runs into the cut gives no rows and exit 1; nothing changes.
TEST(FuzzReplay, FindingsStayFixed) {
    const fs::path dir = fs::path(QUORVANE_SOURCE_DIR) / "fuzz" / "regressions";
    if (!fs::exists(dir)) return;
    for (const auto& file : fs::directory_iterator(dir)) {
        if (!file.is_regular_file() || file.path().filename().string().starts_with(".")) continue;
        SCOPED_TRACE(file.path().filename().string());
        const fuzz::FuzzOutcome outcome = Replay(file.path());
        ExpectNoViolation(file.path(), outcome);
        if (file.path().filename() == "no-op-id-in-cut-mbr") {
            EXPECT_EQ(outcome.requested, 0);
            EXPECT_EQ(outcome.exitCode, ExitNotApplied);
        }
    }
}

}  // namespace
}  // namespace quorvane
