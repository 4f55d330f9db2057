// The one pass that turns the edited cells into changes on the disks.
#pragma once

#include "apply/ChangeFailure.h"
#include "platform/Platform.h"
#include "scan/PartitionRows.h"

namespace quorvane {

// Sets every changed label through Windows, then writes the boot-sector label
// of every relabelled FAT32 row, then every changed ID byte. A label goes
// only to a volume that is still the row's partition. Returns what did not
// reach the disk; the caller then closes the main window.
ChangeFailures ApplyPendingChanges(Platform& platform, PartitionRows& rows);

}  // namespace quorvane
