// The 11-byte volume label in the boot sector of a FAT32 partition. Windows
// reports and sets the root directory's label; this copy is shown and kept in
// step for the rows with a FAT32 ID.
#pragma once

#include <string>
#include <string_view>

#include "apply/ChangeFailure.h"
#include "platform/Platform.h"
#include "scan/PartitionRows.h"

namespace quorvane {

// "0B", "0C", "1B", "1C" and "BC" (exact texts).
bool IsFat32Id(std::string_view idText);

// The label field of the row's partition as the cell shows it: 11 bytes,
// trailing blanks kept, ended early by a zero byte; 11 blanks when the drive
// cannot be read or the sector is not a FAT32 boot sector.
std::string ReadFat32BootLabel(Platform& platform, const PartitionRows& rows, int row);

// Puts the first 11 bytes of `label` (never half a double-byte character),
// padded with blanks, into the boot sector of the row's volume and into its
// backup copy when that is a FAT32 boot sector too. Goes through the volume
// handle of the row's letter: Windows lets a volume handle write its boot
// sectors, not a physical-drive handle. A sector that is not a FAT32 boot
// sector is left unwritten.
void WriteFat32BootLabel(Platform& platform, const PartitionRows& rows, int row, std::string_view label,
                         ChangeFailures& failures);

}  // namespace quorvane
