// The 11-byte volume label in the boot sector of a FAT32 partition and in its
// backup copy. Windows reads and sets only the root directory's label; once
// Windows has accepted a new label, this copy is brought in step with it, so
// both copies agree and fsck.fat finds nothing to report.
#pragma once

#include <string_view>

#include "apply/ChangeFailure.h"
#include "platform/Platform.h"
#include "scan/PartitionRows.h"

namespace quorvane {

// Puts the first 11 bytes of `label` (never half a double-byte character),
// padded with blanks, into the boot sector of the row's volume, and into the
// backup copy where the boot sector's backup field points at a sector inside
// the reserved area (not FSInfo) that holds the same FAT32 parameters. Goes
// through the volume handle of the row's letter: Windows lets a volume handle
// write its boot sectors, not a physical-drive handle. A boot sector that is
// not FAT32, or whose serial number is not the one the scan saw, is left
// unwritten.
void WriteFat32BootLabel(Platform& platform, const PartitionRows& rows, int row, std::string_view label,
                         ChangeFailures& failures);

}  // namespace quorvane
