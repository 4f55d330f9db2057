// The whole-run fuzzer's second program run: /U with the undo file the first
// run saved (altered as the case says, and with other programs' writes to
// the disks since), judged by the checker's own reading of that file
// (fuzz/RestoreModel.h). Also what the first run's file must hold: a record
// on the right disk for every sector and label the run wrote.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/FuzzCase.h"
#include "platform/image/ImagePlatform.h"
#include "platform/image/MemoryImage.h"

namespace quorvane::fuzz {

// Violations of the first run: a write before its undo file was saved, or a
// write its file holds no record of (on the disk the scan saw in that
// drive: `scanned`).
std::vector<std::string> CheckUndoFileOfRun(const std::vector<uint8_t>& file,
                                            const std::vector<CallRecord>& calls,
                                            const std::vector<SharedMemoryImage>& scanned, uint32_t unit);

// Runs /U on `disks` (the media after the first run; changed in place) and
// judges it. When neither the file nor the disks were touched since, a disk
// put back whole must hold what it held before the first run wrote
// (`beforeRun`), but for its label entries. Windows answers the layout
// query as it did for the run (`layoutAnswered`). With `dryFirst`, /N /U runs
// before on the same disks: it writes, saves and locks nothing, and plans
// exactly what /U then writes.
struct RestoreStage {
    std::vector<std::string> violations;
    int exitCode = 0;
    int restoredDisks = 0;  // disks /U put something back on, as planned
};
RestoreStage RestoreAfterRun(const std::vector<uint8_t>& file, const std::vector<UndoEdit>& edits,
                             const std::vector<SharedMemoryImage>& disks,
                             const std::vector<SharedMemoryImage>& beforeRun, uint32_t unit,
                             bool layoutAnswered, bool dryFirst);

}  // namespace quorvane::fuzz
