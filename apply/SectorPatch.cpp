#include "apply/SectorPatch.h"

namespace quorvane {

PatchResult ReadWholeSector(SectorDevice& device, uint64_t position, Sector& sector) {
    sector.fill(0);
    uint32_t transferred = 0;
    if (!device.Seek(position)) return PatchResult::SeekFailed;
    if (!device.Read(sector, transferred) || transferred != SectorSize) return PatchResult::ReadFailed;
    return PatchResult::Done;
}

PatchResult WriteIfUnchanged(SectorDevice& device, uint64_t position, const Sector& before, const Sector& after) {
    Sector now{};
    const PatchResult read = ReadWholeSector(device, position, now);
    if (read != PatchResult::Done) return read;
    if (now != before) return PatchResult::Changed;
    uint32_t transferred = 0;
    if (!device.Seek(position)) return PatchResult::SeekFailed;
    if (!device.Write(after, transferred) || transferred != SectorSize) return PatchResult::WriteFailed;
    return PatchResult::Done;
}

}  // namespace quorvane
