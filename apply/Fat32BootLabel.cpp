#include "apply/Fat32BootLabel.h"

#include <algorithm>
#include <array>

#include "apply/SectorPatch.h"
#include "scan/DiskFormat.h"
#include "text/Gbk.h"

namespace quorvane {

namespace {

// The BIOS parameter block up to the label: a backup copy must repeat it.
constexpr uint32_t BpbFirst = BpbBytesPerSector;
constexpr uint32_t BpbEnd = Fat32LabelOffset;
using BpbBytes = std::array<uint8_t, BpbEnd - BpbFirst>;

BpbBytes ReadBpb(const Sector& sector) {
    BpbBytes bytes{};
    std::copy(sector.begin() + BpbFirst, sector.begin() + BpbEnd, bytes.begin());
    return bytes;
}

}  // namespace

void WriteFat32BootLabel(Platform& platform, const PartitionRows& rows, int row, std::string_view label,
                         ChangeFailures& failures) {
    const char letter = RowLetter(rows, row);
    if (letter == 0) {
        failures.push_back({row, FailureCause::NoLetter});
        return;
    }
    const RowSideEntries& side = rows.Side(row);
    std::string field(CutToBytes(label, Fat32LabelLength));
    field.resize(Fat32LabelLength, ' ');
    const auto putLabel = [&field](Sector& sector) {
        std::copy(field.begin(), field.end(), sector.begin() + Fat32LabelOffset);
    };

    const auto volume = platform.OpenVolume(letter, Access::ReadWrite);
    if (!volume) {
        failures.push_back({row, FailureCause::OpenVolume});
        return;
    }
    BpbBytes bpb{};
    bool replaced = false;
    const PatchResult boot = PatchSector(*volume, 0, [&](Sector& sector) {
        if (!PassesFat32Test(sector)) return false;  // not FAT32: no label field to keep in step
        if (side.volumeSerial && LoadLe32(sector.data() + Fat32SerialOffset) != *side.volumeSerial) {
            replaced = true;
            return false;
        }
        bpb = ReadBpb(sector);
        putLabel(sector);
        return true;
    });
    switch (boot) {
        case PatchResult::Written: break;
        case PatchResult::Declined:
            if (replaced) failures.push_back({row, FailureCause::VolumeReplaced});
            return;
        case PatchResult::SeekFailed: failures.push_back({row, FailureCause::Seek}); return;
        case PatchResult::ReadFailed: failures.push_back({row, FailureCause::Read}); return;
        case PatchResult::WriteFailed: failures.push_back({row, FailureCause::Write}); return;
    }
    // FAT32 keeps a copy of the boot sector in its reserved sectors (usually
    // sector 6); 0 and 0xFFFF mean there is none. A field pointing anywhere
    // else, or at FSInfo, or at a sector that is no copy, is no backup.
    const uint32_t backupSector = LoadLe16(bpb.data() + (Fat32BackupBootSectorOffset - BpbFirst));
    const uint32_t reserved = LoadLe16(bpb.data() + (BpbReservedSectors - BpbFirst));
    const uint32_t fsInfo = LoadLe16(bpb.data() + (Fat32FsInfoSectorOffset - BpbFirst));
    const uint32_t bytesPerSector = LoadLe16(bpb.data());
    if (backupSector == 0 || backupSector >= reserved || backupSector == fsInfo) return;
    const PatchResult backup =
        PatchSector(*volume, uint64_t{backupSector} * bytesPerSector, [&](Sector& sector) {
            if (!PassesFat32Test(sector) || ReadBpb(sector) != bpb) return false;
            putLabel(sector);
            return true;
        });
    if (backup != PatchResult::Written && backup != PatchResult::Declined)
        failures.push_back({row, FailureCause::BackupBoot});
}

}  // namespace quorvane
