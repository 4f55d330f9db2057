#include "apply/PartitionIdWriter.h"

#include <algorithm>
#include <map>
#include <set>
#include <vector>

#include "apply/GptTypeWriter.h"
#include "apply/VolumeLocks.h"
#include "text/Texts.h"

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

// Adds the row's change to the plan of its sector, reading the sector when
// no other row of the plan has.
void PlanIdByte(Platform& platform, const PartitionRows& rows, int row, std::vector<PlannedSector>& plan,
                ChangeFailures& failures) {
    const RowSideEntries& side = rows.Side(row);
    if (const auto refusal = RefuseIdText(rows, row, rows.Cell(row, ColumnId))) {
        failures.push_back({row, *refusal});
        return;
    }
    const auto newId = ParseIdText(rows.Cell(row, ColumnId));
    if (!side.tableSigned) {
        failures.push_back({row, FailureCause::NoSignature});
        return;
    }
    PlannedSector* sector = nullptr;
    for (PlannedSector& planned : plan)
        if (planned.drive == side.drive && planned.position == side.entrySectorPosition) sector = &planned;
    if (!sector) {
        const auto device = platform.OpenPhysicalDrive(side.drive, Access::Read);
        if (!device) {
            failures.push_back({row, FailureCause::OpenDrive});
            return;
        }
        if (const auto cause = CheckDiskIdentity(*device, side.disk)) {
            failures.push_back({row, *cause});
            return;
        }
        PlannedSector read;
        read.drive = side.drive;
        read.disk = side.disk;
        read.position = side.entrySectorPosition;
        const PatchResult result = ReadWholeSector(*device, read.position, read.before);
        if (result != PatchResult::Done) {
            failures.push_back({row, CauseOf(result)});
            return;
        }
        if (!HasBootSignature(Head(read.before))) {
            failures.push_back({row, FailureCause::Replaced});
            return;
        }
        read.after = read.before;
        plan.push_back(std::move(read));
        sector = &plan.back();
    }
    const uint32_t entryOffset = side.idByteOffset - EntryType;
    RawEntry wanted = side.scannedEntry;
    wanted[EntryType] = *newId;
    const RawEntry now = ReadRawEntry(Head(sector->before), entryOffset);
    if (now == wanted) return;  // already written (the same change made twice): nothing to do
    if (now != side.scannedEntry) {
        failures.push_back({row, FailureCause::Stale});
        return;
    }
    sector->after[side.idByteOffset] = *newId;
    sector->rows.push_back(row);
}

}  // namespace

std::string IdNameOfRow(const PartitionRows& rows, int row, std::string_view id) {
    if (!rows.Side(row).gpt) return std::string(LookupIdName(id));
    const GptType* type = FindGptTypeByCode(UpperCaseAscii(id));
    return type ? std::string(type->name) : std::string(texts::GptUnknownName);
}

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
    // The protective entry of a hybrid MBR guards its GPT as on a GPT disk.
    if (side.gptDisk || scanned == ProtectiveType) return FailureCause::GptDisk;
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

std::optional<FailureCause> CheckDiskIdentity(SectorDevice& device, const DiskIdentity& scanned) {
    // Without its size a drive cannot be told from another with the same
    // disk signature.
    const std::optional<uint64_t> size = device.Size();
    if (!scanned.size || !size) return FailureCause::SizeUnknown;
    if (size != scanned.size) return FailureCause::Replaced;
    std::vector<uint8_t> mbr;
    const PatchResult read = ReadWholeSector(device, 0, mbr);
    if (read != PatchResult::Done) return CauseOf(read);
    if (LoadLe32(mbr.data() + DiskSignatureOffset) != scanned.signature) return FailureCause::Replaced;
    return std::nullopt;
}

