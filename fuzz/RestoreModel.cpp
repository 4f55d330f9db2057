#include "fuzz/RestoreModel.h"

#include <algorithm>
#include <map>
#include <set>

#include "fuzz/Oracle.h"

namespace quorvane::fuzz {

namespace {

std::vector<uint8_t> SectorAt(const MemoryImage& image, uint64_t position, uint32_t unit) {
    std::vector<uint8_t> bytes(unit);
    image.ReadAt(position, bytes.data(), unit);
    return bytes;
}

bool LiesWhole(uint64_t position, uint64_t count, uint64_t size) {
    return position <= size && size - position >= count;
}

// Every byte either its "before" or its "after" value: a write cut in the
// middle of the sector.
bool Torn(const std::vector<uint8_t>& now, const UndoEntry& e) {
    if (now.size() != e.before.size() || now.size() != e.after.size()) return false;
    for (size_t i = 0; i < now.size(); ++i)
        if (now[i] != e.before[i] && now[i] != e.after[i]) return false;
    return true;
}

// A FAT32 volume Windows shows under a letter: the restore finds a record's
// volume among them by its start and serial number.
struct LetteredVolume {
    uint64_t start = 0;
    FatVolume fat;
};

struct DriveView {
    std::optional<UndoEntry> disk;
    std::vector<LetteredVolume> volumes;
    size_t letters = 0;  // partitions that take a letter
};

DriveView ViewOf(const RestoreDrive& drive) {
    DriveView view;
    view.disk = DiskOfDrive(*drive.image, drive.sectorSize);
    // Windows reads the disk as it is now.
    const std::vector<SharedMemoryImage> disks{drive.image};
    const ExpectedScan scan =
        ExpectScan(disks, std::nullopt, {}, drive.sectorSize, drive.layoutAnswered ? &disks : nullptr);
    for (const ExpectedRow& row : scan.rows) {
        if (!TakesLetter(row) || row.start == 0) continue;
        ++view.letters;
        const auto extent = WindowsPartition(*drive.image, *row.windowsNumber, drive.sectorSize);
        if (!extent) continue;
        if (const auto fat = MountFat32(*drive.image, extent->start, extent->length))
            view.volumes.push_back({extent->start, *fat});
    }
    return view;
}

// The records of one disk against the drive that holds it.
void PlanDisk(RestoreDisk& d, const RestoreDrive& drive, const DriveView& view, bool enoughLetters) {
    const MemoryImage& image = *drive.image;
    const uint32_t unit = drive.sectorSize;
    for (const UndoEntry* e : d.entries) {
        std::optional<FatVolume> volume;
        if (e->kind == 2 || e->kind == 3) {
            for (const LetteredVolume& v : view.volumes)
                if (!volume && v.start == e->volumeStart && v.fat.serial == e->serial) volume = v.fat;
            if (!volume && !enoughLetters) {
                d.undecided = true;
                return;
            }
            if (!volume) return;  // no such volume: refused
        }
        if (e->kind == 3) {
            const std::string now = ReportedLabel(image, *volume);
            const std::string before(e->before.begin(), e->before.end()),
                after(e->after.begin(), e->after.end());
            if (now == before) continue;
            if (UpperGbk(now) != UpperGbk(after)) return;
            RestoreWrite write{volume->start, e->before, true, volume, {}};
            const auto reported = LabelAfterSet(image, *volume, before);
            if (reported)
                write.reported = *reported;
            else
                d.writeFails = true;  // Windows refuses the old label
            d.writes.push_back(write);
            continue;
        }
        uint64_t position = e->position;
        if (e->kind == 2) {
            if (!LiesWhole(e->position, unit, volume->length)) return;  // the volume cannot read it
            position += volume->start;
        }
        if (!LiesWhole(position, unit, image.Size())) return;
        const std::vector<uint8_t> now = SectorAt(image, position, unit);
        if (now == e->before) continue;
        if (now != e->after && !Torn(now, *e)) return;
        // A volume handle of a mounted FAT volume writes only its reserved sectors.
        if (e->kind == 2 && e->position + unit > volume->ReservedBytes()) d.writeFails = true;
        d.writes.push_back({position, e->before, false, volume, {}});
    }
    d.refused = false;
    // Two writes to one sector: the second finds the first one's bytes. A
    // label in a sector that is also written, or two labels of one volume:
    // what comes of them is not told here.
    std::set<uint64_t> sectors, labelSectors;
    for (const RestoreWrite& w : d.writes) {
        if (w.label) {
            const auto slot = FindLabelSlot(image, *w.volume);
            const uint64_t at = slot ? slot->position / unit * unit : w.position;
            if (!labelSectors.insert(at).second || sectors.count(at)) d.undecided = true;
            continue;
        }
        if (!sectors.insert(w.position).second) d.writeFails = true;
        if (labelSectors.count(w.position)) d.undecided = true;
    }
}

}  // namespace

std::optional<UndoEntry> DiskOfDrive(const MemoryImage& image, uint32_t sectorSize) {
    if (image.Size() < sectorSize) return std::nullopt;
    UndoEntry disk;
    disk.diskSize = image.Size();
    disk.sectorSize = sectorSize;
    uint8_t mbr[512] = {};
    image.ReadAt(0, mbr, sizeof mbr);
    std::copy_n(mbr + 0x1B8, 4, disk.id.begin());
    bool protective = false;
    for (int slot = 0; slot < 4; ++slot) protective = protective || mbr[0x1BE + 16 * slot + 4] == 0xEE;
    const uint64_t sectors = image.Size() / sectorSize;
    if (protective && sectors >= 3) {
        auto gpt = ReadGptAt(image, 0, 1, sectorSize);
        if (!gpt) gpt = ReadGptAt(image, 0, sectors - 1, sectorSize);
        if (gpt) {
            disk.idKind = 2;
            disk.id = gpt->diskGuid;
        }
    }
    return disk;
}

RestorePlan PlanRestore(std::span<const uint8_t> file, const std::vector<RestoreDrive>& drives) {
    RestorePlan plan;
    const auto entries = ReadUndoEntries(file);
    if (!entries) {
        plan.fileRefused = true;
        plan.exitCode = 1;
        return plan;
    }
    std::vector<DriveView> views;
    size_t letters = 0;
    for (const RestoreDrive& drive : drives) {
        views.push_back(ViewOf(drive));
        letters += views.back().letters;
    }
    // D to Z: A, B and C are taken.
    const bool enoughLetters = letters <= 23;
    for (const UndoEntry& e : *entries) {
        const auto same = std::find_if(plan.disks.begin(), plan.disks.end(),
                                       [&](const RestoreDisk& d) { return d.disk.SameDisk(e); });
        if (same != plan.disks.end()) {
            same->entries.push_back(&e);
            continue;
        }
        plan.disks.push_back({});
        plan.disks.back().disk = e;
        plan.disks.back().entries = {&e};
    }
    bool refused = false, fails = false, undecided = false, writes = false;
    for (RestoreDisk& d : plan.disks) {
        std::vector<uint32_t> matches;
        for (uint32_t drive = 0; drive < drives.size(); ++drive)
            if (views[drive].disk && views[drive].disk->SameDisk(d.disk)) matches.push_back(drive);
        // A disk recorded with size 0 names no disk that can be recognised.
        if (d.disk.diskSize != 0 && matches.size() == 1) {
            d.drive = matches.front();
            PlanDisk(d, drives[*d.drive], views[*d.drive], enoughLetters);
        }
        refused = refused || (d.refused && !d.undecided);
        fails = fails || (!d.refused && d.writeFails);
        undecided = undecided || d.undecided;
        writes = writes || !d.writes.empty();
    }
    // Exit code 1 for any line on standard error: a disk left alone, a
    // write that failed, or nothing found to put back.
    if (refused || fails)
        plan.exitCode = 1;
    else if (!undecided)
        plan.exitCode = writes ? 0 : 1;
    return plan;
}

std::vector<std::string> JudgeRestore(const RestorePlan& plan, const std::vector<RestoreDrive>& drives,
                                      const std::vector<SharedMemoryImage>& before,
                                      const std::vector<CallRecord>& calls, int exitCode) {
    std::vector<std::string> violations;
    const auto fail = [&](std::string text) { violations.push_back("/U: " + std::move(text)); };
    if (plan.exitCode && exitCode != *plan.exitCode)
        fail("exit code " + std::to_string(exitCode) + ", not " + std::to_string(*plan.exitCode));
    if (!SavedBeforeFirstWrite(calls)) fail("a write before the undo file of the restore was saved");
    std::map<uint32_t, const RestoreDisk*> restored;  // by drive
    for (const RestoreDisk& d : plan.disks)
        if (d.drive && !d.refused) restored[*d.drive] = &d;

    for (uint32_t drive = 0; drive < drives.size(); ++drive) {
        const MemoryImage &was = *before[drive], &is = *drives[drive].image;
        const uint32_t unit = drives[drive].sectorSize;
        const std::string where = "disk " + std::to_string(drive) + ": ";
        const auto found = restored.find(drive);
        if (found == restored.end()) {
            if (!was.DifferingBlocks(is).empty())
                fail(where + "written though no record of the file is put back there");
            continue;
        }
        const RestoreDisk& d = *found->second;
        // The sectors each write may change, and the label entries.
        std::map<uint64_t, std::vector<const RestoreWrite*>> bySector;
        std::vector<std::pair<uint64_t, uint64_t>> labelEntries;  // position, sector
        for (const RestoreWrite& w : d.writes) {
            if (!w.label) {
                bySector[w.position].push_back(&w);
                continue;
            }
            const auto slot = FindLabelSlot(was, *w.volume);
            if (slot) labelEntries.push_back({slot->position, slot->position / unit * unit});
        }
        const bool whole = !d.writeFails && !d.undecided;
        // Each sector that changed, and each one a write is planned for.
        std::set<uint64_t> sectors;
        for (const uint64_t block : was.DifferingBlocks(is)) sectors.insert(block / unit * unit);
        if (whole)
            for (const auto& [at, writes] : bySector) sectors.insert(at);
        for (const uint64_t at : sectors) {
            const bool inLabel = std::any_of(labelEntries.begin(), labelEntries.end(),
                                             [&](const auto& entry) { return entry.second == at; });
            const auto writes = bySector.find(at);
            std::vector<uint8_t> then = SectorAt(was, at, unit), now = SectorAt(is, at, unit);
            // Only the label entry of such a sector may change.
            for (const auto& [entry, sector] : labelEntries) {
                if (sector != at || !whole) continue;
                std::fill_n(now.begin() + static_cast<std::ptrdiff_t>(entry - at), 32, 0);
                std::fill_n(then.begin() + static_cast<std::ptrdiff_t>(entry - at), 32, 0);
            }
            if (writes == bySector.end()) {
                if (then != now && !(inLabel && !whole))
                    fail(where + "sector at " + std::to_string(at) +
                         " changed though no record puts it back");
                continue;
            }
            const bool asRecorded = std::any_of(writes->second.begin(), writes->second.end(),
                                                [&](const RestoreWrite* w) { return now == w->bytes; });
            if (whole ? !asRecorded : (now != then && !asRecorded))
                fail(where + "sector at " + std::to_string(at) +
                     (whole ? " not put back" : " holds no record's bytes"));
        }
        if (whole)
            for (const RestoreWrite& w : d.writes)
                if (w.label && ReportedLabel(is, *w.volume) != w.reported)
                    fail(where + "the label of the volume at " + std::to_string(w.position) + " is not " +
                         w.reported);
    }

    // Every sector written lies on the disk its record names, where a write
    // of that disk is planned.
    for (const CallRecord& call : calls) {
        if ((call.call != PlatformCall::Write && call.call != PlatformCall::SetVolumeLabel) || call.failed)
            continue;
        const auto found = restored.find(static_cast<uint32_t>(call.drive));
        const bool planned =
            found != restored.end() &&
            std::any_of(found->second->writes.begin(), found->second->writes.end(),
                        [&](const RestoreWrite& w) {
                            if (call.call == PlatformCall::SetVolumeLabel || w.label)
                                return call.call == PlatformCall::SetVolumeLabel && w.label;
                            // A boot sector goes through its volume, at a position on it.
                            if (call.letter != 0)
                                return w.volume && w.position == w.volume->start + call.position;
                            return !w.volume && w.position == call.position;
                        });
        if (!planned)
            fail("a write on drive " + std::to_string(call.drive) + " at " + std::to_string(call.position) +
                 " that no record of that disk asks for");
    }
    return violations;
}

bool SavedBeforeFirstWrite(const std::vector<CallRecord>& calls, size_t from) {
    for (size_t i = from; i < calls.size(); ++i) {
        if (calls[i].call == PlatformCall::SaveUndoFile && !calls[i].failed) return true;
        if (calls[i].call == PlatformCall::Write || calls[i].call == PlatformCall::SetVolumeLabel)
            return false;
    }
    return true;
}

}  // namespace quorvane::fuzz
