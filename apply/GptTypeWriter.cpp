#include "apply/GptTypeWriter.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>

#include "apply/PartitionIdWriter.h"
#include "scan/Crc32.h"
#include "scan/GptWalk.h"
#include "text/Gbk.h"

namespace quorvane {

namespace {

bool IsHexDigits(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
    });
}

// Partitions of a dynamic disk's LDM database or of a Storage Spaces pool
// belong to it, not to a volume of their own.
bool IsPooledCode(std::string_view code) {
    return code == LdmDataCode || code == LdmMetadataCode || code == StorageSpacesCode;
}

// Both tables as they are now, when they are whole and agree with each
// other and with the scan.
std::optional<FailureCause> ReadBothTables(SectorDevice& device, const RowSideEntries& side, GptTable& primary,
                                           GptTable& backup) {
    if (const auto cause = CheckDiskIdentity(device, side.disk)) return cause;
    const uint64_t diskSectors = side.disk.size.value_or(0) / device.LogicalSectorSize();
    auto first = ReadGptTable(device, 1, diskSectors);
    auto second = diskSectors > 2 ? ReadGptTable(device, diskSectors - 1, diskSectors) : std::nullopt;
    if (!first || !second) return FailureCause::GptMismatch;
    if (first->diskGuid != side.disk.gptGuid) return FailureCause::Replaced;
    const size_t bytes = size_t{first->entryCount} * first->entrySize;
    if (second->diskGuid != first->diskGuid || first->alternateLba != second->headerLba ||
        second->alternateLba != 1 || second->entryCount != first->entryCount ||
        second->entrySize != first->entrySize || !std::equal(first->array.begin(), first->array.begin() + bytes, second->array.begin()))
        return FailureCause::GptMismatch;
    // The two headers and the two arrays lie apart from each other: a change
    // must not write one copy over the other.
    const uint64_t arraySectors = first->array.size() / first->unit;
    const std::pair<uint64_t, uint64_t> extents[] = {{first->headerLba, 1}, {first->entryLba, arraySectors},
                                                      {second->headerLba, 1}, {second->entryLba, arraySectors}};
    for (size_t i = 0; i < std::size(extents); ++i)
        for (size_t j = i + 1; j < std::size(extents); ++j)
            if (extents[i].first < extents[j].first + extents[j].second &&
                extents[j].first < extents[i].first + extents[i].second)
                return FailureCause::GptMismatch;
    primary = std::move(*first);
    backup = std::move(*second);
    return std::nullopt;
}

// The sectors of one table that the changes touch, before and after: the
// changed entry sectors, then the header.
void PlanTable(const GptTable& before, const std::vector<uint8_t>& array, const RowSideEntries& side,
               const std::vector<int>& rows, const std::vector<uint32_t>& changedEntries,
               std::vector<PlannedSector>& plan) {
    std::vector<uint64_t> sectors;
    const uint32_t unit = before.unit;
    for (const uint32_t index : changedEntries) sectors.push_back(uint64_t{index} * before.entrySize / unit);
    std::sort(sectors.begin(), sectors.end());
    sectors.erase(std::unique(sectors.begin(), sectors.end()), sectors.end());
    PlannedSector sector;
    sector.kind = UndoKind::GptSector;
    sector.drive = side.drive;
    sector.disk = side.disk;
    sector.rows = rows;
    for (const uint64_t s : sectors) {
        sector.position = (before.entryLba + s) * unit;
        sector.before.assign(before.array.begin() + s * unit, before.array.begin() + (s + 1) * unit);
        sector.after.assign(array.begin() + s * unit, array.begin() + (s + 1) * unit);
        plan.push_back(sector);
    }
    sector.position = before.headerLba * unit;
    sector.before = before.headerSector;
    sector.after = before.headerSector;
    StoreLe32(sector.after.data() + GptArrayCrcField,
              Crc32(std::span(array).first(size_t{before.entryCount} * before.entrySize)));
    StoreLe32(sector.after.data() + GptHeaderCrcField, GptHeaderCrc(Head(sector.after)));
    plan.push_back(sector);
}

}  // namespace

std::optional<FailureCause> RefuseIdText(const PartitionRows& rows, int row, std::string_view text) {
    const RowSideEntries& side = rows.Side(row);
    // These rows take no change at all, not even one to the same type.
    if (side.otherScheme) return FailureCause::OtherScheme;
    if (side.keepsWindowsRunning) return FailureCause::KeepsWindowsRunning;
    if (side.layoutDiffers) return FailureCause::LayoutDiffers;
    const bool hex = !text.empty() && IsHexDigits(text);
    if (!side.gpt) {
        if (hex && text.size() == 4) return FailureCause::IdWidth;
        const auto newId = ParseIdText(text);
        if (!newId) return FailureCause::BadId;
        return RefuseIdChange(rows, row, *newId);
    }
    if (hex && text.size() <= 2) return FailureCause::IdWidth;
    if (!hex || text.size() != 4) return FailureCause::BadId;
    const std::string code = UpperCaseAscii(text);
    if (!FindGptTypeByCode(code)) return FailureCause::UnknownCode;
    if (IsPooledCode(code) || IsPooledCode(side.scannedId)) return FailureCause::Pooled;
    return std::nullopt;
}

