#include "app/RowEdit.h"

#include "apply/GptTypeWriter.h"
#include "apply/PartitionIdWriter.h"
#include "scan/IdNameTable.h"
#include "scan/GptWalk.h"
#include "text/Gbk.h"
#include "text/Texts.h"

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

bool AnyPendingChange(const PartitionRows& rows) {
    for (int row = 0; row < rows.Count(); ++row)
        if (rows.HasPendingIdChange(row) || rows.HasPendingLabelChange(row)) return true;
    return false;
}

LabelLimit RowLabelLimit(const PartitionRows& rows, int row) {
    return rows.Exists(row) ? LabelLimitOf(rows.Side(row).fileSystem) : LabelLimit{};
}

bool RowTakesLabel(const PartitionRows& rows, int row) {
    const std::string& id = rows.Cell(row, ColumnId);
    return !IsExtendedId(id) &&
           !(rows.Exists(row) && (rows.Side(row).scannedId == "EE" || rows.Side(row).otherScheme));
}

size_t IdDigitsOfRow(const PartitionRows& rows, int row) {
    return rows.Exists(row) && rows.Side(row).gpt ? 4 : 2;
}

RowTint TintOfRow(const PartitionRows& rows, int row, bool highContrast) {
    if (highContrast || !rows.Exists(row)) return RowTint::Normal;
    const std::string& id = rows.Cell(row, ColumnId);
    const auto& gpt = rows.Side(row).gpt;
    if (gpt && id == BasicDataCode && (gpt->attributes & GptAttributeHidden)) return RowTint::Red;
    for (const char* red : {"11", "12", "14", "16", "17", "BB", "A0", "1B", "1C", "BC", "27", "DD", "DE"})
        if (!gpt && id == red) return RowTint::Red;
    const RowSideEntries& side = rows.Side(row);
    if (side.kind == EntryKind::Extended || side.scannedId == "EE" || side.otherScheme || side.keepsWindowsRunning)
        return RowTint::Grey;
    return RowTint::Normal;
}

}  // namespace quorvane
