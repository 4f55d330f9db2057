#include "platform/image/ImageVolumes.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "scan/DiskFormat.h"
#include "text/Gbk.h"

namespace quorvane {

namespace {

constexpr uint32_t FatEndOfChain = 0x0FFFFFF8;

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
    Sector boot{};
    if (!LiesWholeOnDisk(extent.offset, SectorSize, image.Size()) ||
        image.ReadAt(extent.offset, boot.data(), boot.size()) != boot.size())
        return std::nullopt;
    const uint32_t bytesPerSector = LoadLe16(&boot[BpbBytesPerSector]);
    if (!PassesFat32Test(boot) || (bytesPerSector != SectorSize && bytesPerSector != LargeSectorSize))
        return std::nullopt;
    // The FAT driver mounts only a volume with its boot sector reserved, a
    // FAT, and room in the partition for every sector the boot sector counts.
    const uint32_t sectors16 = LoadLe16(&boot[BpbTotalSectors16]);
    const uint32_t sectors = sectors16 != 0 ? sectors16 : LoadLe32(&boot[BpbTotalSectors32]);
    if (LoadLe16(&boot[BpbReservedSectors]) == 0 || boot[BpbFatCount] == 0 || sectors == 0 ||
        uint64_t{sectors} * bytesPerSector > extent.length)
        return std::nullopt;
    Fat32Volume volume(image, extent);
    volume.bytesPerSector_ = bytesPerSector;
    volume.sectorsPerCluster_ = boot[BpbSectorsPerCluster];
    volume.reservedSectors_ = LoadLe16(&boot[BpbReservedSectors]);
    volume.fatCount_ = boot[BpbFatCount];
    volume.sectorsPerFat_ = LoadLe32(&boot[BpbSectorsPerFat32]);
    volume.rootCluster_ = LoadLe32(&boot[BpbRootCluster]);
    volume.fsInfoSector_ = LoadLe16(&boot[Fat32FsInfoSectorOffset]);
    volume.serialNumber_ = LoadLe32(&boot[Fat32SerialOffset]);
    if (volume.sectorsPerCluster_ == 0 || volume.rootCluster_ < 2) return std::nullopt;
    return volume;
}

std::optional<uint64_t> Fat32Volume::RootEntryPosition(uint32_t index) {
    const uint64_t clusterBytes = uint64_t{sectorsPerCluster_} * bytesPerSector_;
    const uint32_t entriesPerCluster = static_cast<uint32_t>(clusterBytes / DirEntrySize);
    const uint64_t fatStart = extent_.offset + uint64_t{reservedSectors_} * bytesPerSector_;
    const uint64_t dataStart = fatStart + uint64_t{fatCount_} * sectorsPerFat_ * bytesPerSector_;
    // A FAT directory holds at most 65536 entries; the bound also ends a
    // looping cluster chain.
    if (index >= 65536) return std::nullopt;
    uint32_t cluster = rootCluster_;
    for (uint32_t hops = index / entriesPerCluster; hops > 0; --hops) {
        uint8_t link[4] = {};
        if (image_->ReadAt(fatStart + uint64_t{cluster} * 4, link, 4) != 4) return std::nullopt;
        cluster = LoadLe32(link) & 0x0FFFFFFF;
        if (cluster < 2 || cluster >= FatEndOfChain) return std::nullopt;
    }
    return dataStart + uint64_t{cluster - 2} * clusterBytes +
           uint64_t{index % entriesPerCluster} * DirEntrySize;
}

std::string Fat32Volume::Label() {
    for (uint32_t index = 0;; ++index) {
        const auto position = RootEntryPosition(index);
        uint8_t entry[DirEntrySize] = {};
        if (!position || image_->ReadAt(*position, entry, DirEntrySize) != DirEntrySize) return {};
        if (entry[0] == DirEntryFree) return {};  // end of directory
        if (entry[0] == DirEntryDeleted || entry[DirEntryAttributes] == AttrLongName) continue;
        if ((entry[DirEntryAttributes] & AttrVolumeLabel) == 0) continue;
        std::string label(reinterpret_cast<const char*>(entry), Fat32LabelLength);
        if (entry[0] == DirEntryKanjiE5) label[0] = '\xE5';
        while (!label.empty() && label.back() == ' ') label.pop_back();
        return label;
    }
}

std::optional<uint64_t> Fat32Volume::FreeBytes() {
    Sector info{};
    const uint64_t position = extent_.offset + uint64_t{fsInfoSector_} * bytesPerSector_;
    if (fsInfoSector_ == 0 || image_->ReadAt(position, info.data(), info.size()) != info.size())
        return std::nullopt;
    if (LoadLe32(&info[FsInfoLeadSignatureOffset]) != FsInfoLeadSignature) return std::nullopt;
    const uint32_t freeClusters = LoadLe32(&info[FsInfoFreeClustersOffset]);
    if (freeClusters == FsInfoUnknownCount) return std::nullopt;
    return uint64_t{freeClusters} * sectorsPerCluster_ * bytesPerSector_;
}

std::optional<Fat32Volume::LabelSlot> Fat32Volume::FindLabelSlot() {
    std::optional<uint64_t> freeSlot;
    for (uint32_t index = 0;; ++index) {
        const auto position = RootEntryPosition(index);
        uint8_t entry[DirEntrySize] = {};
        if (!position || image_->ReadAt(*position, entry, DirEntrySize) != DirEntrySize) break;
        const bool endOfDirectory = entry[0] == DirEntryFree;
        if (endOfDirectory || entry[0] == DirEntryDeleted) {
            if (!freeSlot) freeSlot = *position;
            if (endOfDirectory) break;
            continue;
        }
        const uint8_t attributes = entry[DirEntryAttributes];
        if (attributes == AttrLongName || (attributes & AttrVolumeLabel) == 0) continue;
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
    if (label.size() > Fat32LabelLength || label.find_first_of("*?/\\|,;:+=<>[]\"") != std::string::npos ||
        std::any_of(label.begin(), label.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }))
        return false;
    // The FAT driver stores labels in upper case.
    std::string field = UpperCaseAscii(label);
    field.resize(Fat32LabelLength, ' ');
    // A name whose first byte is 0xE5 (a lead byte in code page 936) would
    // read as a deleted entry; FAT stores it as 0x05.
    if (field[0] == '\xE5') field[0] = static_cast<char>(DirEntryKanjiE5);
    const auto slot = FindLabelSlot();
    if (slot && slot->existing) {
        if (label.empty()) {
            const uint8_t deleted = DirEntryDeleted;
            return image_->WriteAt(slot->position, &deleted, 1);
        }
        return image_->WriteAt(slot->position, reinterpret_cast<const uint8_t*>(field.data()),
                               Fat32LabelLength);
    }
    if (label.empty()) return true;
    if (!slot) return false;  // root directory full: Windows would grow it; not emulated
    uint8_t entry[DirEntrySize] = {};
    std::memcpy(entry, field.data(), Fat32LabelLength);
    entry[DirEntryAttributes] = AttrVolumeLabel;
    return image_->WriteAt(slot->position, entry, DirEntrySize);
}

}  // namespace quorvane
