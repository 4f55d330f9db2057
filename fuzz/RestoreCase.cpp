#include "fuzz/RestoreCase.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>

#include "app/Session.h"
#include "fuzz/FuzzRun.h"
#include "fuzz/Oracle.h"
#include "fuzz/RestoreDisks.h"

namespace quorvane::fuzz {

namespace {

class Reader {
 public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    uint64_t Number(int bytes) {
        uint64_t value = 0;
        for (int i = 0; i < bytes; ++i) value |= uint64_t{Byte()} << (8 * i);
        return value;
    }

 private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// One write of the recorded run: a sector, or a label through Windows.
struct Write {
    size_t record = 0;
    bool label = false;
    std::string text;
};

struct Recorded {
    std::vector<UndoEntry> entries;
    std::vector<uint32_t> driveOf;  // per entry
    std::vector<Write> writes;      // in the run's order
};

// Records a change of the sector at `position` (bytes, of the drive or of
// the volume for a boot sector), as the program plans one.
size_t RecordSector(Recorded& run, const UndoEntry& disk, uint32_t drive, uint8_t kind,
                    const MemoryImage& image, uint64_t base, uint64_t position,
                    const std::function<void(std::vector<uint8_t>&)>& change) {
    UndoEntry e = disk;
    e.kind = kind;
    e.position = position;
    e.before.resize(disk.sectorSize);
    image.ReadAt(base + position, e.before.data(), e.before.size());
    e.after = e.before;
    change(e.after);
    run.entries.push_back(e);
    run.driveOf.push_back(drive);
    return run.entries.size() - 1;
}

// The run on one disk; its writes are made later, up to the cut.
void RecordRun(Recorded& run, const Disk& d, uint32_t drive, const MemoryImage& image, uint8_t what,
               uint8_t value) {
    const auto disk = DiskOfDrive(image, d.unit);
    if (!disk || what >= 6) return;
    const uint32_t u = d.unit;
    const auto sector = [&](uint8_t kind, uint64_t base, uint64_t position, auto change) {
        run.writes.push_back(
            {RecordSector(run, *disk, drive, kind, image, base, position, change), false, {}});
    };
    if (what >= 4 && d.volumeStart != 0) {
        const auto volume = MountFat32(image, d.volumeStart * u, VolumeSectors * u);
        if (!volume) return;
        const std::string label = std::string("new") + static_cast<char>('A' + value % 26);
        UndoEntry e = *disk;
        e.kind = 3;
        e.serial = volume->serial;
        e.volumeStart = volume->start;
        const std::string old = ReportedLabel(image, *volume);
        e.before.assign(old.begin(), old.end());
        e.after.assign(label.begin(), label.end());
        run.entries.push_back(e);
        run.driveOf.push_back(drive);
        run.writes.push_back({run.entries.size() - 1, true, label});
        std::string field = UpperGbk(label);
        field.resize(11, ' ');
        for (const uint64_t copy : {uint64_t{0}, uint64_t{6} * u}) {
            sector(2, volume->start, copy,
                   [&](std::vector<uint8_t>& s) { std::copy(field.begin(), field.end(), s.begin() + 0x47); });
            run.entries.back().serial = volume->serial;
            run.entries.back().volumeStart = volume->start;
        }
        return;
    }
    if (what >= 2 && (d.flags & 1)) {
        // The type of GPT entries 1 and u / 256 (the first of the second half
        // of the first array sector) in both copies, the backup first, with
        // the CRCs of both arrays and both headers: a write cut in the middle
        // of the array sector holds part of the change.
        const uint64_t last = image.Size() / u - 1, arraySectors = 128 * 128 / u;
        const GuidBytes type = GuidOnDisk(KnownGptTypes[value % EntryTypeCount].guid);
        const uint32_t second = u / 256;
        for (const auto& [headerLba, arrayLba] :
             {std::pair{last, last - arraySectors}, std::pair{uint64_t{1}, uint64_t{2}}}) {
            std::vector<uint8_t> array(128 * 128);
            image.ReadAt(arrayLba * u, array.data(), array.size());
            for (const uint32_t entry : {1u, second})
                std::copy(type.begin(), type.end(), array.begin() + 128 * entry);
            sector(4, 0, arrayLba * u, [&](std::vector<uint8_t>& s) {
                for (const uint32_t entry : {1u, second})
                    std::copy(type.begin(), type.end(), s.begin() + 128 * entry);
            });
            const uint32_t arrayCrc = CheckerCrc32(array.data(), array.size());
            sector(4, 0, headerLba * u, [&](std::vector<uint8_t>& s) {
                for (int b = 0; b < 4; ++b) s[88 + b] = static_cast<uint8_t>(arrayCrc >> (8 * b));
                std::fill_n(s.begin() + 16, 4, 0);
                const uint32_t crc = CheckerCrc32(s.data(), 92);
                for (int b = 0; b < 4; ++b) s[16 + b] = static_cast<uint8_t>(crc >> (8 * b));
            });
        }
        return;
    }
    if (d.flags & 1) return;  // no MBR partitions to change on a GPT disk
    sector(1, 0, 0, [&](std::vector<uint8_t>& s) { s[0x1C2] = value; });
    sector(1, 0, d.ebr * u, [&](std::vector<uint8_t>& s) { s[0x1C2] = static_cast<uint8_t>(value + 1); });
}

}  // namespace

RestoreCase DecodeRestoreCase(const uint8_t* data, size_t size) {
    Reader in(data, size);
    RestoreCase result;
    const size_t count = (in.Byte() & 3) % 3 + 1;
    std::vector<Disk> disks(count);
    Recorded run;
    std::vector<uint8_t> cuts(count);
    std::vector<size_t> firstWrite(count + 1);
    for (uint32_t k = 0; k < count; ++k) {
        Disk& d = disks[k];
        d.flags = in.Byte();
        d.unit = d.flags & 2 ? 4096 : 512;
        const uint8_t extra = in.Byte();
        uint32_t id = static_cast<uint32_t>(in.Number(4));
        const uint8_t what = static_cast<uint8_t>(d.flags >> 5), value = in.Byte();
        cuts[k] = in.Byte();
        const int shares = k == 0 ? 0 : (d.flags >> 3) & 3;
        SharedMemoryImage image;
        if (shares == 3) {
            // The same bytes as disk 0, read in its own sector size.
            image = std::make_shared<MemoryImage>(*result.originals[0]);
            d.flags = static_cast<uint8_t>((disks[0].flags & ~2) | (d.flags & 2));
            d.volumeStart = disks[0].volumeStart * disks[0].unit / d.unit;
            d.ebr = disks[0].ebr * disks[0].unit / d.unit;
        } else {
            if (shares >= 1) {  // disk 0's id (for a GPT, the first 4 bytes of its GUID)
                const auto first = DiskOfDrive(*result.originals[0], disks[0].unit);
                id = static_cast<uint32_t>(first->id[0] | first->id[1] << 8 | first->id[2] << 16) |
                     static_cast<uint32_t>(first->id[3]) << 24;
            }
            image = MakeDisk(d, extra, id, shares == 2 ? result.originals[0]->Size() : 0);
        }
        result.originals.push_back(image);
        firstWrite[k] = run.writes.size();
        RecordRun(run, d, k, *image, what, value);
    }
    firstWrite[count] = run.writes.size();

    // Each disk as the run left it: its writes up to the cut, the next one
    // maybe half.
    for (uint32_t k = 0; k < count; ++k) {
        auto image = std::make_shared<MemoryImage>(*result.originals[k]);
        const size_t writes = firstWrite[k + 1] - firstWrite[k], done = cuts[k] % 8;
        for (size_t w = 0; w < writes && w <= done; ++w) {
            const Write& write = run.writes[firstWrite[k] + w];
            const UndoEntry& e = run.entries[write.record];
            const bool half = w == done;
            if (half && !(cuts[k] & 8)) break;
            if (write.label) {
                if (!half)
                    SetLabel(*image, *MountFat32(*image, e.volumeStart, VolumeSectors * disks[k].unit),
                             write.text);
                continue;
            }
            const uint64_t at = (e.kind == 2 ? e.volumeStart : 0) + e.position;
            image->WriteAt(at, e.after.data(), half ? e.after.size() / 2 : e.after.size());
        }
        result.drives.push_back({image, disks[k].unit});
    }

    // What others did since, to the disks and to the file.
    std::vector<UndoEntry> entries = run.entries;
    std::vector<bool> touched(count, false), recordsTouched(count, false);
    std::vector<uint8_t> damage;  // tags 4 to 6, applied to the file as written
    std::vector<uint64_t> damageData;
    for (int n = in.Byte() % 6; n > 0; --n) {
        const uint8_t tag = in.Byte() % 7;
        result.untouched = false;
        if (tag >= 4) {
            damage.push_back(tag);
            damageData.push_back(tag == 4 ? in.Number(3) : in.Byte());
            continue;
        }
        if (tag == 1) {
            const uint32_t k = in.Byte() % count;
            const uint8_t c = in.Byte();
            touched[k] = true;
            if (disks[k].volumeStart == 0) continue;
            const auto volume = MountFat32(*result.drives[k].image, disks[k].volumeStart * disks[k].unit,
                                           VolumeSectors * disks[k].unit);
            if (volume)
                SetLabel(*result.drives[k].image, *volume,
                         std::string("OTHER") + static_cast<char>('0' + c % 10));
            continue;
        }
        const size_t r = in.Byte();
        if (entries.empty()) continue;
        UndoEntry& e = entries[r % entries.size()];
        const uint32_t k = r % entries.size() < run.driveOf.size() ? run.driveOf[r % entries.size()] : 0;
        if (tag == 0) {  // a byte of neither the "before" nor the "after"
            const size_t offset = in.Number(2) % std::max<size_t>(e.before.size(), 1);
            uint8_t value = in.Byte();
            touched[k] = true;
            if (e.kind == 3 || e.before.empty()) continue;
            while (value == e.before[offset] || (offset < e.after.size() && value == e.after[offset]))
                ++value;
            result.drives[k].image->WriteAt((e.kind == 2 ? e.volumeStart : 0) + e.position + offset, &value,
                                            1);
        } else if (tag == 2) {
            const uint8_t field = in.Byte(), value = in.Byte();
            // Another identity may name any disk.
            std::fill(recordsTouched.begin(), recordsTouched.end(), true);
            AlterField(e, field, value);
        } else {  // tag 3: the same record, naming the next disk
            UndoEntry copy = e;
            if (const auto other =
                    DiskOfDrive(*result.originals[(k + 1) % count], disks[(k + 1) % count].unit)) {
                copy.idKind = other->idKind;
                copy.id = other->id;
                copy.diskSize = other->diskSize;
                copy.sectorSize = other->sectorSize;
            }
            entries.push_back(copy);
            recordsTouched[(k + 1) % count] = true;
        }
    }
    result.file = WriteUndoEntries(entries, std::count(damage.begin(), damage.end(), 6) ? 2 : 1);
    for (size_t i = 0; i < damage.size(); ++i) {
        if (damage[i] == 4 && !result.file.empty())
            result.file[(damageData[i] & 0xFFFF) % result.file.size()] ^=
                static_cast<uint8_t>(damageData[i] >> 16 | 1);
        if (damage[i] == 5)
            result.file.erase(result.file.end() - static_cast<std::ptrdiff_t>(std::min<size_t>(
                                                      damageData[i] + 1, result.file.size())),
                              result.file.end());
    }
    for (uint32_t k = 0; k < count; ++k) {
        // A GPT changed by the run, whose two copies were right before it
        // (a copy of disk 0 read in another sector size has none).
        const MemoryImage& original = *result.originals[k];
        const uint32_t unit = disks[k].unit;
        const bool gptRun = (disks[k].flags & 1) && (disks[k].flags >> 5) >= 2 && (disks[k].flags >> 5) < 4 &&
                            original.Size() / unit >= 3 && ReadGptAt(original, k, 1, unit) &&
                            ReadGptAt(original, k, original.Size() / unit - 1, unit);
        result.wholeGptRun.push_back(gptRun && !touched[k] && !recordsTouched[k]);
        result.intact.push_back(!touched[k] && !recordsTouched[k]);
    }
    return result;
}

RestoreRun RunRestoreCase(const RestoreCase& c) {
    RestoreRun outcome;
    std::vector<ImageSource> sources;
    std::vector<SharedMemoryImage> before;
    for (const RestoreDrive& drive : c.drives) {
        sources.push_back({"", drive.image});
        before.push_back(std::make_shared<MemoryImage>(*drive.image));
    }
    ImagePlatform platform(sources);
    for (uint32_t k = 0; k < c.drives.size(); ++k) platform.SetSectorSize(k, c.drives[k].sectorSize);
    platform.PutUndoFileInMemory("fuzz.qvundo", c.file);
    const RestorePlan plan = PlanRestore(c.file, c.drives);
    QuietShell shell;
    Session session(platform, shell);
    session.Start({"/U", "fuzz.qvundo"});
    session.OnClose();
    outcome.exitCode = session.ExitCode();
    outcome.violations = JudgeRestore(plan, c.drives, before, platform.Calls(), outcome.exitCode);

    // A disk restored whole, whose run reached /U as it was recorded, is
    // the disk it was before the run: byte for byte but for its label
    // entry, and with both GPT copies right.
    for (const RestoreDisk& d : plan.disks) {
        if (!d.drive || d.refused || d.writeFails || d.undecided || d.writes.empty()) continue;
        ++outcome.restoredDisks;
        const uint32_t k = *d.drive;
        const MemoryImage& now = *c.drives[k].image;
        const uint32_t unit = c.drives[k].sectorSize;
        if (k >= c.intact.size() || !c.intact[k]) continue;
        MemoryImage expected(*c.originals[k]), seen(now);
        for (const RestoreWrite& w : d.writes) {
            if (!w.label) continue;
            const auto slot = FindLabelSlot(*c.originals[k], *w.volume);
            const std::vector<uint8_t> blank(32);
            if (slot)
                expected.WriteAt(slot->position, blank.data(), 32),
                    seen.WriteAt(slot->position, blank.data(), 32);
        }
        if (!(expected == seen))
            outcome.violations.push_back("disk " + std::to_string(k) + " is not what it was before the run");
        if (k < c.wholeGptRun.size() && c.wholeGptRun[k] &&
            (!ReadGptAt(now, k, 1, unit) || !ReadGptAt(now, k, now.Size() / unit - 1, unit)))
            outcome.violations.push_back("disk " + std::to_string(k) +
                                         ": a GPT copy is not right after the restore");
    }
    return outcome;
}

}  // namespace quorvane::fuzz
