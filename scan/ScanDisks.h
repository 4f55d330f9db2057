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

namespace quorvane {

// What a scan could not look at. The rows show what could be read; a command
// meant for every partition with some ID cannot promise it reached them all.
struct ScanReport {
    bool diskCountRead = true;           // the registry named the disks
    std::vector<uint32_t> unreadDrives;  // not opened, or a table sector not read
    bool rowsFull = false;               // entries beyond RowCapacity were left out
    bool Complete() const { return diskCountRead && unreadDrives.empty() && !rowsFull; }
};

ScanReport ScanDisks(Platform& platform, PartitionRows& rows);

// Size and free-space cells: a whole number of MB, exact halves to the even
// neighbour.
std::string MegabytesFromSectors(uint64_t sectors);
std::string MegabytesFromBytes(uint64_t bytes);

}  // namespace quorvane
