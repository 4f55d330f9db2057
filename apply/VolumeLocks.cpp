#include "apply/VolumeLocks.h"

#include <algorithm>

namespace quorvane {

std::vector<PlanLock> LocksOfRows(const PartitionRows& rows, const std::vector<int>& changed) {
    std::vector<PlanLock> locks;
    for (const int row : changed) {
        const bool known = std::any_of(locks.begin(), locks.end(), [row](const PlanLock& l) { return l.row == row; });
        if (known) continue;
        for (const DeviceMapEntry& entry : rows.DeviceMap()) {
            if (entry.row != row) continue;
            PlanLock lock{row, {}};
            lock.name.letter = RowLetter(rows, row);
            lock.name.drive = entry.drive;
            lock.name.partition = entry.partition;
            // Two rows under one letter (two entries of one start) are one
            // volume: a second open of it would meet the first one's lock.
            const bool sameVolume = std::any_of(locks.begin(), locks.end(), [&lock](const PlanLock& l) {
                return lock.name.letter != 0 ? l.name.letter == lock.name.letter
                                             : l.name.letter == 0 && l.name.drive == lock.name.drive &&
                                                   l.name.partition == lock.name.partition;
            });
            if (!sameVolume) locks.push_back(lock);
        }
    }
    return locks;
}

std::vector<PlanLock> PlanVolumeLocks(const PartitionRows& rows, const std::vector<PlannedSector>& sectors) {
    std::vector<int> changed;
    for (const PlannedSector& sector : sectors) changed.insert(changed.end(), sector.rows.begin(), sector.rows.end());
    return LocksOfRows(rows, changed);
}

bool LockWithRetries(Platform& platform, SectorDevice& volume) {
    for (int attempt = 1; attempt <= LockTries; ++attempt) {
        if (volume.LockVolume()) return true;
        if (attempt < LockTries) platform.Pause(LockPauseMs);
    }
    return false;
}

bool VolumeLocks::LockDrive(Platform& platform, uint32_t drive, const PartitionRows& rows,
                            const std::vector<PlanLock>& locks, ChangeFailures& failures) {
    bool all = true;
    for (const PlanLock& lock : locks) {
        if (rows.Side(lock.row).drive != drive) continue;
        VolumeOpenStatus status = VolumeOpenStatus::Failed;
        auto volume = platform.OpenVolumeToLock(lock.name, status);
        if (status == VolumeOpenStatus::NothingMounted) continue;
        if (!volume || !LockWithRetries(platform, *volume)) {
            failures.push_back({lock.row, FailureCause::VolumeInUse});
            all = false;
            continue;
        }
        // The lock has flushed the volume and shut out every other handle;
        // a refused dismount (Wine refuses it on disk images) leaves it so.
        static_cast<void>(volume->DismountVolume());
        held_.push_back(std::move(volume));
    }
    return all;
}

}  // namespace quorvane
