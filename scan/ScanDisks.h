// The partition table walk: rebuilds every row from the disks' MBRs and EBR
// chains, numbers the partitions the way Windows does (`DeviceMap`), matches
// drive letters and volume information, and shows FAT32 boot-sector labels.
// It only reads from the disks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "scan/PartitionRows.h"
#include "scan/TableCache.h"

namespace quorvane {

// A drive whose MBR the scan read, with what identifies its disk.
struct SeenDrive {
    uint32_t drive = 0;
    DiskIdentity identity;
};

// What a scan could not look at. The rows show what could be read; a command
// meant for every partition with some ID cannot promise it reached them all.
struct ScanReport {
    bool diskCountRead = true;           // the registry named the disks
    std::vector<uint32_t> unreadDrives;  // not opened, or a table sector not read
    bool rowsFull = false;               // entries beyond RowCapacity were left out
    bool drivesMissing = false;          // fewer drives opened than the registry counts
    int drivesCounted = 0;               // by the registry
    int drivesOpened = 0;
    std::vector<SeenDrive> drives;  // every drive whose MBR was read
    std::vector<uint32_t> oddSectorDrives;  // skipped: neither 512- nor 4096-byte sectors
    // Drives Windows reads otherwise than their tables say: listed, never
    // written, given no temporary letter.
    std::vector<uint32_t> layoutDiffers;
    bool Complete() const {
        return diskCountRead && unreadDrives.empty() && !rowsFull && !drivesMissing && oddSectorDrives.empty();
    }
};

// Drive numbers tried past the last drive that opened before the scan stops
// looking for the rest of the registry's count.
inline constexpr int64_t MaxDriveNumberGap = 16;

// With a cache, the drives' tables are read through it: the first scan of a
// run fills it, the second reads no table sector again.
ScanReport ScanDisks(Platform& platform, PartitionRows& rows, TableCache* cache = nullptr);

// Size and free-space cells: a whole number of MB, exact halves to the even
// neighbour.
std::string MegabytesFromSectors(uint64_t sectors);
std::string MegabytesFromBytes(uint64_t bytes);

}  // namespace quorvane
