#include "apply/Fat32BootLabel.h"

#include <algorithm>

#include "apply/SectorPatch.h"
#include "scan/DiskFormat.h"
#include "text/Gbk.h"

namespace quorvane {

bool IsFat32Id(std::string_view idText) {
    return idText == "0B" || idText == "0C" || idText == "1B" || idText == "1C" || idText == "BC";
}

std::string ReadFat32BootLabel(Platform& platform, const PartitionRows& rows, int row) {
    const std::string blank(Fat32LabelLength, ' ');
    const RowSideEntries& side = rows.Side(row);
    const auto device = platform.OpenPhysicalDrive(side.drive, Access::Read);
    if (!device) return blank;
    Sector sector{};
    uint32_t transferred = 0;
    if (!device->Seek(side.partitionStart) || !device->Read(sector, transferred)) sector.fill(0);
    if (!PassesFat32Test(sector)) return blank;
    const auto* field = sector.data() + Fat32LabelOffset;
    const auto* end = std::find(field, field + Fat32LabelLength, uint8_t{0});
    return std::string(field, end);
}

void WriteFat32BootLabel(Platform& platform, const PartitionRows& rows, int row, std::string_view label,
                         ChangeFailures& failures) {
    const char letter = RowLetter(rows, row);
    if (letter == 0) {
        failures.push_back({row, FailureCause::NoLetter});
        return;
    }
    std::string field(CutToBytes(label, Fat32LabelLength));
    field.resize(Fat32LabelLength, ' ');
    const auto putLabel = [&field](Sector& sector) {
        if (!PassesFat32Test(sector)) return false;
        std::copy(field.begin(), field.end(), sector.begin() + Fat32LabelOffset);
        return true;
    };

    const auto volume = platform.OpenVolume(letter, Access::ReadWrite);
    if (!volume) {
        failures.push_back({row, FailureCause::OpenVolume});
        return;
    }
    uint16_t backupSector = 0;
    const PatchResult boot = PatchSector(*volume, 0, [&](Sector& sector) {
        backupSector = LoadLe16(sector.data() + Fat32BackupBootSectorOffset);
        return putLabel(sector);
    });
    switch (boot) {
        case PatchResult::Written: break;
        case PatchResult::Declined: return;  // not FAT32: no label field to keep in step
        case PatchResult::SeekFailed: failures.push_back({row, FailureCause::Seek}); return;
        case PatchResult::ReadFailed: failures.push_back({row, FailureCause::Read}); return;
        case PatchResult::WriteFailed: failures.push_back({row, FailureCause::Write}); return;
    }
    // FAT32 keeps a copy of the boot sector (usually sector 6); 0 and 0xFFFF
    // mean there is none. fsck.fat reports the two copies when they differ.
    if (backupSector == 0 || backupSector == 0xFFFF) return;
    const PatchResult backup = PatchSector(*volume, uint64_t{backupSector} * SectorSize, putLabel);
    if (backup != PatchResult::Written && backup != PatchResult::Declined)
        failures.push_back({row, FailureCause::BackupBoot});
}

}  // namespace quorvane
