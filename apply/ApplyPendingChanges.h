// The one pass that turns the edited cells into changes on the disks.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "apply/ChangeFailure.h"
#include "apply/RunPlan.h"
#include "platform/Platform.h"
#include "scan/PartitionRows.h"

namespace quorvane {

struct ApplyOutcome {
    ChangeFailures failures;
    // What the user is told that is not a failure (code page 936): a GPT
    // partition hidden on removable media, where Windows shows it anyway.
    std::vector<std::string> information;
    // The undo file saved before the first write; none when nothing was to
    // be written.
    std::optional<std::string> undoFile;
};

// First plans every change, reading only: each changed label (to a volume
// that is still the row's), the boot-sector copies of relabelled FAT32 rows,
// and the table sectors of changed IDs. Then saves the undo file; if that
// fails, nothing is written. Then sets the labels through Windows, writes the
// boot sectors of the labels Windows accepted, and the table sectors, each
// only if it still holds what was read. The caller then closes the window.
// With `dryRun` the pass stops after planning and fills it: nothing is
// written, no undo file saved, no volume locked.
ApplyOutcome ApplyPendingChanges(Platform& platform, PartitionRows& rows, RunPlan* dryRun = nullptr);

}  // namespace quorvane
