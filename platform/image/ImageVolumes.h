// What Windows makes of the volumes on an image: the partition a DOS device
// name targets and, for FAT32, the label and free space the file system reports.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/image/ImageFile.h"
#include "platform/image/WindowsPartitions.h"

namespace quorvane {

// Parses "\Device\Harddisk<d>\Partition<n>".
bool ParsePartitionTarget(const std::string& target, uint32_t& drive, uint32_t& partition);

// A FAT32 file system inside an image, read and written the way the Windows
// FAT driver does for the label: the volume-label entry of the root directory.
class Fat32Volume {
 public:
    // nullopt unless Windows mounts the partition's file system as FAT32: a
    // BPB the FAT driver takes, with at least 65525 clusters (the count alone
    // decides the FAT type, whatever the boot sector's type text says).
    static std::optional<Fat32Volume> Open(ImageFile& image, const PartitionExtent& extent);

    // The root directory's label without trailing blanks; empty when there is none.
    std::string Label();
    // The boot sector's volume serial number, as Windows reports it.
    uint32_t SerialNumber() const { return serialNumber_; }
    // Where the label entry SetLabel writes lies on the disk: the root
    // directory's label entry, else its first free slot; nullopt when neither
    // is found.
    std::optional<uint64_t> LabelEntryPosition();
    // The boot sector and the sectors reserved after it, in bytes: all that
    // the FAT driver lets a volume handle write while the volume is mounted.
    uint64_t ReservedBytes() const { return uint64_t{reservedSectors_} * bytesPerSector_; }
    // Free clusters from FSInfo times the cluster size.
    std::optional<uint64_t> FreeBytes();
    // Rewrites the label entry, adds one in a free slot, or for an empty label
    // deletes it. Fails for a label Windows refuses on FAT.
    bool SetLabel(const std::string& label);

 private:
    Fat32Volume(ImageFile& image, const PartitionExtent& extent) : image_(&image), extent_(extent) {}
    struct LabelSlot {
        uint64_t position = 0;
        bool existing = false;  // a label entry, not a free slot
    };
    std::optional<LabelSlot> FindLabelSlot();
    // Byte position (on the disk) of root directory entry `index`, or nullopt past its end.
    std::optional<uint64_t> RootEntryPosition(uint32_t index);

    ImageFile* image_;
    PartitionExtent extent_;
    uint32_t sectorsPerCluster_ = 0;
    uint32_t reservedSectors_ = 0;
    uint32_t fatCount_ = 0;
    uint32_t sectorsPerFat_ = 0;
    uint32_t rootCluster_ = 0;
    uint32_t fsInfoSector_ = 0;
    uint32_t serialNumber_ = 0;
    uint32_t bytesPerSector_ = 512;
};

}  // namespace quorvane
