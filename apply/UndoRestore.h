// /U: puts back what an undo file recorded, on the disks it names, whatever
// their drive numbers are now, and only where the disk still holds what the
// recorded run wrote.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "apply/RunPlan.h"
#include "platform/Platform.h"
#include "scan/PartitionRows.h"
#include "scan/ScanDisks.h"

namespace quorvane {

struct RestoreOutcome {
    std::vector<std::string> problems;    // one line each, code page 936
    std::optional<std::string> undoFile;  // the restore's own undo file, when it wrote
};

// Each disk of the file is found among `drives` by its identity (id, size
// and sector size together); none or more than one match, or a disk recorded
// without its size: that disk is left alone. A sector holding its "after"
// bytes, or torn between its "before" and "after" bytes (each byte one of
// the two), gets its "before" bytes back; one holding its "before" bytes is
// left as it is. A label is set back while Windows reports the label the run
// set. If any record of a disk, a label included, finds anything else,
// nothing on that disk is touched. The restore saves its own undo file
// first, so it can be undone too. The volumes of the partitions whose
// entries a table sector puts back (`rows`, the scan's) are locked before
// that drive's tables are written, as any ID change locks them. With
// `dryRun` it stops after planning and fills it.
RestoreOutcome RestoreUndoFile(Platform& platform, const std::string& path, const std::vector<SeenDrive>& drives,
                               const PartitionRows& rows, RunPlan* dryRun = nullptr);

}  // namespace quorvane
