#include "apply/ApplyPendingChanges.h"

#include <string>
#include <vector>

#include "apply/Fat32BootLabel.h"
#include "apply/PartitionIdWriter.h"

namespace quorvane {

ChangeFailures ApplyPendingChanges(Platform& platform, PartitionRows& rows) {
    ChangeFailures failures;
    for (int row = 0; row < rows.Count(); ++row) {
        if (!rows.HasPendingLabelChange(row)) continue;
        const char letter = RowLetter(rows, row);
        if (letter == 0) failures.push_back({row, FailureCause::NoLetter});
        else if (!platform.SetVolumeLabel(letter, rows.Cell(row, ColumnLabel)))
            failures.push_back({row, FailureCause::SetLabel});
    }

    // Which rows get the boot-sector label is decided by the ID text as edited,
    // before the writer upper-cases it.
    std::vector<std::string> editedIds;
    for (int row = 0; row < rows.Count(); ++row) editedIds.push_back(rows.Cell(row, ColumnId));

    WritePartitionIds(platform, rows, failures);

    for (int row = 0; row < rows.Count(); ++row) {
        if (rows.HasPendingLabelChange(row) && RowLetter(rows, row) != 0 && IsFat32Id(editedIds[row]))
            WriteFat32BootLabel(platform, rows, row, rows.Cell(row, ColumnLabel), failures);
    }
    return failures;
}

}  // namespace quorvane
