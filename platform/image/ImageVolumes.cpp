#include "platform/image/ImageVolumes.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace quorvane {

// The FAT driver's reading of a volume, written from Microsoft's FAT32
// white paper (version 1.03) alone: the backend is one of the checks of the
// program's own FAT code, so it shares none of it, not even its offsets.
namespace {

// The BIOS parameter block of the boot sector, and the FAT32 extension.
constexpr uint32_t BytesPerSectorAt = 0x0B;     // 16-bit
constexpr uint32_t SectorsPerClusterAt = 0x0D;  // 8-bit
constexpr uint32_t ReservedSectorsAt = 0x0E;    // 16-bit
constexpr uint32_t FatCountAt = 0x10;           // 8-bit
constexpr uint32_t RootEntryCountAt = 0x11;     // 16-bit, 0 on FAT32
constexpr uint32_t TotalSectors16At = 0x13;     // 16-bit, 0 when the count needs 32 bits
constexpr uint32_t FatSize16At = 0x16;          // 16-bit, 0 on FAT32
constexpr uint32_t TotalSectors32At = 0x20;     // 32-bit
constexpr uint32_t FatSize32At = 0x24;          // 32-bit
constexpr uint32_t RootClusterAt = 0x2C;        // 32-bit
constexpr uint32_t FsInfoSectorAt = 0x30;       // 16-bit
constexpr uint32_t SerialNumberAt = 0x43;       // 32-bit
constexpr uint32_t LabelLength = 11;

// FSInfo: a lead signature and the count of free clusters.
constexpr uint32_t FsInfoLeadSignature = 0x41615252;  // "RRaA" at 0
constexpr uint32_t FsInfoFreeCountAt = 488;
constexpr uint32_t FsInfoUnknown = 0xFFFFFFFF;

// Directory entries: 32 bytes; the name's first byte says free (0x00: this
// and all that follow), deleted (0xE5), or 0x05 for a name that begins with
// 0xE5; the attribute byte sits at 11.
constexpr uint32_t EntrySize = 32;
constexpr uint32_t AttributesAt = 11;
constexpr uint8_t AttributeVolumeId = 0x08;
constexpr uint8_t AttributeLongName = 0x0F;
constexpr uint8_t EndOfDirectory = 0x00;
constexpr uint8_t Deleted = 0xE5;
constexpr uint8_t StandsForE5 = 0x05;

constexpr uint32_t FatEndOfChain = 0x0FFFFFF8;

// "FAT Type Determination" in the white paper: the count of data
// clusters alone decides the type, never the "FAT32" text of the boot
// sector: below 4085 FAT12, below 65525 FAT16, else FAT32.
constexpr uint64_t LeastFat32Clusters = 65525;

uint32_t Le16(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8;
}
uint32_t Le32(const uint8_t* p) {
    return Le16(p) | Le16(p + 2) << 16;
}

bool PowerOfTwo(uint32_t value) {
    return value != 0 && (value & (value - 1)) == 0;
}

// The FAT driver upper-cases a label in the OEM code page (936 here): the
// letters a to z, never a byte of a double-byte character (lead bytes 0x81
// to 0xFE and whatever byte follows).
std::string UpperCaseOem(const std::string& label) {
    std::string upper = label;
    for (size_t i = 0; i < upper.size(); ++i) {
        const auto byte = static_cast<unsigned char>(upper[i]);
        if (byte >= 0x81 && byte <= 0xFE)
            ++i;
        else if (byte >= 'a' && byte <= 'z')
            upper[i] = static_cast<char>(byte - 'a' + 'A');
    }
    return upper;
}

}  // namespace

bool ParsePartitionTarget(const std::string& target, uint32_t& drive, uint32_t& partition) {
    unsigned d = 0, p = 0;
    int consumed = 0;
    if (std::sscanf(target.c_str(), "\\Device\\Harddisk%u\\Partition%u%n", &d, &p, &consumed) != 2 ||
        static_cast<size_t>(consumed) != target.size())
        return false;
    drive = d;
    partition = p;
    return true;
}

