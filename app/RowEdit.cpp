#include "app/RowEdit.h"

#include "apply/GptTypeWriter.h"
#include "apply/PartitionIdWriter.h"
#include "scan/IdNameTable.h"
#include "text/Gbk.h"

namespace quorvane {

std::optional<FailureCause> ModifyRow(PartitionRows& rows, int row, const RowEdit& edit) {
    if (!rows.Exists(row)) return std::nullopt;
    if (UpperCaseAscii(edit.id) != rows.Side(row).scannedId && edit.id != rows.Cell(row, ColumnId)) {
        if (const auto refusal = RefuseIdText(rows, row, edit.id)) return refusal;
    }
    rows.SetCell(row, ColumnId, edit.id);
    rows.SetCell(row, ColumnIdName, IdNameOfRow(rows, row, rows.Cell(row, ColumnId)));
    // Changing only the ID never rewrites the label: a label the field could
    // not hold whole (a 32-character NTFS label) stays as it is.
    if (edit.labelEnabled && edit.label != edit.labelShown) rows.SetCell(row, ColumnLabel, edit.label);
    return std::nullopt;
}

LabelLimit RowLabelLimit(const PartitionRows& rows, int row) {
    return rows.Exists(row) ? LabelLimitOf(rows.Side(row).fileSystem) : LabelLimit{};
}

}  // namespace quorvane
