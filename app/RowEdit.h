// What "修改" does to the selected row: the window's fields become the row's
// cells, exactly as the command line puts texts into cells. Kept apart from
// the window so the same edit can be tested and fuzzed without one.
#pragma once

#include <optional>
#include <string>

#include "apply/ChangeFailure.h"
#include "scan/PartitionRows.h"

namespace quorvane {

struct RowEdit {
    std::string id;     // the ID field
    std::string label;  // the label field
    // What the row put into the label field when it was selected, as the
    // field then held it: a label differing from it was typed by the user.
    std::string labelShown;
    bool labelEnabled = true;
};

// Puts the ID and, when it was typed, the label into the row's cells and
// brings the name cell up to date. A change the apply pass would refuse is
// refused here instead: nothing becomes pending and the cause is returned.
std::optional<FailureCause> ModifyRow(PartitionRows& rows, int row, const RowEdit& edit);

// 隐藏分区 and 显示分区 (the row's context menu, /HIDE and /SHOW): an MBR
// partition gets its hidden or shown twin ID (07 and 17, ...), a GPT
// basic-data partition its bits 62 (hidden) and 63 (no drive letter) set
// or both cleared, as a pending attribute change. A row that already is so
// changes nothing. Refused, with nothing pending: any other type, and what
// a type change of the row would be refused for.
std::optional<FailureCause> SetRowHidden(PartitionRows& rows, int row, bool hide);
// Whether the row offers 隐藏分区 (`hide`) or 显示分区: a type with a twin,
// not already so.
bool RowOffersVisibility(const PartitionRows& rows, int row, bool hide);
// Hidden from Windows as the row now stands (pending changes included): an
// MBR ID Windows gives no letter to, a GPT partition with bit 62 set.
bool RowIsHidden(const PartitionRows& rows, int row);
// Whether any row holds a change that "确定" would write.
bool AnyPendingChange(const PartitionRows& rows);

// The label field's limit for a row: by its volume's file system.
LabelLimit RowLabelLimit(const PartitionRows& rows, int row);

// Whether the row's label can be edited: not for an extended container nor
// for a GPT disk's protective entry, which carry no volume.
bool RowTakesLabel(const PartitionRows& rows, int row);

// Digits of the ID field: four for a GPT partition's type code, else two.
size_t IdDigitsOfRow(const PartitionRows& rows, int row);

// How the list draws a row: grey for containers, the protective entry, the
// entries Windows does not read and the partitions it runs from (none of
// them is changed), red for hidden partitions and the IDs of recovery and
// vendor partitions (a hidden basic-data GPT partition too). Red wins over
// grey. In a high-contrast theme every row keeps the theme's colours: the
// theme chose the background, on which a fixed red or grey may not be
// legible, and what the tint says is also in the row's text.
enum class RowTint { Normal, Grey, Red };
RowTint TintOfRow(const PartitionRows& rows, int row, bool highContrast);

}  // namespace quorvane
