#include "apply/UndoRestore.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "apply/SectorPatch.h"
#include "apply/VolumeLocks.h"
#include "scan/DiskFormat.h"
#include "scan/GptTypes.h"
#include "text/Gbk.h"
#include "text/Texts.h"
#include "undo/UndoFile.h"

namespace quorvane {

namespace {

std::string DiskLine(const UndoDisk& disk, const char* cause) {
    char signature[16];
    std::snprintf(signature, sizeof signature, "%02X%02X%02X%02X", disk.id[3], disk.id[2], disk.id[1], disk.id[0]);
    const std::string id = disk.idKind == DiskIdKind::GptGuid ? GuidText(disk.id) : signature;
    return std::string(texts::RestoreDisk) + id + texts::FailureColon + cause;
}

// The letter of the volume that starts at `start` on `drive` and has this
// serial number (a temporary letter of the recorded run is gone by now).
std::optional<char> FindVolume(Platform& platform, uint32_t drive, uint64_t start, uint32_t serial) {
    for (char letter = 'C'; letter <= 'Z'; ++letter) {
        const VolumeExtent extent = platform.FirstDiskExtent(letter);
        if (extent.startingOffset == 0 || extent.diskNumber != drive ||
            extent.startingOffset != static_cast<int64_t>(start))
            continue;
        const auto volume = platform.QueryVolume(letter);
        if (volume && volume->serialNumber == serial) return letter;
    }
    return std::nullopt;
}

// One write of the restore: the record, and what its sector (or label)
// held when the restore read it, which the restore's own undo file keeps as
// its "before".
struct Step {
    const UndoRecord* record = nullptr;
    uint32_t drive = 0;
    char letter = 0;  // boot sectors and labels
    std::vector<uint8_t> current;
};

// A sector the recorded run was writing when it stopped (a power cut in the
// middle of a sector): every byte is either its old or its new value. It is
// put back as the run's own failed-write path puts one back.
bool Torn(const std::vector<uint8_t>& now, const UndoRecord& record) {
    if (now.size() != record.before.size() || now.size() != record.after.size()) return false;
    for (size_t i = 0; i < now.size(); ++i)
        if (now[i] != record.before[i] && now[i] != record.after[i]) return false;
    return true;
}

// What one disk of the file needs. The disk is left alone (a problem line
// says why, and false is returned) as soon as one record, a label included,
// finds anything but its "before", its "after" or a sector torn between the
// two, or cannot be looked at: another program changed that disk since.
bool PlanDisk(Platform& platform, const std::vector<const UndoRecord*>& records, uint32_t drive,
              std::vector<Step>& steps, std::vector<std::string>& problems) {
    const UndoDisk& disk = records.front()->disk;
    std::vector<Step> planned;
    const auto device = platform.OpenPhysicalDrive(drive, Access::Read);
    for (const UndoRecord* record : records) {
        Step step{record, drive, 0, {}};
        if (record->kind == UndoKind::BootSector || record->kind == UndoKind::Label) {
            const auto letter = FindVolume(platform, drive, record->volumeStart, record->volumeSerial);
            if (!letter) {
                problems.push_back(DiskLine(disk, texts::RestoreNoVolume));
                return false;
            }
            step.letter = *letter;
        }
        if (record->kind == UndoKind::Label) {
            const auto volume = platform.QueryVolume(step.letter);
            if (!volume) {
                problems.push_back(DiskLine(disk, texts::RestoreNoVolume));
                return false;
            }
            const std::string& now = volume->label;
            const std::string after(record->after.begin(), record->after.end());
            const std::string before(record->before.begin(), record->before.end());
            // Windows reports FAT labels upper-cased.
            if (now == before) continue;  // never set, or set back already
            if (UpperCaseAscii(now) != UpperCaseAscii(after)) {
                problems.push_back(DiskLine(disk, texts::RestoreLabelChanged));
                return false;
            }
            step.current.assign(now.begin(), now.end());
            planned.push_back(std::move(step));
            continue;
        }
        std::unique_ptr<SectorDevice> volume;
        if (record->kind == UndoKind::BootSector) volume = platform.OpenVolume(step.letter, Access::Read);
        SectorDevice* reader = record->kind == UndoKind::BootSector ? volume.get() : device.get();
        // The drive must still have the sector size the file was made with.
        if (!reader || reader->LogicalSectorSize() != record->disk.sectorSize ||
            ReadWholeSector(*reader, record->position, step.current) != PatchResult::Done) {
            problems.push_back(DiskLine(disk, texts::RestoreWriteFailed));
            return false;
        }
        if (step.current == record->before) continue;  // that write never happened
        if (step.current != record->after && !Torn(step.current, *record)) {
            problems.push_back(DiskLine(disk, texts::RestoreDiskChanged));
            return false;
        }
        planned.push_back(std::move(step));
    }
    for (Step& step : planned) steps.push_back(std::move(step));
    return true;
}

// The rows (of the scan) whose entries a table or GPT step puts back: an
// MBR or EBR entry, or a GPT entry, whose bytes differ between what the
// sector holds now and what it gets back.
std::vector<int> RowsOfStep(const PartitionRows& rows, const Step& step) {
    std::vector<int> changed;
    for (int row = 0; row < rows.Count(); ++row) {
        const RowSideEntries& side = rows.Side(row);
        if (side.drive != step.drive || side.entrySectorPosition != step.record->position) continue;
        const uint32_t entryOffset = side.gpt ? side.idByteOffset : side.idByteOffset - EntryType;
        const size_t size = side.gpt ? side.gpt->entry.size() : PartitionEntrySize;
        const auto& after = step.record->before;
        if (entryOffset + size > after.size() || entryOffset + size > step.current.size()) continue;
        if (!std::equal(after.begin() + entryOffset, after.begin() + entryOffset + size,
                        step.current.begin() + entryOffset))
            changed.push_back(row);
    }
    return changed;
}

// The restore's own undo file: what it found, and what it puts back.
UndoRecord Reversed(const Step& step) {
    UndoRecord reversed = *step.record;
    reversed.before = step.current;
    reversed.after = step.record->before;
    return reversed;
}

}  // namespace

RestoreOutcome RestoreUndoFile(Platform& platform, const std::string& path, const std::vector<SeenDrive>& drives,
                               const PartitionRows& rows, RunPlan* dryRun) {
    RestoreOutcome outcome;
    auto& problems = outcome.problems;
    const auto content = platform.ReadUndoFile(path);
    if (!content) {
        problems.push_back(texts::RestoreUnreadable);
        return outcome;
    }
    const auto records = DecodeUndoFile(*content);
    if (!records) {
        problems.push_back(texts::RestoreDamaged);
        return outcome;
    }

    // The records of each disk, in the order of the file.
    std::vector<std::vector<const UndoRecord*>> disks;
    for (const UndoRecord& record : *records) {
        auto same = std::find_if(disks.begin(), disks.end(),
                                 [&](const auto& group) { return group.front()->disk == record.disk; });
        if (same == disks.end())
            disks.push_back({&record});
        else
            same->push_back(&record);
    }
    std::vector<Step> steps;
    for (const auto& group : disks) {
        // A disk recorded without its size (the system could not tell it)
        // cannot be told from another with the same id: it is not looked for.
        if (group.front()->disk.size == 0) {
            problems.push_back(DiskLine(group.front()->disk, texts::RestoreNoDisk));
            continue;
        }
        std::vector<uint32_t> matches;
        for (const SeenDrive& seen : drives)
            if (UndoDiskOf(seen.identity) == group.front()->disk) matches.push_back(seen.drive);
        if (matches.size() != 1) {
            problems.push_back(DiskLine(group.front()->disk, matches.empty() ? texts::RestoreNoDisk : texts::RestoreManyDisks));
            continue;
        }
        static_cast<void>(PlanDisk(platform, group, matches.front(), steps, problems));
    }
    if (steps.empty()) {
        if (problems.empty()) problems.push_back(texts::RestoreNothing);
        return outcome;
    }

    // The volumes whose entries change go back only locked, drive by drive.
    std::map<uint32_t, std::vector<int>> changedRows;
    for (const Step& step : steps)
        if (step.record->kind == UndoKind::TableSector || step.record->kind == UndoKind::GptSector)
            for (const int row : RowsOfStep(rows, step)) changedRows[step.drive].push_back(row);
    if (dryRun) {
        for (const auto& [drive, changed] : changedRows)
            for (const PlanLock& lock : LocksOfRows(rows, changed)) dryRun->locks.push_back(lock);
        for (const Step& step : steps) {
            const UndoRecord& record = *step.record;
            if (record.kind == UndoKind::Label)
                dryRun->labels.push_back({-1, step.drive, step.letter, std::string(step.current.begin(), step.current.end()),
                                          std::string(record.before.begin(), record.before.end())});
            else
                dryRun->writes.push_back({step.drive,
                                          (record.kind == UndoKind::BootSector ? record.volumeStart : 0) + record.position,
                                          step.current, record.before});
        }
        return outcome;
    }

    std::vector<UndoRecord> reversed;
    for (const Step& step : steps) reversed.push_back(Reversed(step));
    outcome.undoFile = platform.SaveUndoFile(EncodeUndoFile(reversed));
    if (!outcome.undoFile) {
        problems.push_back(texts::FailUndoNotSaved);
        return outcome;
    }
    // As the recorded run did: labels and boot sectors through their volumes
    // first, then the tables, which can renumber the partitions behind them.
    // A GPT's backup copy goes first, as the recorded run wrote it.
    // A GPT is put back whole or not at all: after a failed write no more of
    // that drive's GPT sectors are written, and those already written (the
    // failed one too) get the bytes they held again.
    std::map<uint32_t, std::vector<const Step*>> gptWritten;
    std::set<uint32_t> gptFailed;
    // A copy that cannot be put back whole is said, with the restore's own
    // undo file that holds it as it was.
    const auto takeBack = [&](uint32_t drive, const UndoDisk& disk) {
        const auto device = platform.OpenPhysicalDrive(drive, Access::ReadWrite);
        bool whole = device != nullptr;
        for (auto step = gptWritten[drive].rbegin(); device && step != gptWritten[drive].rend(); ++step)
            whole = PutBack(*device, (*step)->record->position, (*step)->current, (*step)->record->before) ==
                        PatchResult::Done &&
                    whole;
        if (!whole) problems.push_back(DiskLine(disk, texts::FailGptHalfChanged) + *outcome.undoFile);
    };
    std::map<uint32_t, VolumeLocks> locks;
    std::set<uint32_t> inUse;  // drives whose tables stay as they are: a volume could not be locked
    // Before a drive's first table sector: its changed volumes locked. A
    // restore puts back bytes Windows may still hold as its view (a run whose
    // re-read failed): it is not held back where the layout differs.
    const auto HoldDrive = [&](uint32_t drive, const UndoDisk& disk) {
        ChangeFailures busy;
        if (locks[drive].LockDrive(platform, drive, rows, LocksOfRows(rows, changedRows[drive]), busy)) return true;
        problems.push_back(DiskLine(disk, texts::FailVolumeInUse));
        return false;
    };
    for (const UndoKind kind : {UndoKind::Label, UndoKind::BootSector, UndoKind::GptSector, UndoKind::TableSector}) {
        for (const Step& step : steps) {
            const UndoRecord& record = *step.record;
            if (record.kind != kind) continue;
            if (kind == UndoKind::GptSector && gptFailed.count(step.drive)) continue;
            const bool table = kind == UndoKind::GptSector || kind == UndoKind::TableSector;
            if (table && !locks.count(step.drive) && !HoldDrive(step.drive, record.disk)) inUse.insert(step.drive);
            if (table && inUse.count(step.drive)) continue;
            bool done = false;
            if (kind == UndoKind::Label) {
                done = platform.SetVolumeLabel(step.letter, std::string(record.before.begin(), record.before.end()));
            } else {
                const auto device = kind == UndoKind::BootSector ? platform.OpenVolume(step.letter, Access::ReadWrite)
                                                                 : platform.OpenPhysicalDrive(step.drive, Access::ReadWrite);
                done = device && WriteIfUnchanged(*device, record.position, step.current, record.before) ==
                                     PatchResult::Done;
                if (done && kind != UndoKind::BootSector) static_cast<void>(device->RefreshLayout());
            }
            if (kind == UndoKind::GptSector) gptWritten[step.drive].push_back(&step);
            if (done) continue;
            problems.push_back(DiskLine(record.disk, texts::RestoreWriteFailed));
            if (kind != UndoKind::GptSector) continue;
            gptFailed.insert(step.drive);
            takeBack(step.drive, record.disk);
        }
    }
    return outcome;
}

}  // namespace quorvane
