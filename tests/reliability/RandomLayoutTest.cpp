// Random MBR/EBR layouts written by sfdisk: the rows of quorvane-image --json
// must agree with sfdisk --json on every partition's ID, start, size, kind and
// Windows numbering. The seed is fixed (QUORVANE_LAYOUT_SEED and
// QUORVANE_LAYOUT_COUNT override it and the count of 200) and printed with
// every failure, with the sfdisk script that made the disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <set>
#include <sstream>

#include "tests/support/DiskImages.h"
#include "tests/support/SfdiskRows.h"

namespace quorvane::test {
namespace {

using nlohmann::json;

struct DiskLayout {
    std::string name;
    uint64_t bytes = 0;
    std::string script;  // sfdisk input, partitions named by their number
    size_t rows = 0;     // rows the program shows for it
};

// A partition ID that sfdisk and the program both take as a plain partition.
uint8_t RandomType(std::mt19937_64& random) {
    static constexpr uint8_t Types[] = {0x01, 0x04, 0x06, 0x07, 0x0B, 0x0C, 0x0E, 0x11,
                                        0x12, 0x16, 0x17, 0x1B, 0x1C, 0x27, 0x42, 0x82,
                                        0x83, 0x8E, 0xA5, 0xBC, 0xDA, 0xDE, 0xFB, 0xFD};
    return Types[random() % std::size(Types)];
}

// Sizes around whole, half and odd MB, so every rounding case comes up.
uint64_t RandomSize(std::mt19937_64& random) {
    static constexpr uint64_t Special[] = {1,    1023, 1024, 1025, 2047, 2048,
                                           2049, 3072, 5120, 7168, 6143, 9216};
    if (random() % 2) return Special[random() % std::size(Special)];
    return 1 + random() % 8192;
}

std::string Hex(unsigned value) {
    std::ostringstream out;
    out << std::hex << value;
    return out.str();
}

DiskLayout RandomDisk(std::mt19937_64& random, const std::string& name) {
    DiskLayout disk{name, 0, "", 0};
    const int used = static_cast<int>(random() % 5);  // 0 to 4 slots
    std::vector<int> slots{1, 2, 3, 4};
    std::shuffle(slots.begin(), slots.end(), random);
    slots.resize(static_cast<size_t>(used));
    // At most one container (sfdisk writes one per disk); its slot is random,
    // and the slots lie on the disk in random order, not in slot order.
    const int container = used > 0 && random() % 3 != 0 ? slots[random() % slots.size()] : 0;
    uint64_t cursor = 1 + random() % 2048;
    std::ostringstream script;
    for (const int slot : slots) {
        const bool boot = random() % 5 == 0;
        cursor += random() % 64;
        if (slot != container) {
            const uint64_t size = RandomSize(random);
            script << name << slot << " : start=" << cursor << ", size=" << size
                   << ", type=" << Hex(RandomType(random)) << (boot ? ", bootable" : "") << "\n";
            cursor += size;
            ++disk.rows;
            continue;
        }
        const int logicals = static_cast<int>(random() % 21);
        const uint64_t start = cursor;
        std::ostringstream inner;
        uint64_t at = start;  // the next EBR
        for (int logical = 0; logical < logicals; ++logical) {
            const uint64_t gap = 1 + random() % 63;  // from the EBR to its partition
            const uint64_t size = RandomSize(random);
            inner << name << 5 + logical << " : start=" << at + gap << ", size=" << size
                  << ", type=" << Hex(RandomType(random)) << (random() % 6 == 0 ? ", bootable" : "") << "\n";
            at += gap + size + random() % 8;
        }
        const uint64_t size = at - start + 1 + random() % 100;
        script << name << slot << " : start=" << start << ", size=" << size
               << ", type=" << (random() % 2 ? "5" : "f") << (boot ? ", bootable" : "") << "\n"
               << inner.str();
        cursor = start + size;
        // An empty container's first EBR is a zero table: one logical row "00".
        disk.rows += 1 + std::max(logicals, 1);
    }
    disk.script = script.str();
    disk.bytes = ((cursor + 4096) / 2048 + 1) * 2048 * 512;
    return disk;
}

json Selected(const json& row) {
    json out;
    for (const char* key : {"disk", "partition", "id", "kind", "size_mb", "start", "windows_partition"})
        out[key] = row[key];
    return out;
}

uint64_t EnvNumber(const char* name, uint64_t fallback) {
    const char* text = std::getenv(name);
    return text && *text ? std::strtoull(text, nullptr, 10) : fallback;
}

TEST(RandomLayouts, ImageToolAgreesWithSfdisk) {
    const uint64_t seed = EnvNumber("QUORVANE_LAYOUT_SEED", 20261207);
    const uint64_t count = EnvNumber("QUORVANE_LAYOUT_COUNT", 200);
    std::mt19937_64 random(seed);
    uint64_t disks = 0, rows = 0;
    std::set<uint64_t> disagreed;

    // Several layouts share one tool run, as long as their rows fit the tables.
    for (uint64_t layout = 0; layout < count;) {
        TempDir dir;
        std::vector<std::string> images;
        std::vector<std::pair<uint64_t, DiskLayout>> batch;  // layout number, disk
        size_t batchRows = 0;
        for (; layout < count; ++layout) {
            std::mt19937_64 peek = random;
            const int diskCount = 1 + static_cast<int>(peek() % 3);
            std::vector<DiskLayout> layoutDisks;
            size_t layoutRows = 0;
            for (int d = 0; d < diskCount; ++d) {
                layoutDisks.push_back(
                    RandomDisk(peek, "l" + std::to_string(layout) + "d" + std::to_string(d) + ".img"));
                layoutRows += layoutDisks.back().rows;
            }
            if (batchRows + layoutRows > 200 && !batch.empty()) break;
            random = peek;
            batchRows += layoutRows;
            for (DiskLayout& disk : layoutDisks) {
                // sfdisk names a partition by the image path and its number.
                std::string script;
                std::istringstream lines(disk.script);
                for (std::string line; std::getline(lines, line);) script += dir.File("") + line + "\n";
                images.push_back(MakeImage(dir, disk.name, disk.bytes, script));
                batch.push_back({layout, disk});
            }
        }

        const json tool = ImageToolJson(images);
        for (size_t index = 0; index < images.size(); ++index) {
            const auto& [number, disk] = batch[index];
            const json expected = RowsFromSfdisk(images[index], static_cast<int>(index) + 1);
            json shown = json::array();
            for (const json& row : tool)
                if (row["disk"] == std::to_string(index + 1)) shown.push_back(Selected(row));
            EXPECT_EQ(shown, expected) << "seed " << seed << ", layout " << number << ", sfdisk script:\n"
                                       << disk.script;
            EXPECT_EQ(shown.size(), disk.rows) << "seed " << seed << ", layout " << number;
            if (shown != expected || shown.size() != disk.rows) disagreed.insert(number);
            ++disks;
            rows += shown.size();
        }
    }
    std::printf("random layouts: %llu of %llu agreed with sfdisk (seed %llu; %llu disks, %llu rows)\n",
                static_cast<unsigned long long>(count - disagreed.size()),
                static_cast<unsigned long long>(count), static_cast<unsigned long long>(seed),
                static_cast<unsigned long long>(disks), static_cast<unsigned long long>(rows));
}

}  // namespace
}  // namespace quorvane::test
