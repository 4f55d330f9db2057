// What Windows holds of the drives beyond their bytes, as the checker reads
// it from the case: the layout Windows read before a table was written raw,
// the partitions it runs from, the volumes it will not let be locked, the
// drives of removable media; and what the run must make of each.
#include "fuzz/Checker.h"

namespace quorvane::fuzz {

namespace {

// The calls whose failure hides from the program where Windows runs from.
bool AsksWhereWindowsRuns(PlatformCall call) {
    return call == PlatformCall::DiskExtent || call == PlatformCall::WindowsDirectory ||
           call == PlatformCall::PageFiles || call == PlatformCall::SystemPartition ||
           call == PlatformCall::DeviceExtent;
}

// The note of a GPT partition hidden on removable media, after the row's
// name (code page 936): "Windows 不理会可移动磁盘上的隐藏和无盘符属性（位
// 62、63）：属性已写入，但此分区仍会显示".
constexpr char RemovableNote[] =
    "Windows "
    "\xB2\xBB\xC0\xED\xBB\xE1\xBF\xC9\xD2\xC6\xB6\xAF\xB4\xC5\xC5\xCC\xC9\xCF\xB5\xC4\xD2\xFE\xB2\xD8\xBA\xCD"
    "\xCE\xDE\xC5\xCC\xB7\xFB\xCA\xF4\xD0\xD4\xA3\xA8\xCE\xBB 62\xA1\xA2"
    "63\xA3\xA9\xA3\xBA\xCA\xF4\xD0\xD4\xD2\xD1\xD0\xB4\xC8\xEB\xA3\xAC\xB5\xAB\xB4\xCB\xB7\xD6\xC7\xF8\xC8"
    "\xD4\xBB\xE1"
    "\xCF\xD4\xCA\xBE";

}  // namespace

void Checker::PrepareWindows(std::vector<ImageSource>& sources) {
    const WindowsView& windows = case_.windows;
    platform_ = std::make_unique<ImagePlatform>(sources);
    platform_->SetSectorSize(unit_);
    viewAtScan_.assign(inDrive_.size(), nullptr);
    // Windows reads a drive's layout when it first meets the drive; a table
    // another tool writes raw after that leaves Windows' layout as it was.
    for (const auto& [drive, patches] : windows.writtenRaw) {
        if (drive >= inDrive_.size()) continue;
        viewAtScan_[drive] = std::make_shared<MemoryImage>(*inDrive_[drive]);
        static_cast<void>(platform_->QueryDriveLayout(drive));
        for (const BytePatch& patch : patches)
            inDrive_[drive]->WriteAt(patch.position, patch.bytes.data(), patch.bytes.size());
    }
    for (uint32_t drive = 0; drive < inDrive_.size(); ++drive) {
        originals_.push_back(std::make_shared<MemoryImage>(*inDrive_[drive]));
        if (!viewAtScan_[drive]) viewAtScan_[drive] = originals_[drive];
    }
    platform_->SetLayoutAnswered(windows.layoutAnswered);
    for (const auto& [drive, partition] : windows.inUse) platform_->SetVolumeInUse(drive, partition);
    if (windows.windowsOn) platform_->SetWindowsOn(windows.windowsOn->first, windows.windowsOn->second);
    if (windows.systemPartition)
        platform_->SetSystemPartition(windows.systemPartition->first, windows.systemPartition->second);
    for (const uint32_t drive : windows.removable) platform_->SetRemovable(drive);
}

void Checker::FindSystemRows(const PartitionRows& rows) {
    // Where each row lies, by the checker's reading where the rows are the
    // expected ones.
    struct Place {
        uint32_t drive;
        uint64_t start;
        bool otherScheme, efi;
    };
    std::vector<Place> places;
    for (int row = 0; row < rows.Count(); ++row) {
        const RowSideEntries& side = rows.Side(row);
        if (rowsMatch_) {
            const ExpectedRow& e = expected_.rows[row];
            places.push_back(
                {e.place.drive, e.start, e.otherScheme, e.gpt ? e.code == "EF00" : e.type == 0xEF});
        } else {
            places.push_back({side.drive, side.partitionStart, side.otherScheme,
                              side.scannedId == (side.gpt ? "EF00" : "EF")});
        }
    }
    std::set<int> truth;
    // A volume Windows names, in its view: the rows of its partition. Windows
    // answers a start of 0 only when the query fails.
    const auto markVolume = [&](const std::pair<uint32_t, uint32_t>& partition) {
        const auto volume = ViewPartition(viewAtScan_, partition.first, partition.second, unit_);
        if (!volume || volume->extent.start == 0) return false;
        for (size_t row = 0; row < places.size(); ++row)
            if (places[row].drive == volume->drive && places[row].start == volume->extent.start &&
                !places[row].otherScheme)
                truth.insert(static_cast<int>(row));
        return true;
    };
    const WindowsView& windows = case_.windows;
    // C: holds the Windows directory and the page file; the EFI system
    // partitions of its disk boot it.
    if (windows.windowsOn && markVolume(*windows.windowsOn))
        for (size_t row = 0; row < places.size(); ++row)
            if (places[row].drive == windows.windowsOn->first && places[row].efi && !places[row].otherScheme)
                truth.insert(static_cast<int>(row));
    if (windows.systemPartition) markVolume(*windows.systemPartition);

    const auto& calls = platform_->Calls();
    systemCertain_ = std::none_of(
        calls.begin(), calls.begin() + static_cast<std::ptrdiff_t>(std::min(mark_, calls.size())),
        [](const CallRecord& c) { return (c.failed || c.shortTransfer) && AsksWhereWindowsRuns(c.call); });
    system_.clear();
    for (int row = 0; row < rows.Count(); ++row) {
        const bool marked = rows.Side(row).keepsWindowsRunning;
        if (systemCertain_ ? truth.count(row) != 0 : marked && truth.count(row)) system_.insert(row);
        if (marked && !truth.count(row) && rowsMatch_)
            Fail("row " + std::to_string(row) + " is taken for a partition Windows runs from");
    }
}

void Checker::CheckWindowsMarks(const PartitionRows& rows) {
    for (int row = 0; row < rows.Count(); ++row) {
        const RowSideEntries& side = rows.Side(row);
        const std::string where = "row " + std::to_string(row);
        if (systemCertain_ && side.keepsWindowsRunning != (system_.count(row) != 0))
            Fail(where + (system_.count(row) ? " keeps Windows running and is not marked so"
                                             : " marked as keeping Windows running"));
        if (side.layoutDiffers != expected_.rows[row].layoutDiffers)
            Fail(where + (side.layoutDiffers ? " marked as read otherwise by Windows"
                                             : ": Windows reads its disk otherwise"));
    }
}

void Checker::LockDrives(const PartitionRows& rows, const std::vector<RowFacts>& facts,
                         std::vector<Change>& changes) {
    if (!Healthy() || !rowsMatch_) return;
    // Each changed row that is a partition to Windows is locked before its
    // drive's tables are written: by its letter, else by its number. A lock
    // is a volume's, that is a partition's of Windows' view; one in use, or
    // locked already under another name, cannot be taken. One name is
    // opened and locked once, however many changed rows it stands for.
    const std::set<std::pair<uint32_t, uint32_t>> inUse(case_.windows.inUse.begin(),
                                                        case_.windows.inUse.end());
    std::map<uint32_t, std::vector<const Change*>> byDrive;
    for (const Change& change : changes)
        if (!change.label && change.writes && change.due != Due::Refuse)
            byDrive[facts[change.row].drive].push_back(&change);
    for (const auto& [drive, list] : byDrive) {
        bool surely = false, maybe = false;
        std::set<std::pair<uint32_t, uint32_t>> lockedSurely, locked;
        std::set<std::pair<char, std::pair<uint32_t, uint32_t>>> names;
        for (const Change* change : list) {
            const bool sure = change->due == Due::Land;
            std::pair<uint32_t, uint32_t> volume{drive, 0};
            for (const DeviceMapEntry& entry : rows.DeviceMap())
                if (entry.row == change->row) volume.second = entry.partition;
            if (volume.second == 0) continue;  // no partition to Windows
            const char letter = RowLetter(rows, change->row);
            if (!names.insert({letter, letter ? std::pair<uint32_t, uint32_t>{} : volume}).second) continue;
            if (letter) {
                const auto name = namesAtApply_.find(letter);
                if (name == namesAtApply_.end() || !ParseTarget(name->second, volume.first, volume.second))
                    continue;
            }
            // Nothing mounted there: nothing to lock.
            if (!ViewPartition(viewAtApply_, volume.first, volume.second, unit_)) continue;
            if (inUse.count(volume)) {
                // Ten tries, nine pauses between them.
                pausesAtLeast_ += sure ? 9 : 0;
                pausesAtMost_ += 9;
                surely = surely || sure;
                maybe = true;
                continue;
            }
            if (locked.count(volume)) {
                surely = surely || (sure && lockedSurely.count(volume));
                maybe = true;
            }
            locked.insert(volume);
            if (sure) lockedSurely.insert(volume);
        }
        if (surely)
            lockedOut_.insert(drive);
        else if (maybe)
            lockedOutMaybe_.insert(drive);
    }
    for (Change& change : changes) {
        if (change.label || !change.writes || change.due == Due::Refuse) continue;
        const uint32_t drive = facts[change.row].drive;
        if (lockedOut_.count(drive)) {
            change.due = Due::Refuse;
            change.refusedAtWrite = true;
        } else if (lockedOutMaybe_.count(drive) && change.due == Due::Land) {
            change.due = Due::Either;
        }
    }
}

void Checker::CheckPauses() {
    const std::vector<uint32_t>& pauses = platform_->Pauses();
    if (meaning_.dryRun) {
        if (!pauses.empty()) Fail("a lock was tried under /N");
        return;
    }
    if (!Healthy() || !rowsMatch_) return;
    if (std::any_of(pauses.begin(), pauses.end(), [](uint32_t ms) { return ms != 100; }))
        Fail("a pause between lock tries that is not 100 ms");
    if (pauses.size() < pausesAtLeast_ || pauses.size() > pausesAtMost_)
        Fail(std::to_string(pauses.size()) + " pauses between lock tries, not " +
             std::to_string(pausesAtLeast_) +
             (pausesAtMost_ != pausesAtLeast_ ? " to " + std::to_string(pausesAtMost_) : ""));
}

void Checker::CheckRemovableNotes(const Session& session, const std::vector<RowFacts>& facts,
                                  const std::vector<Change>& changes, bool dry) {
    if (!Healthy() || !rowsMatch_) return;
    std::vector<std::string> lines = session.Information();
    for (const Change& change : changes) {
        const RowFacts& f = facts[change.row];
        if (change.label || !f.gpt || !case_.windows.removable.count(f.drive)) continue;
        if ((meaning_.attributes[change.row] & ~f.attributes & HidingBits) == 0) continue;
        // "磁盘 1 分区 2：" and the note, once.
        const std::string line =
            "\xB4\xC5\xC5\xCC " + f.disk + " \xB7\xD6\xC7\xF8 " + f.shown + "\xA3\xBA" + RemovableNote;
        const auto told = std::find(lines.begin(), lines.end(), line);
        const Due due = dry ? change.planned : change.due;
        const bool sure = change.writes && due == Due::Land && (dry || change.landed);
        if (told == lines.end()) {
            if (sure) Fail("row " + std::to_string(change.row) + ": hidden on removable media and not told");
            continue;
        }
        if (!change.writes || due == Due::Refuse)
            Fail("row " + std::to_string(change.row) + ": told hidden on removable media though not written");
        lines.erase(told);
    }
    for (const std::string& line : lines)
        if (line.size() >= sizeof RemovableNote - 1 &&
            line.compare(line.size() - (sizeof RemovableNote - 1), std::string::npos, RemovableNote) == 0)
            Fail("a partition told hidden on removable media that is not, or told twice");
}

}  // namespace quorvane::fuzz
