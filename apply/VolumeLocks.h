// The volumes whose partitions' entries a run changes. Windows drops such a
// volume when it reads the changed layout, while files on it may be open and
// unflushed; so each is locked (which flushes it and shuts out every other
// handle) and dismounted before the table sectors are written, and stays
// locked until Windows has read the new layout.
#pragma once

#include <memory>
#include <vector>

#include "apply/ChangeFailure.h"
#include "apply/SectorPatch.h"
#include "platform/Platform.h"
#include "scan/PartitionRows.h"

namespace quorvane {

// FSCTL_LOCK_VOLUME fails while another process has the volume open; it is
// tried this often, this many milliseconds apart.
inline constexpr int LockTries = 10;
inline constexpr uint32_t LockPauseMs = 100;

// A volume to lock: the row whose entry changes, and how its volume is named
// (its letter, else its partition in Windows' numbering).
struct PlanLock {
    int row = 0;
    VolumeName name;
};

// The volumes of `changed` rows: every one that is a partition to Windows
// (it has a number in `DeviceMap`), each once.
std::vector<PlanLock> LocksOfRows(const PartitionRows& rows, const std::vector<int>& changed);
// The volumes of the rows whose changes `sectors` carry.
std::vector<PlanLock> PlanVolumeLocks(const PartitionRows& rows, const std::vector<PlannedSector>& sectors);

// Tries FSCTL_LOCK_VOLUME on an open volume, LockTries times.
bool LockWithRetries(Platform& platform, SectorDevice& volume);

// The locks a run holds; closing a handle ends its lock.
class VolumeLocks {
 public:
    // Locks and dismounts the planned volumes of `drive`. Nothing mounted
    // there (the open finds no such file or path) needs no lock. When one
    // cannot be opened or locked, its row fails with VolumeInUse and false is
    // returned; the locks taken so far are kept until Release.
    bool LockDrive(Platform& platform, uint32_t drive, const PartitionRows& rows,
                   const std::vector<PlanLock>& locks, ChangeFailures& failures);
    void Release() { held_.clear(); }

 private:
    std::vector<std::unique_ptr<SectorDevice>> held_;
};

}  // namespace quorvane
