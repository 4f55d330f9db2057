#include "apply/PartitionIdWriter.h"

#include <vector>

#include "apply/SectorPatch.h"
#include "scan/IdNameTable.h"
#include "text/Gbk.h"

namespace quorvane {

namespace {

std::optional<int> HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return std::nullopt;
}

void WriteIdByte(Platform& platform, const PartitionRows& rows, int row, ChangeFailures& failures) {
    const RowSideEntries& side = rows.Side(row);
    const auto newId = ParseIdText(rows.Cell(row, ColumnId));
    if (!newId) {
        failures.push_back({row, FailureCause::BadId});
        return;
    }
    const auto scannedId = ParseIdText(side.scannedId);
    const auto device = platform.OpenPhysicalDrive(side.drive, Access::ReadWrite);
    if (!device) {
        failures.push_back({row, FailureCause::OpenDrive});
        return;
    }
    const PatchResult result = PatchSector(*device, side.entrySectorPosition, [&](Sector& sector) {
        uint8_t& id = sector[side.idByteOffset];
        if (id != scannedId && id != *newId) return false;
        id = *newId;
        return true;
    });
    switch (result) {
        case PatchResult::Written:
            // Let Windows see the new type without a reboot; an image or a
            // system that cannot re-read the layout still has the byte on disk.
            static_cast<void>(device->RefreshLayout());
            return;
        case PatchResult::SeekFailed: failures.push_back({row, FailureCause::Seek}); return;
        case PatchResult::ReadFailed: failures.push_back({row, FailureCause::Read}); return;
        case PatchResult::Declined: failures.push_back({row, FailureCause::Stale}); return;
        case PatchResult::WriteFailed: failures.push_back({row, FailureCause::Write}); return;
    }
}

}  // namespace

std::optional<uint8_t> ParseIdText(std::string_view idText) {
    if (idText.empty() || idText.size() > 2) return std::nullopt;
    int value = 0;
    for (const char c : idText) {
        const auto digit = HexDigit(c);
        if (!digit) return std::nullopt;
        value = value * 16 + *digit;
    }
    return static_cast<uint8_t>(value);
}

void WritePartitionIds(Platform& platform, PartitionRows& rows, ChangeFailures& failures) {
    // A row counts as changed by the text it was edited to, so "0b" over a
    // scanned "0B" is written (with the same byte).
    std::vector<int> changed;
    for (int row = 0; row < rows.Count(); ++row)
        if (rows.HasPendingIdChange(row)) changed.push_back(row);
    for (int row = 0; row < rows.Count(); ++row) {
        const std::string id = UpperCaseAscii(rows.Cell(row, ColumnId));
        rows.SetCell(row, ColumnId, id);
        rows.SetCell(row, ColumnIdName, LookupIdName(id));
    }
    for (const int row : changed) WriteIdByte(platform, rows, row, failures);
}

}  // namespace quorvane
