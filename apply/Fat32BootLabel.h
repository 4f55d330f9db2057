// The 11-byte volume label in the boot sector of a FAT32 partition and in its
// backup copy. Windows reads and sets only the root directory's label; once
// Windows has accepted a new label, this copy is brought in step with it, so
// both copies agree and fsck.fat finds nothing to report.
#pragma once

#include <string_view>
#include <vector>

#include "apply/ChangeFailure.h"
#include "apply/SectorPatch.h"
#include "platform/Platform.h"
#include "scan/PartitionRows.h"

namespace quorvane {

// The label field as the FAT driver will store `label`: its first 11 bytes
// (never half a double-byte character), a to z upper-cased, blank-padded.
std::string Fat32LabelField(std::string_view label);

// Plans the label field of the row's boot sector, read through the volume
// handle of the row's letter (Windows lets a volume handle write its boot
// sectors, not a physical-drive handle), and of the backup copy where the
// boot sector's backup field points at a sector inside the reserved area
// (not FSInfo) that holds the same FAT32 parameters. It only reads. A boot
// sector that is not FAT32 is not planned; one whose serial number is not
// the one the scan saw is a failure.
std::vector<PlannedSector> PlanFat32BootLabel(Platform& platform, const PartitionRows& rows, int row,
                                              std::string_view label, ChangeFailures& failures);

// Writes the planned boot sectors of one volume, each only if it still holds
// what was read.
void WritePlannedBootSectors(Platform& platform, const std::vector<PlannedSector>& sectors,
                             ChangeFailures& failures);

}  // namespace quorvane
