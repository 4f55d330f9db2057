// The only code that writes a partition table: the ID byte of an MBR or EBR
// entry, one read-modify-write cycle per changed row, each behind the checks
// that the drive still holds the disk the scan saw.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "apply/ChangeFailure.h"
#include "apply/SectorPatch.h"
#include "platform/Platform.h"
#include "scan/PartitionRows.h"

namespace quorvane {

// The name cell for an ID text of the row: the MBR name, or the GPT type's.
std::string IdNameOfRow(const PartitionRows& rows, int row, std::string_view id);

// One or two hexadecimal digits, either case; anything else is refused.
std::optional<uint8_t> ParseIdText(std::string_view idText);

// Why changing the row's ID to `newId` is refused, before anything is read:
// an entry of a disk Windows reads as GPT, a change to EE, from or to 42, a
// container holding logical partitions changed to a non-container, or a
// change to a container on a drive that has one (counting the ID cells of
// the other rows, so pending changes count too).
std::optional<FailureCause> RefuseIdChange(const PartitionRows& rows, int row, uint8_t newId);

// Upper-cases every ID cell and brings its name cell up to date, then plans
// the table sectors that carry the ID byte of every row whose ID cell
// differed from the scan (one planned sector for all the rows whose entries
// share it). It only reads. A row is planned only when its text is a valid
// ID, the change is not refused, the drive still has the disk signature and
// size the scan saw, and the sector still ends in 55 AA and holds the whole
// entry the scan read (a row whose entry already holds the new ID needs no
// write).
std::vector<PlannedSector> PlanPartitionIds(Platform& platform, PartitionRows& rows, ChangeFailures& failures);

// Writes the planned table sectors, each only if it still holds what was
// read, after locking the volumes of the changed rows and checking again
// that each drive holds the disk the scan saw. A GPT change that cannot be
// put back after a failed write names `undoFile` in its failure.
void WritePlannedTableSectors(Platform& platform, const PartitionRows& rows, const std::vector<PlannedSector>& sectors,
                              const std::string& undoFile, ChangeFailures& failures);

// Whether the drive still holds the disk the scan saw: its size and the disk
// signature of its MBR. A size that cannot be told, now or at the scan, is
// no proof.
std::optional<FailureCause> CheckDiskIdentity(SectorDevice& device, const DiskIdentity& scanned);

}  // namespace quorvane
