#include "undo/UndoRestore.h"

#include <cstdio>
#include <map>
#include <set>

#include "apply/SectorPatch.h"
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

// The restore's own undo file: what it found, and what it puts back.
UndoRecord Reversed(const Step& step) {
    UndoRecord reversed = *step.record;
    reversed.before = step.current;
    reversed.after = step.record->before;
    return reversed;
}

}  // namespace

RestoreOutcome RestoreUndoFile(Platform& platform, const std::string& path, const std::vector<SeenDrive>& drives) {
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
    const auto takeBack = [&](uint32_t drive) {
        const auto device = platform.OpenPhysicalDrive(drive, Access::ReadWrite);
        if (!device) return;
        for (auto step = gptWritten[drive].rbegin(); step != gptWritten[drive].rend(); ++step)
            static_cast<void>(
                PutBack(*device, (*step)->record->position, (*step)->current, (*step)->record->before));
    };
    for (const UndoKind kind : {UndoKind::Label, UndoKind::BootSector, UndoKind::GptSector, UndoKind::TableSector}) {
        for (const Step& step : steps) {
            const UndoRecord& record = *step.record;
            if (record.kind != kind) continue;
            if (kind == UndoKind::GptSector && gptFailed.count(step.drive)) continue;
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
            takeBack(step.drive);
        }
    }
    return outcome;
}

}  // namespace quorvane