std::optional<Fat32Volume> Fat32Volume::Open(ImageFile& image, const PartitionExtent& extent) {
    uint8_t boot[512] = {};
    if (!LiesWholeOnDisk(extent.offset, sizeof boot, image.Size()) ||
        image.ReadAt(extent.offset, boot, sizeof boot) != sizeof boot)
        return std::nullopt;
    // The values the white paper allows; the FAT driver mounts nothing
    // else, nor a volume without a reserved area and a FAT, nor one that
    // counts more sectors than its partition holds.
    const uint32_t bytesPerSector = Le16(&boot[BytesPerSectorAt]);
    const uint32_t sectorsPerCluster = boot[SectorsPerClusterAt];
    const uint32_t reserved = Le16(&boot[ReservedSectorsAt]);
    const uint32_t fatCount = boot[FatCountAt];
    const uint32_t total16 = Le16(&boot[TotalSectors16At]);
    const uint64_t total = total16 != 0 ? total16 : Le32(&boot[TotalSectors32At]);
    const uint32_t fatSize16 = Le16(&boot[FatSize16At]);
    const uint64_t fatSize = fatSize16 != 0 ? fatSize16 : Le32(&boot[FatSize32At]);
    if (bytesPerSector < 512 || bytesPerSector > 4096 || !PowerOfTwo(bytesPerSector) ||
        !PowerOfTwo(sectorsPerCluster) || sectorsPerCluster > 128 || reserved == 0 || fatCount == 0 ||
        total == 0 || total * bytesPerSector > extent.length)
        return std::nullopt;
    const uint64_t rootDirSectors =
        (uint64_t{Le16(&boot[RootEntryCountAt])} * EntrySize + bytesPerSector - 1) / bytesPerSector;
    const uint64_t metadata = reserved + fatCount * fatSize + rootDirSectors;
    if (total <= metadata || (total - metadata) / sectorsPerCluster < LeastFat32Clusters) return std::nullopt;
    Fat32Volume volume(image, extent);
    volume.bytesPerSector_ = bytesPerSector;
    volume.sectorsPerCluster_ = sectorsPerCluster;
    volume.reservedSectors_ = reserved;
    volume.fatCount_ = fatCount;
    volume.sectorsPerFat_ = static_cast<uint32_t>(fatSize);
    volume.rootCluster_ = Le32(&boot[RootClusterAt]);
    volume.fsInfoSector_ = Le16(&boot[FsInfoSectorAt]);
    volume.serialNumber_ = Le32(&boot[SerialNumberAt]);
    if (volume.rootCluster_ < 2) return std::nullopt;
    return volume;
}

std::optional<uint64_t> Fat32Volume::RootEntryPosition(uint32_t index) {
    const uint64_t clusterBytes = uint64_t{sectorsPerCluster_} * bytesPerSector_;
    const uint32_t entriesPerCluster = static_cast<uint32_t>(clusterBytes / EntrySize);
    const uint64_t fatStart = extent_.offset + uint64_t{reservedSectors_} * bytesPerSector_;
    const uint64_t dataStart = fatStart + uint64_t{fatCount_} * sectorsPerFat_ * bytesPerSector_;
    // A FAT directory holds at most 65536 entries; the bound also ends a
    // looping cluster chain.
    if (index >= 65536) return std::nullopt;
    uint32_t cluster = rootCluster_;
    for (uint32_t hops = index / entriesPerCluster; hops > 0; --hops) {
        uint8_t link[4] = {};
        if (image_->ReadAt(fatStart + uint64_t{cluster} * 4, link, 4) != 4) return std::nullopt;
        cluster = Le32(link) & 0x0FFFFFFF;
        if (cluster < 2 || cluster >= FatEndOfChain) return std::nullopt;
    }
    return dataStart + uint64_t{cluster - 2} * clusterBytes + uint64_t{index % entriesPerCluster} * EntrySize;
}

