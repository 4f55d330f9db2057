// Disks no partitioning tool writes: runaway and looping EBR chains, links off
// the disk, more rows than the tables hold, images too short for an MBR. Each
// goes through the whole start sequence of a window-mode run and through the
// image tool; each must end within a second, with at most 261 rows, and with
// nothing written.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <map>

#include "app/Session.h"
#include "fuzz/FuzzRun.h"
#include "platform/image/ImagePlatform.h"
#include "tests/reliability/ReliabilitySupport.h"
#include "tests/support/DiskImages.h"

namespace quorvane::test {
namespace {

using Clock = std::chrono::steady_clock;

// A disk built sector by sector.
struct HandDisk {
    uint64_t bytes = 0;
    std::map<uint64_t, std::array<uint8_t, 512>> sectors;

    void Entry(uint64_t sector, int slot, uint8_t type, uint32_t first, uint32_t count) {
        auto& data = sectors[sector];
        const std::vector<uint8_t> entry = EntryBytes(0, type, first, count);
        std::copy(entry.begin(), entry.end(), data.begin() + EntryPosition(0, slot));
        data[510] = 0x55;
        data[511] = 0xAA;
    }

    // A 0x0F container at `base` with `count` EBRs `step` sectors apart, each
    // holding a one-sector Linux partition and linking to the next; the last
    // links to `lastLink` (0 ends the chain).
    void Chain(uint32_t base, uint32_t count, uint32_t step, uint32_t lastLink) {
        Entry(0, 0, 0x0F, base, count * step + 1);
        for (uint32_t i = 0; i < count; ++i) {
            Entry(base + uint64_t{i} * step, 0, 0x83, 1, 1);
            Entry(base + uint64_t{i} * step, 1, 0x05, i + 1 < count ? (i + 1) * step : lastLink, step);
        }
    }

    SharedMemoryImage Memory() const {
        auto image = std::make_shared<MemoryImage>(bytes);
        for (const auto& [sector, data] : sectors) {
            const uint64_t at = sector * 512;
            if (at < bytes) image->WriteAt(at, data.data(), std::min<uint64_t>(512, bytes - at));
        }
        return image;
    }

    std::string File(const TempDir& dir, const std::string& name) const {
        const std::string path = MakeBlankImage(dir, name, bytes);
        std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
        for (const auto& [sector, data] : sectors) {
            if (sector * 512 >= bytes) continue;
            out.seekp(static_cast<std::streamoff>(sector * 512));
            out.write(reinterpret_cast<const char*>(data.data()),
                      static_cast<std::streamsize>(std::min<uint64_t>(512, bytes - sector * 512)));
        }
        if (!out) throw std::runtime_error("cannot write " + path);
        return path;
    }
};

double Milliseconds(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

// The whole start sequence in window mode, then the close: rows, time, and
// that no image changed and no temporary name stayed.
void ExpectHarmless(const std::string& name, const std::vector<HandDisk>& disks, int expectedRows) {
    std::vector<SharedMemoryImage> originals;
    std::vector<ImageSource> sources;
    for (const HandDisk& disk : disks) {
        originals.push_back(disk.Memory());
        sources.push_back({"", CopyImage(originals.back())});
    }
    ImagePlatform platform(sources);
    fuzz::QuietShell shell;
    Session session(platform, shell);
    const auto started = Clock::now();
    {
        Deadline deadline(20, name + " in a window-mode run");
        session.Start({});
        session.OnClose();
    }
    const double sessionMs = Milliseconds(Clock::now() - started);
    EXPECT_TRUE(shell.windowShown);
    EXPECT_EQ(session.Rows().Count(), expectedRows);
    EXPECT_LE(session.Rows().Count(), RowCapacity);
    EXPECT_LT(sessionMs, 1000);
    EXPECT_EQ(platform.CountCalls(PlatformCall::Write), 0u);
    for (size_t i = 0; i < disks.size(); ++i)
        EXPECT_TRUE(*sources[i].memory == *originals[i]) << "disk " << i;
    EXPECT_TRUE(platform.DosDevices().empty());

    TempDir dir;
    std::vector<std::string> files;
    for (size_t i = 0; i < disks.size(); ++i)
        files.push_back(disks[i].File(dir, "disk" + std::to_string(i) + ".img"));
    const Snapshot snapshot(files);
    std::vector<std::string> arguments{"--json"};
    arguments.insert(arguments.end(), files.begin(), files.end());
    const auto toolStarted = Clock::now();
    const CommandResult tool = RunImageTool(arguments);
    const double toolMs = Milliseconds(Clock::now() - toolStarted);
    ASSERT_EQ(tool.exitCode, 0) << tool.err;
    EXPECT_EQ(nlohmann::json::parse(tool.out).size(), static_cast<size_t>(expectedRows));
    EXPECT_LT(toolMs, 1000);
    EXPECT_TRUE(snapshot.Unchanged());
    std::printf("hostile disk: %s: %d rows; window-mode run %.1f ms, image tool %.1f ms\n", name.c_str(),
                session.Rows().Count(), sessionMs, toolMs);
}

constexpr uint64_t MiB = 1 << 20;

TEST(HostileDisks, ThousandEbrChainStopsAtTheTableSize) {
    HandDisk disk{2 * MiB, {}};
    disk.Chain(2048, 1000, 2, 0);
    ExpectHarmless("1000-EBR chain", {disk}, RowCapacity);  // the container and 260 logicals
}

TEST(HostileDisks, ChainLoopingAfterThreeHundredEntries) {
    HandDisk disk{2 * MiB, {}};
    disk.Chain(2048, 300, 2, 2);  // the 300th EBR links back to the second
    ExpectHarmless("chain looping after 300 EBRs", {disk}, RowCapacity);
}

TEST(HostileDisks, EbrLinkingToItself) {
    HandDisk disk{2 * MiB, {}};
    disk.Chain(2048, 2, 10, 10);  // the second EBR names itself as the next
    ExpectHarmless("EBR linking to itself", {disk}, 3);
}

TEST(HostileDisks, LinkPastTheEndOfTheDisk) {
    HandDisk disk{2 * MiB, {}};
    disk.Chain(2048, 1, 10, 0xFFFFFFF0u);  // about 2 TiB past a 2 MiB disk
    // The EBR out there reads as zeros: one row "00" whose zero link ends the chain.
    ExpectHarmless("link past the end of the disk", {disk}, 3);
}

TEST(HostileDisks, TwentySixDisksOfFifteenLogicalsFillTheTables) {
    std::vector<HandDisk> disks(26, HandDisk{1 * MiB, {}});
    for (HandDisk& disk : disks) disk.Chain(63, 15, 8, 0);
    ExpectHarmless("26 disks of 15 logicals (416 entries)", disks, RowCapacity);
}

TEST(HostileDisks, ImagesTooShortForAPartitionTable) {
    ExpectHarmless("zero-length image", {HandDisk{0, {}}}, 0);
    HandDisk hundred{100, {}};
    hundred.sectors[0].fill(0xFF);  // all it holds is cut off before the table
    ExpectHarmless("image of 100 bytes", {hundred}, 0);
}

}  // namespace
}  // namespace quorvane::test
