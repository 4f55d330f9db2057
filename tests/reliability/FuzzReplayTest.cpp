// Replays the fuzzer's seeds and every input it ever found a fault with, through
// the same decoding and the same checks as the fuzz target.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "fuzz/FuzzCase.h"
#include "fuzz/FuzzRun.h"

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
    };
    const std::map<std::string, Shape> expected = {
        {"mbr-primaries", {4, 1, 1, ExitDone}},        // 07, 0B, 83, 0C; /F 0B 0C
        {"chain-0f", {6, 3, 3, ExitDone}},             // 07, 0F + 83, 83, 0B; 83 on disk 2
        {"looping-chain", {4, 3, 3, ExitDone}},        // 05 + three EBRs, the loop cut
        {"past-4gib", {4, 3, 3, ExitDone}},            // 0F + two logicals, 07 above 4 GiB
        {"bad-id", {1, 1, 0, ExitNotApplied}},         // "G1" is refused, nothing written
        {"long-chain", {43, 41, 41, ExitDone}},        // 41 EBRs from one chunk
        {"label-one", {4, 1, 1, ExitDone}},            // /L through Windows and both boot sectors
        {"labels-by-id", {5, 2, 2, ExitDone}},         // /S on a primary and a logical
        {"window-edits", {5, 2, 2, ExitDone}},         // an ID and a label; EE refused in the window
        {"swapped-card", {4, 1, 0, ExitNotApplied}},   // another disk signature
        {"stale-entry", {4, 1, 0, ExitNotApplied}},    // the entry moved since the scan
        {"longer-card", {4, 1, 0, ExitNotApplied}},    // another size
        {"removed-card", {4, 1, 0, ExitNotApplied}},   // no medium for the label
        {"failed-write", {4, 1, 0, ExitNotApplied}},   // the write fails
        {"short-read", {0, 0, 0, ExitNotApplied}},     // the MBR never read in full
        {"failed-label", {5, 2, 0, ExitNotApplied}},   // Windows refuses every label
        {"foreign-names", {5, 1, 0, ExitNotApplied}},  // our letter redefined by someone else
        {"gpt-disk", {1, 1, 0, ExitNotApplied}},       // EE is never changed
        {"container-in-use", {2, 1, 0, ExitNotApplied}},
        {"help", {1, 0, 0, ExitDone}},
        {"no-such-row", {1, 0, 0, ExitInvalidCommand}},
        {"two-parameters", {1, 0, 0, ExitInvalidCommand}},
        {"missing-disk", {1, 1, 1, ExitNotApplied}},         // the registry counts three disks
        {"gpt-type", {6, 1, 1, ExitDone}},                   // EE + five GPT rows; one type in both copies
        {"gpt-by-code", {6, 2, 2, ExitDone}},                // both basic-data rows
        {"gpt-label", {6, 1, 1, ExitDone}},                  // a FAT32 volume in a GPT partition
        {"gpt-window", {6, 1, 1, ExitDone}},                 // FD00 taken; 4200 and "83" refused at once
        {"gpt-damaged-primary", {3, 1, 0, ExitNotApplied}},  // listed from the backup, not changed
        {"gpt-hybrid", {4, 1, 1, ExitDone}},                 // EE, two GPT rows, the 0C primary
        {"4k-chain", {4, 2, 2, ExitDone}},                   // 0C, 05 + two logicals at 4096 bytes a sector
        {"4k-label", {1, 1, 1, ExitDone}},
        {"4k-gpt", {4, 2, 2, ExitDone}},
        {"gpt-lower-case", {6, 3, 3, ExitDone}},         // "8e00", "a503", and "ef00" on an EF00 row
        {"fat16-by-count", {1, 1, 0, ExitNotApplied}},   // 65524 clusters: no FAT32 volume for Windows
        {"container-to-42", {5, 2, 0, ExitNotApplied}},  // an empty container and a full one, both refused
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
