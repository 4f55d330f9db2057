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

// The seeds are the fuzzer's starting points: each must build the disks it was
// made for, or the fuzzer starts from nothing.
TEST(FuzzReplay, SeedsBuildTheirDisksAndKeepEveryPromise) {
    struct Shape {
        int rows;
        int requested;
        int exitCode;
    };
    const std::map<std::string, Shape> expected = {
        {"mbr-primaries", {4, 1, ExitDone}},  // 07, 0B, 83, 0C; /F 0B 0C
        {"chain-0f", {6, 3, ExitDone}},       // 07, 0F + 83, 83, 0B; 83 on disk 2
        {"looping-chain", {4, 3, ExitDone}},  // 05 + three EBRs, the loop cut
        {"past-4gib", {4, 3, ExitDone}},      // 0F + two logicals, 07 above 4 GiB
        {"bad-id", {1, 1, ExitNotApplied}},   // "G1" is refused, nothing written
    };
    const fs::path dir = fs::path(QUORVANE_SOURCE_DIR) / "fuzz" / "corpus";
    for (const auto& [name, shape] : expected) {
        SCOPED_TRACE(name);
        const fuzz::FuzzOutcome outcome = Replay(dir / name);
        ExpectNoViolation(dir / name, outcome);
        EXPECT_EQ(outcome.rows, shape.rows);
        EXPECT_EQ(outcome.requestedRows, shape.requested);
        EXPECT_EQ(outcome.exitCode, shape.exitCode);
    }
}

// Every input the fuzzer ever stopped on. no-op-id-in-cut-mbr: "/F 05 5" on a
// 500-byte disk whose MBR runs into the cut: a sector that does not lie whole
// on the disk cannot be read, so the disk gives no rows and the run cannot
// say it reached every 05 (exit 1); nothing changes.
TEST(FuzzReplay, FindingsStayFixed) {
    const fs::path dir = fs::path(QUORVANE_SOURCE_DIR) / "fuzz" / "regressions";
    if (!fs::exists(dir)) return;
    for (const auto& file : fs::directory_iterator(dir)) {
        if (!file.is_regular_file() || file.path().filename().string().starts_with(".")) continue;
        SCOPED_TRACE(file.path().filename().string());
        const fuzz::FuzzOutcome outcome = Replay(file.path());
        ExpectNoViolation(file.path(), outcome);
        if (file.path().filename() == "no-op-id-in-cut-mbr") {
            EXPECT_EQ(outcome.requestedRows, 0);
            EXPECT_EQ(outcome.exitCode, ExitNotApplied);
        }
    }
}

}  // namespace
}  // namespace quorvane
