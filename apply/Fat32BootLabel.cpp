#include "apply/Fat32BootLabel.h"

#include <algorithm>
#include <array>

#include "apply/VolumeLocks.h"
#include "scan/DiskFormat.h"
#include "text/Gbk.h"

namespace quorvane {

namespace {

// The BIOS parameter block up to the label: a backup copy must repeat it.
constexpr uint32_t BpbFirst = BpbBytesPerSector;
constexpr uint32_t BpbEnd = Fat32LabelOffset;

bool SameBpb(const Sector& a, const Sector& b) {
    return std::equal(a.begin() + BpbFirst, a.begin() + BpbEnd, b.begin() + BpbFirst);
}

}  // namespace

std::string Fat32LabelField(std::string_view label) {
    std::string field = UpperCaseAscii(CutToBytes(label, Fat32LabelLength));
    field.resize(Fat32LabelLength, ' ');
    return field;
}

std::vector<PlannedSector> PlanFat32BootLabel(Platform& platform, const PartitionRows& rows, int row,
                                              std::string_view label, ChangeFailures& failures) {
    const char letter = RowLetter(rows, row);
    if (letter == 0) {
        failures.push_back({row, FailureCause::NoLetter});
        return {};
    }
    const RowSideEntries& side = rows.Side(row);
    const auto volume = platform.OpenVolume(letter, Access::Read);
    if (!volume) {
        failures.push_back({row, FailureCause::OpenVolume});
        return {};
    }
    const std::string field = Fat32LabelField(label);
    PlannedSector boot;
    boot.kind = UndoKind::BootSector;
    boot.drive = side.drive;
    boot.disk = side.disk;
    boot.letter = letter;
    boot.volumeSerial = side.volumeSerial.value_or(0);
    boot.volumeStart = side.partitionStart;
    boot.rows = {row};
    const PatchResult read = ReadWholeSector(*volume, 0, boot.before);
    if (read != PatchResult::Done) {
        failures.push_back({row, CauseOf(read)});
        return {};
    }
    if (!PassesFat32Test(Head(boot.before))) return {};  // not FAT32: no label field to keep in step
    // The copies go only where the volume's sector 0 is the disk's sector at
    // the partition's start: anything in between (an encryption filter: a
    // BitLocker volume shows its decrypted file system through the volume)
    // makes them differ, and its raw sectors are not the file system's.
    const auto disk = platform.OpenPhysicalDrive(side.drive, Access::Read);
    std::vector<uint8_t> raw;
    if (!disk || ReadWholeSector(*disk, side.partitionStart, raw) != PatchResult::Done) {
        failures.push_back({row, disk ? FailureCause::Read : FailureCause::OpenDrive});
        return {};
    }
    if (raw != boot.before || IsBitLockerBootSector(Head(raw))) return {};
    if (LoadLe32(boot.before.data() + Fat32SerialOffset) != boot.volumeSerial) {
        failures.push_back({row, FailureCause::VolumeReplaced});
        return {};
    }
    boot.after = boot.before;
    std::copy(field.begin(), field.end(), boot.after.begin() + Fat32LabelOffset);
    std::vector<PlannedSector> plan{boot};

    // FAT32 keeps a copy of the boot sector in its reserved sectors (usually
    // sector 6); 0 and 0xFFFF mean there is none. A field pointing anywhere
    // else, or at FSInfo, or at a sector that is no copy, names no backup.
    const uint32_t backupSector = LoadLe16(boot.before.data() + Fat32BackupBootSectorOffset);
    const uint32_t reserved = LoadLe16(boot.before.data() + BpbReservedSectors);
    const uint32_t fsInfo = LoadLe16(boot.before.data() + Fat32FsInfoSectorOffset);
    const uint32_t bytesPerSector = LoadLe16(boot.before.data() + BpbBytesPerSector);
    if (backupSector == 0 || backupSector >= reserved || backupSector == fsInfo) return plan;
    PlannedSector backup = boot;
    backup.position = uint64_t{backupSector} * bytesPerSector;
    if (ReadWholeSector(*volume, backup.position, backup.before) != PatchResult::Done) {
        failures.push_back({row, FailureCause::BackupBoot});
        return plan;
    }
    if (!PassesFat32Test(Head(backup.before)) || !SameBpb(Head(backup.before), Head(boot.before))) return plan;
    backup.after = backup.before;
    std::copy(field.begin(), field.end(), backup.after.begin() + Fat32LabelOffset);
    plan.push_back(backup);
    return plan;
}

void WritePlannedBootSectors(Platform& platform, const std::vector<PlannedSector>& sectors,
                             ChangeFailures& failures) {
    if (sectors.empty()) return;
    const int row = sectors.front().rows.front();
    const auto volume = platform.OpenVolume(sectors.front().letter, Access::ReadWrite);
    if (!volume) {
        failures.push_back({row, FailureCause::OpenVolume});
        return;
    }
    bool locked = false;
    for (size_t i = 0; i < sectors.size(); ++i) {
        PatchResult result = WriteIfUnchanged(*volume, sectors[i].position, sectors[i].before, sectors[i].after);
        // Windows lets a volume handle write the boot sectors of a mounted
        // volume (KB942448); where it refuses, the write is tried once more
        // under the volume's lock.
        if (result == PatchResult::WriteFailed && !locked) {
            locked = LockWithRetries(platform, *volume);
            if (!locked) {
                failures.push_back({row, FailureCause::BootCopyInUse});
                return;
            }
            result = WriteIfUnchanged(*volume, sectors[i].position, sectors[i].before, sectors[i].after);
        }
        if (result == PatchResult::Done) continue;
        // The backup goes only with the boot sector.
        failures.push_back({row, i == 0 ? CauseOf(result) : FailureCause::BackupBoot});
        if (i == 0) return;
    }
}

}  // namespace quorvane
