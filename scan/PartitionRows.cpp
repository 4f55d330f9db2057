#include "scan/PartitionRows.h"

#include <cstdio>
#include <utility>

#include "scan/DiskFormat.h"
#include "scan/GptWalk.h"
#include "text/Texts.h"

namespace quorvane {

namespace {
const std::string EmptyText;
}

const std::string& PartitionRows::Cell(int row, int column) const {
    if (!Exists(row) || column < 0 || column >= ColumnCount) return EmptyText;
    return rows_[row].cells[column];
}

void PartitionRows::SetCell(int row, int column, std::string_view text) {
    if (!Exists(row) || column < 0 || column >= ColumnCount) return;
    rows_[row].cells[column] = text;
    if (observer_) observer_->OnCellChanged(row, column);
}

void PartitionRows::SetImage(int row, int image) {
    if (!Exists(row)) return;
    rows_[row].image = image;
    if (observer_) observer_->OnImageChanged(row);
}

bool PartitionRows::HasPendingIdChange(int row) const {
    return Exists(row) && rows_[row].cells[ColumnId] != rows_[row].side.scannedId;
}

bool PartitionRows::HasPendingLabelChange(int row) const {
    return Exists(row) && rows_[row].cells[ColumnLabel] != rows_[row].side.scannedLabel;
}

uint64_t PartitionRows::Attributes(int row) const {
    if (!Exists(row) || !rows_[row].side.gpt) return 0;
    return rows_[row].pendingAttributes.value_or(rows_[row].side.gpt->attributes);
}

bool PartitionRows::HasPendingAttributeChange(int row) const {
    return Exists(row) && rows_[row].pendingAttributes.has_value();
}

void PartitionRows::SetPendingAttributes(int row, uint64_t attributes) {
    if (!Exists(row) || !rows_[row].side.gpt) return;
    Row& changed = rows_[row];
    if (attributes == changed.side.gpt->attributes)
        changed.pendingAttributes.reset();
    else
        changed.pendingAttributes = attributes;
    SetCell(row, ColumnKind, KindText(changed.side, attributes));
}

void PartitionRows::Clear() {
    rows_.clear();
    deviceMap_.clear();
    if (observer_) observer_->OnRowsCleared();
}

int PartitionRows::AppendRow() {
    if (Count() >= RowCapacity) return -1;
    rows_.emplace_back();
    const int row = Count() - 1;
    if (observer_) observer_->OnRowAppended(row);
    return row;
}

char RowLetter(const PartitionRows& rows, int row) {
    const std::string& cell = rows.Cell(row, ColumnLetter);
    return cell.empty() ? 0 : cell[0];
}

std::string KindText(const RowSideEntries& side, uint64_t attributes) {
    static const char* const kinds[] = {texts::KindPrimary, texts::KindExtended, texts::KindLogical, texts::KindGpt};
    std::string text = kinds[static_cast<int>(side.kind)];
    if (side.keepsWindowsRunning) text += texts::SystemSuffix;
    if (side.active) text += texts::ActiveSuffix;
    if (side.gpt) {
        static constexpr std::pair<uint64_t, const char*> states[] = {
            {GptAttributeHidden, texts::StateHidden},
            {GptAttributeNoDriveLetter, texts::StateNoLetter},
            {GptAttributeRequired, texts::StateRequired},
            {GptAttributeReadOnly, texts::StateReadOnly}};
        for (const auto& [bit, state] : states)
            if (attributes & bit) {
                text += state;
                break;
            }
    }
    if (side.otherScheme) text += texts::OtherSchemeSuffix;
    return text;
}

std::string PartitionStartText(uint64_t position) {
    char text[24];
    std::snprintf(text, sizeof text, "%04X%08X", static_cast<unsigned>(position >> 32),
                  static_cast<unsigned>(position & 0xFFFFFFFFu));
    return text;
}

uint64_t DivideRoundHalfEven(uint64_t numerator, uint64_t denominator) {
    uint64_t quotient = numerator / denominator;
    const uint64_t remainder = numerator % denominator;
    const uint64_t rest = denominator - remainder;
    if (remainder > rest || (remainder == rest && (quotient & 1) != 0)) ++quotient;
    return quotient;
}

}  // namespace quorvane
