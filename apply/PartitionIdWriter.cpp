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

// Whether the drive still holds the disk the scan saw: its size and the
// disk signature of its MBR.
std::optional<FailureCause> CheckDiskIdentity(SectorDevice& device, const DiskIdentity& scanned) {
    if (device.Size() != scanned.size) return FailureCause::Replaced;
    Sector mbr{};
    uint32_t transferred = 0;
    if (!device.Seek(0)) return FailureCause::Seek;
    if (!device.Read(mbr, transferred) || transferred != SectorSize) return FailureCause::Read;
    if (LoadLe32(mbr.data() + DiskSignatureOffset) != scanned.signature) return FailureCause::Replaced;
    return std::nullopt;
}

void WriteIdByte(Platform& platform, const PartitionRows& rows, int row, ChangeFailures& failures) {
    const RowSideEntries& side = rows.Side(row);
    const auto newId = ParseIdText(rows.Cell(row, ColumnId));
    if (!newId) {
        failures.push_back({row, FailureCause::BadId});
        return;
    }
    if (const auto refusal = RefuseIdChange(rows, row, *newId)) {
        failures.push_back({row, *refusal});
        return;
    }
    if (!side.tableSigned) {
        failures.push_back({row, FailureCause::NoSignature});
        return;
    }
    const auto device = platform.OpenPhysicalDrive(side.drive, Access::ReadWrite);
    if (!device) {
        failures.push_back({row, FailureCause::OpenDrive});
        return;
    }
    if (const auto cause = CheckDiskIdentity(*device, side.disk)) {
        failures.push_back({row, *cause});
        return;
    }
    const uint32_t entryOffset = side.idByteOffset - EntryType;
    RawEntry wanted = side.scannedEntry;
    wanted[EntryType] = *newId;
    // Why the sector was left alone, when it was.
    std::optional<FailureCause> declined;
    const PatchResult result = PatchSector(*device, side.entrySectorPosition, [&](Sector& sector) {
        const RawEntry now = ReadRawEntry(sector, entryOffset);
        if (!HasBootSignature(sector))
            declined = FailureCause::Replaced;
        else if (now == wanted)
            return false;  // already written (the same change made twice): nothing to do
        else if (now != side.scannedEntry)
            declined = FailureCause::Stale;
        if (declined) return false;
        sector[side.idByteOffset] = *newId;
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
        case PatchResult::Declined:
            if (declined) failures.push_back({row, *declined});
            return;
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

std::optional<FailureCause> RefuseIdChange(const PartitionRows& rows, int row, uint8_t newId) {
    const RowSideEntries& side = rows.Side(row);
    const auto scanned = ParseIdText(side.scannedId).value_or(EmptyType);
    if (side.gptDisk) return FailureCause::GptDisk;
    if (newId == ProtectiveType) return FailureCause::ToProtective;
    if (scanned == DynamicType || newId == DynamicType) return FailureCause::Dynamic;
    if (IsExtendedType(scanned)) {
        // 05 and 0F differ only in how the chain's sectors are addressed.
        if (side.holdsLogicals && !IsExtendedType(newId)) return FailureCause::ContainerInUse;
        return std::nullopt;
    }
    if (!IsExtendedType(newId)) return std::nullopt;
    // A second container would make some partition's boot sector be read as
    // an EBR. Another row's cell counts by the byte it stands for ("5" too).
    for (int other = 0; other < rows.Count(); ++other) {
        if (other == row || rows.Side(other).drive != side.drive) continue;
        const auto otherId = ParseIdText(rows.Cell(other, ColumnId));
        if (IsExtendedId(rows.Side(other).scannedId) || (otherId && IsExtendedType(*otherId)))
            return FailureCause::SecondContainer;
    }
    return std::nullopt;
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