std::vector<PlannedSector> PlanPartitionIds(Platform& platform, PartitionRows& rows, ChangeFailures& failures) {
    // A row counts as changed by the text it was edited to, so "0b" over a
    // scanned "0B" is written (with the same byte).
    std::vector<int> changed;
    std::map<uint32_t, std::vector<GptChange>> gptChanges;  // by drive: one plan for all of a disk's GPT changes
    for (int row = 0; row < rows.Count(); ++row) {
        const bool id = rows.HasPendingIdChange(row), attributes = rows.HasPendingAttributeChange(row);
        if (rows.Side(row).gpt && (id || attributes))
            gptChanges[rows.Side(row).drive].push_back({row, id, attributes});
        else if (id)
            changed.push_back(row);
    }
    for (int row = 0; row < rows.Count(); ++row) {
        const std::string id = UpperCaseAscii(rows.Cell(row, ColumnId));
        rows.SetCell(row, ColumnId, id);
        rows.SetCell(row, ColumnIdName, IdNameOfRow(rows, row, id));
    }
    std::vector<PlannedSector> plan;
    for (const int row : changed) PlanIdByte(platform, rows, row, plan, failures);
    for (const auto& [drive, gpt] : gptChanges) {
        std::vector<PlannedSector> gptPlan = PlanGptTypes(platform, rows, gpt, failures);
        plan.insert(plan.end(), gptPlan.begin(), gptPlan.end());
    }
    // A sector whose rows all hold their new ID already needs no write.
    std::erase_if(plan, [](const PlannedSector& sector) { return sector.rows.empty(); });
    return plan;
}

void WritePlannedTableSectors(Platform& platform, const PartitionRows& rows, const std::vector<PlannedSector>& sectors,
                              const std::string& undoFile, ChangeFailures& failures) {
    const auto failAll = [&failures](const PlannedSector& sector, FailureCause cause, const std::string& detail = {}) {
        for (const int row : sector.rows) failures.push_back({row, cause, detail});
    };
    const std::vector<PlanLock> locks = PlanVolumeLocks(rows, sectors);
    for (size_t first = 0; first < sectors.size();) {
        // The sectors of one drive, in plan order, through one handle.
        size_t end = first;
        while (end < sectors.size() && sectors[end].drive == sectors[first].drive) ++end;
        const std::vector<PlannedSector> drive(sectors.begin() + first, sectors.begin() + end);
        first = end;
        // Every volume whose entry changes is locked first; if one cannot
        // be, nothing of the drive is written (one GPT change carries all of
        // the drive's rows, and an MBR sector may carry several).
        VolumeLocks held;
        ChangeFailures lockFailures;
        if (!held.LockDrive(platform, drive.front().drive, rows, locks, lockFailures)) {
            std::set<int> told;
            for (const ChangeFailure& failure : lockFailures) told.insert(failure.row);
            failures.insert(failures.end(), lockFailures.begin(), lockFailures.end());
            for (const PlannedSector& sector : drive)
                for (const int row : sector.rows)
                    if (told.insert(row).second) failures.push_back({row, FailureCause::DiskVolumeInUse});
            continue;
        }
        const auto device = platform.OpenPhysicalDrive(drive.front().drive, Access::ReadWrite);
        std::optional<FailureCause> cause;
        if (!device)
            cause = FailureCause::OpenDrive;
        else
            cause = CheckDiskIdentity(*device, drive.front().disk);
        bool written = false;
        // A GPT change is one whole: its sectors (both copies) are written
        // until one fails; then none follows, and those written, the failed
        // one too, are put back, so that each copy stays whole and right.
        std::vector<size_t> gptWritten;
        bool gptFailed = false;
        for (size_t i = 0; i < drive.size(); ++i) {
            if (cause) {
                failAll(drive[i], *cause);
                continue;
            }
            const bool gpt = drive[i].kind == UndoKind::GptSector;
            if (gpt && gptFailed) continue;  // its rows have failed already
            const PatchResult result = WriteIfUnchanged(*device, drive[i].position, drive[i].before, drive[i].after);
            if (result == PatchResult::Done) {
                written = true;
                if (gpt) gptWritten.push_back(i);
                continue;
            }
            failAll(drive[i], CauseOf(result));
            if (!gpt) continue;
            gptFailed = true;
            gptWritten.push_back(i);
            bool whole = true;
            for (auto back = gptWritten.rbegin(); back != gptWritten.rend(); ++back)
                whole = PutBack(*device, drive[*back].position, drive[*back].before, drive[*back].after) ==
                            PatchResult::Done &&
                        whole;
            // A copy may be left half changed: the undo file has every
            // sector of the change as it was.
            if (!whole) failAll(drive[i], FailureCause::GptHalfChanged, undoFile);
        }
        // Let Windows see the new types without a reboot (the volumes are
        // still locked); an image or a system that cannot re-read the layout
        // still has the bytes on disk.
        if (written) static_cast<void>(device->RefreshLayout());
    }
}

}  // namespace quorvane
