// What a run would write, worked out exactly as it would run (every read,
// every check, every refusal) but without writing, saving an undo file or
// locking a volume: the /N switch.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "apply/VolumeLocks.h"

namespace quorvane {

// A sector as it would be written: where it lies on its disk, and its bytes.
struct PlanWrite {
    uint32_t drive = 0;
    uint64_t position = 0;  // bytes from the start of the disk
    std::vector<uint8_t> before;
    std::vector<uint8_t> after;
};

// A label as it would be set through Windows.
struct PlanLabel {
    int row = -1;  // -1 for a volume no row shows (a restore)
    uint32_t drive = 0;
    char letter = 0;
    std::string before;
    std::string after;
};

struct RunPlan {
    std::vector<PlanLock> locks;
    std::vector<PlanLabel> labels;
    std::vector<PlanWrite> writes;
    bool Empty() const { return locks.empty() && labels.empty() && writes.empty(); }
};

}  // namespace quorvane
