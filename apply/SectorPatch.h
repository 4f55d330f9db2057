// The one way the program changes a sector: position, read the whole sector,
// change bytes in memory, position again at the same place, write it back.
#pragma once

#include <functional>

#include "platform/Platform.h"
#include "scan/DiskFormat.h"

namespace quorvane {

enum class PatchResult { Written, SeekFailed, ReadFailed, Declined, WriteFailed };

// `patch` changes the sector in memory, or returns false to leave it alone,
// in which case nothing is written. A sector goes back only after a full
// read, and only to the position it was read from.
PatchResult PatchSector(SectorDevice& device, uint64_t position, const std::function<bool(Sector&)>& patch);

}  // namespace quorvane