std::string Fat32Volume::Label() {
    for (uint32_t index = 0;; ++index) {
        const auto position = RootEntryPosition(index);
        uint8_t entry[EntrySize] = {};
        if (!position || image_->ReadAt(*position, entry, EntrySize) != EntrySize) return {};
        if (entry[0] == EndOfDirectory) return {};  // end of directory
        if (entry[0] == Deleted || entry[AttributesAt] == AttributeLongName) continue;
        if ((entry[AttributesAt] & AttributeVolumeId) == 0) continue;
        std::string label(reinterpret_cast<const char*>(entry), LabelLength);
        if (entry[0] == StandsForE5) label[0] = '\xE5';
        while (!label.empty() && label.back() == ' ') label.pop_back();
        return label;
    }
}

std::optional<uint64_t> Fat32Volume::FreeBytes() {
    uint8_t info[512] = {};
    const uint64_t position = extent_.offset + uint64_t{fsInfoSector_} * bytesPerSector_;
    if (fsInfoSector_ == 0 || image_->ReadAt(position, info, sizeof info) != sizeof info) return std::nullopt;
    if (Le32(info) != FsInfoLeadSignature) return std::nullopt;
    const uint32_t freeClusters = Le32(&info[FsInfoFreeCountAt]);
    if (freeClusters == FsInfoUnknown) return std::nullopt;
    return uint64_t{freeClusters} * sectorsPerCluster_ * bytesPerSector_;
}

std::optional<Fat32Volume::LabelSlot> Fat32Volume::FindLabelSlot() {
    std::optional<uint64_t> freeSlot;
    for (uint32_t index = 0;; ++index) {
        const auto position = RootEntryPosition(index);
        uint8_t entry[EntrySize] = {};
        if (!position || image_->ReadAt(*position, entry, EntrySize) != EntrySize) break;
        const bool endOfDirectory = entry[0] == EndOfDirectory;
        if (endOfDirectory || entry[0] == Deleted) {
            if (!freeSlot) freeSlot = *position;
            if (endOfDirectory) break;
            continue;
        }
        const uint8_t attributes = entry[AttributesAt];
        if (attributes == AttributeLongName || (attributes & AttributeVolumeId) == 0) continue;
        return LabelSlot{*position, true};
    }
    if (!freeSlot) return std::nullopt;
    return LabelSlot{*freeSlot, false};
}

std::optional<uint64_t> Fat32Volume::LabelEntryPosition() {
    const auto slot = FindLabelSlot();
    if (!slot) return std::nullopt;
    return slot->position;
}

bool Fat32Volume::SetLabel(const std::string& label) {
    // The FAT driver refuses the characters no FAT name may hold, control
    // characters among them (ERROR_INVALID_NAME).
    if (label.size() > LabelLength || label.find_first_of("*?/\\|,;:+=<>[]\"") != std::string::npos ||
        std::any_of(label.begin(), label.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }))
        return false;
    // The FAT driver stores labels in upper case.
    std::string field = UpperCaseOem(label);
    field.resize(LabelLength, ' ');
    // A name whose first byte is 0xE5 (a lead byte in code page 936) would
    // read as a deleted entry; FAT stores it as 0x05.
    if (field[0] == '\xE5') field[0] = static_cast<char>(StandsForE5);
    const auto slot = FindLabelSlot();
    if (slot && slot->existing) {
        if (label.empty()) {
            const uint8_t deleted = Deleted;
            return image_->WriteAt(slot->position, &deleted, 1);
        }
        return image_->WriteAt(slot->position, reinterpret_cast<const uint8_t*>(field.data()), LabelLength);
    }
    if (label.empty()) return true;
    if (!slot) return false;  // root directory full: Windows would grow it; not emulated
    uint8_t entry[EntrySize] = {};
    std::memcpy(entry, field.data(), LabelLength);
    entry[AttributesAt] = AttributeVolumeId;
    return image_->WriteAt(slot->position, entry, EntrySize);
}

}  // namespace quorvane
