#include "apply/SectorPatch.h"

namespace quorvane {

FailureCause CauseOf(PatchResult result) {
    switch (result) {
        case PatchResult::SeekFailed: return FailureCause::Seek;
        case PatchResult::ReadFailed: return FailureCause::Read;
        case PatchResult::Changed: return FailureCause::Stale;
        case PatchResult::WriteFailed:
        case PatchResult::Done: break;
    }
    return FailureCause::Write;
}

PatchResult ReadWholeSector(SectorDevice& device, uint64_t position, std::vector<uint8_t>& sector) {
    sector.assign(device.LogicalSectorSize(), 0);
    uint32_t transferred = 0;
    if (!device.Seek(position)) return PatchResult::SeekFailed;
    if (!device.Read(sector, transferred) || transferred != sector.size()) return PatchResult::ReadFailed;
    return PatchResult::Done;
}

namespace {

PatchResult WriteSector(SectorDevice& device, uint64_t position, const std::vector<uint8_t>& bytes) {
    uint32_t transferred = 0;
    if (!device.Seek(position)) return PatchResult::SeekFailed;
    if (!device.Write(bytes, transferred) || transferred != bytes.size()) return PatchResult::WriteFailed;
    return PatchResult::Done;
}

}  // namespace

PatchResult WriteIfUnchanged(SectorDevice& device, uint64_t position, const std::vector<uint8_t>& before,
                             const std::vector<uint8_t>& after) {
    std::vector<uint8_t> now;
    const PatchResult read = ReadWholeSector(device, position, now);
    if (read != PatchResult::Done) return read;
    if (now != before || after.size() != now.size()) return PatchResult::Changed;
    return WriteSector(device, position, after);
}

PatchResult PutBack(SectorDevice& device, uint64_t position, const std::vector<uint8_t>& before,
                    const std::vector<uint8_t>& after) {
    std::vector<uint8_t> now;
    const PatchResult read = ReadWholeSector(device, position, now);
    if (read != PatchResult::Done) return read;
    if (now == before) return PatchResult::Done;
    if (now.size() != before.size() || after.size() != now.size()) return PatchResult::Changed;
    for (size_t i = 0; i < now.size(); ++i)
        if (now[i] != before[i] && now[i] != after[i]) return PatchResult::Changed;
    return WriteSector(device, position, before);  // the sector was read in full just now
}

}  // namespace quorvane
