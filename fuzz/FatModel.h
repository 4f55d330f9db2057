// The checker's own reading of what Windows makes of a FAT32 volume: whether
// it mounts it, its serial number, the label it reports, and what a label
// change does to it. Written from Microsoft's FAT32 white paper alone, apart from the
// program and from the image backend's model of the FAT driver, so a fault
// in either shows as a disagreement.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/image/MemoryImage.h"

namespace quorvane::fuzz {

struct FatVolume {
    uint64_t start = 0, length = 0;  // bytes on the disk
    uint32_t bytesPerSector = 0, sectorsPerCluster = 0, reserved = 0, fats = 0, rootCluster = 0, serial = 0;
    uint64_t fatSectors = 0;
    uint64_t ReservedBytes() const { return uint64_t{reserved} * bytesPerSector; }
};

// The volume Windows mounts as FAT32 in the partition at `start`, `length`
// bytes long: a BPB with the values the white paper allows, a reserved
// area, a FAT, room in the partition, and at least 65525 clusters (the
// white paper's "FAT Type Determination": the cluster count alone makes
// a volume FAT32).
std::optional<FatVolume> MountFat32(const MemoryImage& image, uint64_t start, uint64_t length);

// The label Windows reports: the root directory's label entry without its
// trailing blanks; empty without one.
std::string ReportedLabel(const MemoryImage& image, const FatVolume& volume);

// Where a label change writes: the root directory's label entry, else the
// first free slot; nullopt when neither is found.
struct LabelSlot {
    uint64_t position = 0;
    bool existing = false;
};
std::optional<LabelSlot> FindLabelSlot(const MemoryImage& image, const FatVolume& volume);

// What Windows reports after SetVolumeLabel(label) on the volume; nullopt
// when the FAT driver refuses it (longer than 11 bytes, a character no FAT
// name may hold, or no slot for a new entry).
std::optional<std::string> LabelAfterSet(const MemoryImage& image, const FatVolume& volume,
                                         const std::string& label);

// "\Device\Harddisk<d>\Partition<n>".
bool ParseTarget(const std::string& target, uint32_t& drive, uint32_t& partition);

}  // namespace quorvane::fuzz
