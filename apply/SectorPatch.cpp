#include "apply/SectorPatch.h"

namespace quorvane {

PatchResult PatchSector(SectorDevice& device, uint64_t position, const std::function<bool(Sector&)>& patch) {
    Sector sector{};
    uint32_t transferred = 0;
    if (!device.Seek(position)) return PatchResult::SeekFailed;
    if (!device.Read(sector, transferred) || transferred != SectorSize) return PatchResult::ReadFailed;
    if (!patch(sector)) return PatchResult::Declined;
    if (!device.Seek(position)) return PatchResult::SeekFailed;
    if (!device.Write(sector, transferred) || transferred != SectorSize) return PatchResult::WriteFailed;
    return PatchResult::Written;
}

}  // namespace quorvane
