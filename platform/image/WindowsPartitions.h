// How Windows reads the partition tables of a disk: which entries become
// partitions and under which number (the N of \Device\HarddiskD\PartitionN).
// The image backend asks only this file, never the program's own walk, so a
// test that runs the program on an image compares it with Windows' reading.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/Platform.h"
#include "platform/image/ImageFile.h"

namespace quorvane {

struct PartitionExtent {
    uint64_t offset = 0;  // bytes from the start of the disk
    uint64_t length = 0;
};

// The layout Windows reads from the disk as it is now (what
// IOCTL_DISK_GET_DRIVE_LAYOUT_EX answers once Windows has re-read it). LBAs
// count in `unit`-byte logical sectors.
DriveLayout ReadWindowsLayout(ImageFile& image, uint64_t unit);

// Every partition of a layout that has a number, in number order: element k
// is partition k + 1.
std::vector<PartitionExtent> NumberedPartitions(const DriveLayout& layout);
std::vector<PartitionExtent> WindowsPartitions(ImageFile& image, uint64_t unit);

// Partition `number` (1-based) as Windows numbers them; nullopt for 0 (the
// whole disk, which is no volume) and for a number Windows does not give.
std::optional<PartitionExtent> FindWindowsPartition(ImageFile& image, uint32_t number, uint64_t unit);

// Whether a transfer of `count` bytes at `position` lies whole on a disk of
// `diskSize` bytes. Windows fails any other (ERROR_SECTOR_NOT_FOUND) rather
// than transferring less.
bool LiesWholeOnDisk(uint64_t position, uint64_t count, uint64_t diskSize);

}  // namespace quorvane
