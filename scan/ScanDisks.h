// The partition table walk: rebuilds every row from the disks' MBRs and EBR
// chains, numbers the partitions the way Windows does (`DeviceMap`), matches
// drive letters and volume information, and shows FAT32 boot-sector labels.
// It only reads from the disks.
#pragma once

#include "platform/Platform.h"
#include "scan/PartitionRows.h"

namespace quorvane {

void ScanDisks(Platform& platform, PartitionRows& rows);

// Size and free-space cells: a whole number of MB, exact halves to the even
// neighbour.
std::string MegabytesFromSectors(uint64_t sectors);
std::string MegabytesFromBytes(uint64_t bytes);

}  // namespace quorvane
