#include "scan/FatLabel.h"

#include "scan/DiskFormat.h"

#include <algorithm>
#include <vector>

namespace quorvane {

namespace {

constexpr uint32_t FatEndOfChain = 0x0FFFFFF8;
// A FAT directory holds at most 65536 entries; the bound also ends a looping
// cluster chain.
constexpr uint32_t MaxRootEntries = 65536;

bool IsPowerOfTwo(uint32_t value) {
    return value != 0 && (value & (value - 1)) == 0;
}

// Byte access through whole-sector reads, keeping the last sector read.
class ByteReader {
 public:
    explicit ByteReader(SectorDevice& device) : device_(device), sector_(device.LogicalSectorSize()) {}

    const uint8_t* At(uint64_t position, uint32_t count) {
        const uint64_t unit = sector_.size();
        const uint64_t sectorStart = position - position % unit;
        if (position - sectorStart + count > unit) return nullptr;  // callers never straddle
        if (cached_ != sectorStart) {
            uint32_t transferred = 0;
            if (!device_.Seek(sectorStart) || !device_.Read(sector_, transferred) || transferred != unit) {
                cached_ = None;
                return nullptr;
            }
            cached_ = sectorStart;
        }
        return sector_.data() + (position - sectorStart);
    }

 private:
    SectorDevice& device_;
    std::vector<uint8_t> sector_;
    // No sector starts at the last byte position.
    static constexpr uint64_t None = ~uint64_t{0};
    uint64_t cached_ = None;
};

struct FatLayout {
    uint64_t bytesPerSector = 0;
    uint64_t clusterBytes = 0;
    uint64_t fatStart = 0;       // byte position on the disk
    uint64_t rootStart = 0;      // FAT12/16: the fixed root directory
    uint32_t rootEntries = 0;    // FAT12/16
    uint64_t dataStart = 0;      // FAT32: cluster 2
    uint32_t rootCluster = 0;    // FAT32; 0 on FAT12/16
};

// The fields a FAT driver checks before it mounts a volume.
std::optional<FatLayout> ReadLayout(const uint8_t* boot, uint64_t start) {
    if (boot[0] != 0xEB && boot[0] != 0xE9) return std::nullopt;
    const uint32_t bytesPerSector = LoadLe16(boot + BpbBytesPerSector);
    const uint32_t sectorsPerCluster = boot[BpbSectorsPerCluster];
    const uint32_t reserved = LoadLe16(boot + BpbReservedSectors);
    const uint32_t fats = boot[BpbFatCount];
    if (bytesPerSector < 512 || bytesPerSector > 4096 || !IsPowerOfTwo(bytesPerSector) ||
        !IsPowerOfTwo(sectorsPerCluster) || reserved == 0 || fats == 0)
        return std::nullopt;
    FatLayout layout;
    layout.bytesPerSector = bytesPerSector;
    layout.clusterBytes = uint64_t{bytesPerSector} * sectorsPerCluster;
    layout.fatStart = start + uint64_t{reserved} * bytesPerSector;
    const uint32_t rootEntries = LoadLe16(boot + BpbRootEntries);
    const uint32_t fatSize16 = LoadLe16(boot + BpbSectorsPerFat16);
    if (rootEntries == 0 && fatSize16 == 0) {  // FAT32
        const uint32_t fatSize = LoadLe32(boot + BpbSectorsPerFat32);
        layout.rootCluster = LoadLe32(boot + BpbRootCluster);
        if (fatSize == 0 || layout.rootCluster < 2) return std::nullopt;
        layout.dataStart = layout.fatStart + uint64_t{fats} * fatSize * bytesPerSector;
    } else {
        if (rootEntries == 0 || fatSize16 == 0) return std::nullopt;
        layout.rootEntries = rootEntries;
        layout.rootStart = layout.fatStart + uint64_t{fats} * fatSize16 * bytesPerSector;
    }
    return layout;
}

// Byte position of root directory entry `index`, following the FAT32 root's
// cluster chain one hop at a time as the index crosses clusters.
class RootDirectory {
 public:
    RootDirectory(ByteReader& reader, const FatLayout& layout)
        : reader_(reader), layout_(layout), cluster_(layout.rootCluster) {}

    std::optional<uint64_t> EntryPosition(uint32_t index) {
        if (layout_.rootCluster == 0) {
            if (index >= layout_.rootEntries) return std::nullopt;
            return layout_.rootStart + uint64_t{index} * DirEntrySize;
        }
        const uint64_t perCluster = layout_.clusterBytes / DirEntrySize;
        if (index != 0 && index % perCluster == 0) {
            const uint8_t* link = reader_.At(layout_.fatStart + uint64_t{cluster_} * 4, 4);
            if (!link) return std::nullopt;
            cluster_ = LoadLe32(link) & 0x0FFFFFFF;
            if (cluster_ < 2 || cluster_ >= FatEndOfChain) return std::nullopt;
        }
        return layout_.dataStart + uint64_t{cluster_ - 2} * layout_.clusterBytes +
               (index % perCluster) * DirEntrySize;
    }

 private:
    ByteReader& reader_;
    const FatLayout& layout_;
    uint32_t cluster_;
};

}  // namespace

std::optional<std::string> ReadFatRootLabel(SectorDevice& device, uint64_t partitionStart) {
    ByteReader reader(device);
    const uint8_t* boot = reader.At(partitionStart, SectorSize);
    if (!boot) return std::nullopt;
    Sector head{};
    std::copy_n(boot, SectorSize, head.begin());
    if (IsBitLockerBootSector(head)) return std::nullopt;  // only Windows can show its label
    const auto layout = ReadLayout(boot, partitionStart);
    if (!layout) return std::nullopt;
    RootDirectory root(reader, *layout);
    for (uint32_t index = 0; index < MaxRootEntries; ++index) {
        const auto position = root.EntryPosition(index);
        if (!position) break;
        const uint8_t* entry = reader.At(*position, DirEntrySize);
        if (!entry) return std::nullopt;
        if (entry[0] == DirEntryFree) break;
        const uint8_t attributes = entry[DirEntryAttributes];
        if (entry[0] == DirEntryDeleted || (attributes & AttrLongNameMask) == AttrLongName ||
            (attributes & AttrVolumeLabel) == 0)
            continue;
        std::string label(reinterpret_cast<const char*>(entry), Fat32LabelLength);
        if (entry[0] == DirEntryKanjiE5) label[0] = static_cast<char>(DirEntryDeleted);
        while (!label.empty() && label.back() == ' ') label.pop_back();
        return label;
    }
    return std::string{};
}

}  // namespace quorvane
