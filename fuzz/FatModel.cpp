#include "fuzz/FatModel.h"

#include <algorithm>
#include <cstdio>

#include "fuzz/Oracle.h"

namespace quorvane::fuzz {

namespace {

uint64_t Le(const uint8_t* p, int bytes) {
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = value << 8 | p[i];
    return value;
}

bool PowerOfTwo(uint64_t value) {
    return value != 0 && (value & (value - 1)) == 0;
}

constexpr size_t EntryBytes = 32;

// Directory entry `index` of the root directory, following its cluster
// chain in the first FAT; nullopt past its end. A directory holds at most
// 65536 entries, which also ends a chain that loops.
std::optional<uint64_t> RootEntry(const MemoryImage& image, const FatVolume& v, uint32_t index) {
    const uint64_t clusterBytes = uint64_t{v.sectorsPerCluster} * v.bytesPerSector;
    const uint64_t perCluster = clusterBytes / EntryBytes;
    const uint64_t fat = v.start + v.ReservedBytes();
    const uint64_t data = fat + v.fats * v.fatSectors * v.bytesPerSector;
    if (index >= 65536) return std::nullopt;
    uint64_t cluster = v.rootCluster;
    for (uint64_t hops = index / perCluster; hops > 0; --hops) {
        uint8_t link[4] = {};
        if (image.ReadAt(fat + cluster * 4, link, 4) != 4) return std::nullopt;
        cluster = Le(link, 4) & 0x0FFFFFFF;
        if (cluster < 2 || cluster >= 0x0FFFFFF8) return std::nullopt;  // free, reserved or end of chain
    }
    return data + (cluster - 2) * clusterBytes + index % perCluster * EntryBytes;
}

struct Entry {
    uint64_t position = 0;
    uint8_t bytes[EntryBytes] = {};
};

// Calls `visit` with each entry up to the end of the directory (a first
// byte of 0) or of its chain; stops when `visit` returns true.
template <typename Visit>
void EachRootEntry(const MemoryImage& image, const FatVolume& volume, Visit visit) {
    for (uint32_t index = 0;; ++index) {
        Entry entry;
        const auto position = RootEntry(image, volume, index);
        if (!position || image.ReadAt(*position, entry.bytes, EntryBytes) != EntryBytes) return;
        entry.position = *position;
        if (visit(entry) || entry.bytes[0] == 0x00) return;
    }
}

// A label entry: in use (not deleted, 0xE5), not a long-name piece
// (attributes 0x0F), with the volume-id attribute (0x08).
bool IsLabelEntry(const Entry& entry) {
    const uint8_t attributes = entry.bytes[11];
    return entry.bytes[0] != 0x00 && entry.bytes[0] != 0xE5 && attributes != 0x0F && (attributes & 0x08) != 0;
}

std::string Trimmed(std::string label) {
    while (!label.empty() && label.back() == ' ') label.pop_back();
    return label;
}

}  // namespace

std::optional<FatVolume> MountFat32(const MemoryImage& image, uint64_t start, uint64_t length) {
    uint8_t boot[512] = {};
    if (start > image.Size() || image.Size() - start < sizeof boot ||
        image.ReadAt(start, boot, sizeof boot) != sizeof boot)
        return std::nullopt;
    FatVolume v;
    v.start = start;
    v.length = length;
    v.bytesPerSector = static_cast<uint32_t>(Le(boot + 11, 2));
    v.sectorsPerCluster = boot[13];
    v.reserved = static_cast<uint32_t>(Le(boot + 14, 2));
    v.fats = boot[16];
    const uint64_t rootEntries = Le(boot + 17, 2);
    const uint64_t total = Le(boot + 19, 2) != 0 ? Le(boot + 19, 2) : Le(boot + 32, 4);
    v.fatSectors = Le(boot + 22, 2) != 0 ? Le(boot + 22, 2) : Le(boot + 36, 4);
    v.rootCluster = static_cast<uint32_t>(Le(boot + 44, 4));
    v.serial = static_cast<uint32_t>(Le(boot + 67, 4));
    if (!PowerOfTwo(v.bytesPerSector) || v.bytesPerSector < 512 || v.bytesPerSector > 4096 ||
        !PowerOfTwo(v.sectorsPerCluster) || v.sectorsPerCluster > 128 || v.reserved == 0 || v.fats == 0 ||
        total == 0 || total * v.bytesPerSector > length || v.rootCluster < 2)
        return std::nullopt;
    const uint64_t rootSectors = (rootEntries * EntryBytes + v.bytesPerSector - 1) / v.bytesPerSector;
    const uint64_t overhead = v.reserved + v.fats * v.fatSectors + rootSectors;
    if (total <= overhead || (total - overhead) / v.sectorsPerCluster < 65525) return std::nullopt;
    return v;
}

std::string ReportedLabel(const MemoryImage& image, const FatVolume& volume) {
    std::string label;
    EachRootEntry(image, volume, [&](const Entry& entry) {
        if (!IsLabelEntry(entry)) return false;
        label.assign(reinterpret_cast<const char*>(entry.bytes), 11);
        if (entry.bytes[0] == 0x05) label[0] = '\xE5';  // 0x05 stands for a first byte of 0xE5
        return true;
    });
    return Trimmed(label);
}

std::optional<LabelSlot> FindLabelSlot(const MemoryImage& image, const FatVolume& volume) {
    std::optional<LabelSlot> found, free;
    EachRootEntry(image, volume, [&](const Entry& entry) {
        if (IsLabelEntry(entry)) {
            found = LabelSlot{entry.position, true};
            return true;
        }
        if (!free && (entry.bytes[0] == 0x00 || entry.bytes[0] == 0xE5))
            free = LabelSlot{entry.position, false};
        return false;
    });
    return found ? found : free;
}

std::optional<std::string> LabelAfterSet(const MemoryImage& image, const FatVolume& volume,
                                         const std::string& label) {
    // The characters no FAT name may hold, control characters among them.
    const std::string forbidden = "*?/\\|,;:+=<>[]\"";
    if (label.size() > 11 || std::any_of(label.begin(), label.end(), [&](char c) {
            return static_cast<unsigned char>(c) < 0x20 || forbidden.find(c) != std::string::npos;
        }))
        return std::nullopt;
    const auto slot = FindLabelSlot(image, volume);
    if (!label.empty() && !slot) return std::nullopt;  // a full root directory is not grown here
    return Trimmed(UpperGbk(label));
}

bool ParseTarget(const std::string& target, uint32_t& drive, uint32_t& partition) {
    unsigned d = 0, p = 0;
    int end = 0;
    if (std::sscanf(target.c_str(), "\\Device\\Harddisk%u\\Partition%u%n", &d, &p, &end) != 2 ||
        static_cast<size_t>(end) != target.size())
        return false;
    drive = d;
    partition = p;
    return true;
}

}  // namespace quorvane::fuzz
