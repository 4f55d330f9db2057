// The volume label of a FAT12, FAT16 or FAT32 file system read the way
// Windows' FAT driver reads it: the label entry of the root directory. (The
// copy in the boot sector is not what Windows shows, and Windows leaves it
// stale when it relabels a volume.) Used only for partitions Windows does
// not answer for: no drive letter, or no volume behind it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Platform.h"

namespace quorvane {

// The label without trailing blanks, empty when the root directory holds
// none; nullopt when the partition at `partitionStart` holds no FAT file
// system or it cannot be read.
std::optional<std::string> ReadFatRootLabel(SectorDevice& device, uint64_t partitionStart);

}  // namespace quorvane
