// Windows' own view of each disk (IOCTL_DISK_GET_DRIVE_LAYOUT_EX) as a
// second reader of the tables. The temporary letters point into Windows'
// view ("\Device\HarddiskN\PartitionM"), so a write is only safe where the
// two readings agree.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "platform/Platform.h"
#include "scan/PartitionRows.h"

namespace quorvane {

// Compares, for each drive Windows answered for, its entries that have a
// partition number with the rows that have one in the program's model of
// Windows' numbering (`DeviceMap`): start, length and type (MBR byte or GPT
// type GUID), and the partition style. A missing or extra entry, or two
// entries with one start, also count. Where they agree, the rows take
// Windows' numbers; where they differ, every row of the drive is marked
// (`layoutDiffers`) and the drive is returned.
std::vector<uint32_t> CompareWithWindowsLayouts(PartitionRows& rows, const std::map<uint32_t, DriveLayout>& layouts);

}  // namespace quorvane