std::optional<FailureCause> RefuseAttributeChange(const PartitionRows& rows, int row, uint64_t attributes) {
    const RowSideEntries& side = rows.Side(row);
    if (!side.gpt) return FailureCause::AttributesOnMbr;
    const uint64_t changed = attributes ^ side.gpt->attributes;
    if (changed == 0) return std::nullopt;
    if (side.otherScheme) return FailureCause::OtherScheme;
    if (side.keepsWindowsRunning) return FailureCause::KeepsWindowsRunning;
    if (side.layoutDiffers) return FailureCause::LayoutDiffers;
    if (IsPooledCode(side.scannedId)) return FailureCause::Pooled;
    // The firmware relies on these two: UEFI marks them "required for the
    // platform to function".
    if ((changed & GptAttributeRequired) && (side.scannedId == EfiSystemCode || side.scannedId == MicrosoftReservedCode))
        return FailureCause::PlatformRequired;
    return std::nullopt;
}

std::vector<PlannedSector> PlanGptTypes(Platform& platform, const PartitionRows& rows, const std::vector<GptChange>& changed,
                                        ChangeFailures& failures) {
    std::vector<GptChange> accepted;
    for (const GptChange& change : changed) {
        std::optional<FailureCause> refusal;
        if (change.type) refusal = RefuseIdText(rows, change.row, rows.Cell(change.row, ColumnId));
        if (!refusal && change.attributes) refusal = RefuseAttributeChange(rows, change.row, rows.Attributes(change.row));
        if (refusal)
            failures.push_back({change.row, *refusal});
        else
            accepted.push_back(change);
    }
    if (accepted.empty()) return {};
    const RowSideEntries& side = rows.Side(accepted.front().row);
    const auto failAll = [&](FailureCause cause) {
        for (const GptChange& change : accepted) failures.push_back({change.row, cause});
        return std::vector<PlannedSector>{};
    };
    const auto device = platform.OpenPhysicalDrive(side.drive, Access::Read);
    if (!device) return failAll(FailureCause::OpenDrive);
    GptTable primary, backup;
    if (const auto cause = ReadBothTables(*device, side, primary, backup)) return failAll(*cause);

    std::vector<uint8_t> array = primary.array;
    std::vector<int> written;
    std::vector<uint32_t> entries;
    for (const auto& [row, type, attributes] : accepted) {
        const GptEntrySide& entry = *rows.Side(row).gpt;
        // A table rewritten since the scan may hold fewer entries, or entries
        // of another size: the index is checked before it is used.
        if (entry.index >= primary.entryCount || entry.entry.size() != primary.entrySize) {
            failures.push_back({row, FailureCause::Stale});
            continue;
        }
        uint8_t* now = array.data() + size_t{entry.index} * primary.entrySize;
        if (!std::equal(entry.entry.begin(), entry.entry.end(), now)) {
            failures.push_back({row, FailureCause::Stale});
            continue;
        }
        // An entry that already holds what is asked needs no write.
        bool changes = false;
        if (type) {
            const auto guid = ParseGuid(FindGptTypeByCode(UpperCaseAscii(rows.Cell(row, ColumnId)))->guid);
            changes = !std::equal(guid->begin(), guid->end(), now + GptEntryTypeGuid);
            std::copy(guid->begin(), guid->end(), now + GptEntryTypeGuid);
        }
        if (attributes && LoadLe64(now + GptEntryAttributes) != rows.Attributes(row)) {
            StoreLe64(now + GptEntryAttributes, rows.Attributes(row));
            changes = true;
        }
        if (!changes) continue;
        written.push_back(row);
        entries.push_back(entry.index);
    }
    if (written.empty()) return {};
    // The backup copy first; the backup array holds the same entries.
    std::vector<PlannedSector> plan;
    std::vector<uint8_t> backupArray = backup.array;
    std::copy_n(array.begin(), size_t{primary.entryCount} * primary.entrySize, backupArray.begin());
    PlanTable(backup, backupArray, side, written, entries, plan);
    PlanTable(primary, array, side, written, entries, plan);
    return plan;
}

}  // namespace quorvane
