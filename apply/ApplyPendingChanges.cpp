#include "apply/ApplyPendingChanges.h"

#include <optional>
#include <vector>

#include "apply/Fat32BootLabel.h"
#include "apply/PartitionIdWriter.h"
#include "scan/DiskFormat.h"
#include "text/Gbk.h"

namespace quorvane {

namespace {

// A label may go only to the volume the row shows. A temporary name points
// at "\Device\HarddiskN\PartitionM", and a partition table changed since the
// scan can renumber the partitions behind it, or another medium can sit in
// the drive: the volume under the letter must still start where the row's
// partition starts and have the serial number the scan saw.
std::optional<FailureCause> CheckVolumeOfRow(Platform& platform, const PartitionRows& rows, int row,
                                             char letter) {
    const RowSideEntries& side = rows.Side(row);
    if (!side.volumeSerial) return FailureCause::OpenVolume;  // Windows did not answer at the scan
    const VolumeExtent extent = platform.FirstDiskExtent(letter);
    if (extent.startingOffset == 0) return FailureCause::OpenVolume;  // the query failed
    if (extent.diskNumber != side.drive || extent.startingOffset != static_cast<int64_t>(side.partitionStart))
        return FailureCause::VolumeReplaced;
    const auto volume = platform.QueryVolume(letter);
    if (!volume) return FailureCause::OpenVolume;
    if (volume->serialNumber != *side.volumeSerial) return FailureCause::VolumeReplaced;
    return std::nullopt;
}

}  // namespace

ChangeFailures ApplyPendingChanges(Platform& platform, PartitionRows& rows) {
    ChangeFailures failures;
    // The rows whose label Windows accepted, with the label as Windows reports it.
    std::vector<std::pair<int, std::string>> relabelled;
    for (int row = 0; row < rows.Count(); ++row) {
        if (!rows.HasPendingLabelChange(row)) continue;
        const char letter = RowLetter(rows, row);
        if (letter == 0) {
            failures.push_back({row, FailureCause::NoLetter});
            continue;
        }
        if (const auto cause = CheckVolumeOfRow(platform, rows, row, letter)) {
            failures.push_back({row, *cause});
            continue;
        }
        if (!platform.SetVolumeLabel(letter, rows.Cell(row, ColumnLabel))) {
            failures.push_back({row, FailureCause::SetLabel});
            continue;
        }
        // The FAT driver stores the label its own way (upper-cased): the
        // boot-sector copy holds what Windows now reports.
        const auto volume = platform.QueryVolume(letter);
        if (IsFat32Id(UpperCaseAscii(rows.Cell(row, ColumnId))) && !volume)
            failures.push_back({row, FailureCause::OpenVolume});
        else if (volume)
            relabelled.emplace_back(row, volume->label);
    }

    // The boot sectors go before the partition tables: an ID changed to or
    // from an empty or extended entry renumbers the partitions, and with them
    // what the temporary names point at.
    for (const auto& [row, label] : relabelled)
        if (IsFat32Id(UpperCaseAscii(rows.Cell(row, ColumnId)))) WriteFat32BootLabel(platform, rows, row, label, failures);

    WritePartitionIds(platform, rows, failures);
    return failures;
}

}  // namespace quorvane
