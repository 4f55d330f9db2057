// What Windows makes of the partitions on an image: their partition numbers
// and, for FAT32, the label and free space the file system reports.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/image/ImageFile.h"

namespace quorvane {

struct PartitionExtent {
    uint64_t offset = 0;  // bytes from the start of the disk
    uint64_t length = 0;
};

// Partition `number` (1-based) as Windows numbers them: the MBR entries that
// are neither empty nor extended (0x05, 0x0F) in slot order, then every
// logical partition of the extended chains in chain order.
std::optional<PartitionExtent> FindWindowsPartition(ImageFile& image, uint32_t number, uint32_t unit);

// Parses "\Device\Harddisk<d>\Partition<n>".
bool ParsePartitionTarget(const std::string& target, uint32_t& drive, uint32_t& partition);

// A FAT32 file system inside an image, read and written the way the Windows
// FAT driver does for the label: the volume-label entry of the root directory.
class Fat32Volume {
 public:
    // nullopt unless the partition's boot sector is a FAT32 one the emulation reads.
    static std::optional<Fat32Volume> Open(ImageFile& image, const PartitionExtent& extent);

    // The root directory's label without trailing blanks; empty when there is none.
    std::string Label();
    // The boot sector's volume serial number, as Windows reports it.
    uint32_t SerialNumber() const { return serialNumber_; }
    // Free clusters from FSInfo times the cluster size.
    std::optional<uint64_t> FreeBytes();
    // Rewrites the label entry, adds one in a free slot, or for an empty label
    // deletes it. Fails for a label Windows refuses on FAT.
    bool SetLabel(const std::string& label);

 private:
    Fat32Volume(ImageFile& image, const PartitionExtent& extent) : image_(&image), extent_(extent) {}
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
