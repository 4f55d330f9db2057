#include "app/RowEdit.h"

#include <cstdio>

#include "apply/GptTypeWriter.h"
#include "apply/PartitionIdWriter.h"
#include "scan/DiskFormat.h"
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

namespace {

constexpr uint64_t HiddenBits = GptAttributeHidden | GptAttributeNoDriveLetter;

// What 隐藏分区 (`hide`) or 显示分区 makes of the row: its new ID text or
// attributes; nullopt for a type with no twin.
struct Visibility {
    std::string id;
    uint64_t attributes = 0;
};
std::optional<Visibility> VisibilityOf(const PartitionRows& rows, int row, bool hide) {
    if (!rows.Exists(row)) return std::nullopt;
    const std::string id = UpperCaseAscii(rows.Cell(row, ColumnId));
    if (rows.Side(row).gpt) {
        if (id != BasicDataCode) return std::nullopt;
        const uint64_t now = rows.Attributes(row);
        return Visibility{id, hide ? now | HiddenBits : now & ~HiddenBits};
    }
    const auto byte = ParseIdText(id);
    const auto twin = byte ? VisibilityTwin(*byte, hide) : std::nullopt;
    if (!twin) return std::nullopt;
    char text[3];
    std::snprintf(text, sizeof text, "%02X", *twin);
    return Visibility{text, 0};
}

}  // namespace

std::optional<FailureCause> SetRowHidden(PartitionRows& rows, int row, bool hide) {
    const auto wanted = VisibilityOf(rows, row, hide);
    if (!wanted) return FailureCause::NotHideable;
    if (rows.Side(row).gpt) {
        if (wanted->attributes == rows.Attributes(row)) return std::nullopt;
        if (const auto refusal = RefuseAttributeChange(rows, row, wanted->attributes)) return refusal;
        rows.SetPendingAttributes(row, wanted->attributes);
        return std::nullopt;
    }
    if (wanted->id == UpperCaseAscii(rows.Cell(row, ColumnId))) return std::nullopt;
    if (const auto refusal = RefuseIdText(rows, row, wanted->id)) return refusal;
    rows.SetCell(row, ColumnId, wanted->id);
    rows.SetCell(row, ColumnIdName, IdNameOfRow(rows, row, wanted->id));
    return std::nullopt;
}

bool RowOffersVisibility(const PartitionRows& rows, int row, bool hide) {
    const auto wanted = VisibilityOf(rows, row, hide);
    if (!wanted) return false;
    return rows.Side(row).gpt ? wanted->attributes != rows.Attributes(row)
                              : wanted->id != UpperCaseAscii(rows.Cell(row, ColumnId));
}

bool RowIsHidden(const PartitionRows& rows, int row) {
    if (!rows.Exists(row)) return false;
    if (rows.Side(row).gpt) return (rows.Attributes(row) & GptAttributeHidden) != 0;
    return IsHiddenMbrId(UpperCaseAscii(rows.Cell(row, ColumnId)));
}

bool AnyPendingChange(const PartitionRows& rows) {
    for (int row = 0; row < rows.Count(); ++row)
        if (rows.HasPendingIdChange(row) || rows.HasPendingLabelChange(row) || rows.HasPendingAttributeChange(row))
            return true;
    return false;
}

LabelLimit RowLabelLimit(const PartitionRows& rows, int row) {
    return rows.Exists(row) ? LabelLimitOf(rows.Side(row).fileSystem) : LabelLimit{};
}

bool RowTakesLabel(const PartitionRows& rows, int row) {
    const std::string& id = rows.Cell(row, ColumnId);
    return !IsExtendedId(id) &&
           !(rows.Exists(row) && (IsProtectiveId(rows.Side(row).scannedId) || rows.Side(row).otherScheme));
}

size_t IdDigitsOfRow(const PartitionRows& rows, int row) {
    return rows.Exists(row) && rows.Side(row).gpt ? 4 : 2;
}

RowTint TintOfRow(const PartitionRows& rows, int row, bool highContrast) {
    // In a high-contrast theme the theme's colours stand; the row's text
    // says what its colour would.
    if (highContrast || !rows.Exists(row)) return RowTint::Normal;
    if (RowIsHidden(rows, row)) return RowTint::Red;
    const RowSideEntries& side = rows.Side(row);
    if (side.kind == EntryKind::Extended || IsProtectiveId(side.scannedId) || side.otherScheme || side.keepsWindowsRunning)
        return RowTint::Grey;
    return RowTint::Normal;
}

}  // namespace quorvane
