#include "scan/DriveLetters.h"

#include "scan/ScanDisks.h"
#include "text/Texts.h"

namespace quorvane {

std::string_view DriveTypeText(uint32_t driveType) {
    switch (driveType) {
        case DriveRemovable: return texts::DriveTypeRemovable;
        case DriveFixed: return texts::DriveTypeFixed;
        case DriveRemote: return texts::DriveTypeRemote;
        case DriveCdrom: return texts::DriveTypeCdrom;
        case DriveRamdisk: return texts::DriveTypeRamdisk;
        default: return {};
    }
}

void AssignDriveLetters(Platform& platform, PartitionRows& rows) {
    for (char letter = 'C'; letter <= 'Z'; ++letter) {
        const std::string_view typeText = DriveTypeText(platform.DriveType(letter));
        const VolumeExtent extent = platform.FirstDiskExtent(letter);
        // A failed query answers offset 0, and no partition starts at byte 0.
        if (extent.startingOffset == 0) continue;
        for (int row = 0; row < rows.Count(); ++row) {
            const RowSideEntries& side = rows.Side(row);
            // An entry of the table Windows does not read has no volume.
            if (side.drive != extent.diskNumber || side.otherScheme ||
                static_cast<int64_t>(side.partitionStart) != extent.startingOffset)
                continue;
            rows.SetCell(row, ColumnLetter, std::string(1, letter));
            rows.SetCell(row, ColumnDriveType, typeText);
            rows.SetImage(row, DriveImage);
        }
    }
}

void ReadVolumeInfo(Platform& platform, PartitionRows& rows) {
    for (int row = 0; row < rows.Count(); ++row) {
        const char letter = RowLetter(rows, row);
        if (letter == 0) continue;
        // A volume Windows cannot read shows no label (unless the scan reads
        // its file system itself), and a failed free-space query shows 0.
        const auto volume = platform.QueryVolume(letter);
        rows.SetCell(row, ColumnLabel, volume ? volume->label : std::string{});
        if (volume) {
            rows.MutableSide(row).volumeSerial = volume->serialNumber;
            rows.MutableSide(row).fileSystem = volume->fileSystem;
        }
        rows.SetCell(row, ColumnFreeMb, MegabytesFromBytes(platform.FreeBytes(letter).value_or(0)));
    }
}

}  // namespace quorvane
