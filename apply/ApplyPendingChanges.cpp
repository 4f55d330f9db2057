#include "apply/ApplyPendingChanges.h"

#include <optional>
#include <vector>

#include "apply/Fat32BootLabel.h"
#include "apply/PartitionIdWriter.h"

namespace quorvane {

namespace {

// A label may go only to the partition the row shows. A temporary name points
// at "\Device\HarddiskN\PartitionM", and a partition table changed since the
// scan can renumber the partitions behind it; the volume under the letter
// must still start where the row's partition starts.
std::optional<FailureCause> CheckVolumeOfRow(Platform& platform, const PartitionRows& rows, int row,
                                             char letter) {
    const VolumeExtent extent = platform.FirstDiskExtent(letter);
    if (extent.startingOffset == 0) return FailureCause::OpenVolume;  // the query failed
    const RowSideEntries& side = rows.Side(row);
    if (extent.diskNumber != side.drive || extent.startingOffset != static_cast<int64_t>(side.partitionStart))
        return FailureCause::Stale;
    return std::nullopt;
}

}  // namespace

ChangeFailures ApplyPendingChanges(Platform& platform, PartitionRows& rows) {
    ChangeFailures failures;
    std::vector<int> relabelled;
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
        relabelled.push_back(row);
        if (!platform.SetVolumeLabel(letter, rows.Cell(row, ColumnLabel)))
            failures.push_back({row, FailureCause::SetLabel});
    }

    // The boot sectors go before the partition tables: an ID changed to or
    // from an empty or extended entry renumbers the partitions, and with them
    // what the temporary names point at. The ID text as edited (before the
    // writer upper-cases it) decides which rows are FAT32.
    for (const int row : relabelled)
        if (IsFat32Id(rows.Cell(row, ColumnId)))
            WriteFat32BootLabel(platform, rows, row, rows.Cell(row, ColumnLabel), failures);

    WritePartitionIds(platform, rows, failures);
    return failures;
}

}  // namespace quorvane
