#include "fuzz/FuzzRun.h"

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include "fuzz/FatModel.h"
#include "fuzz/Oracle.h"
#include "fuzz/RestoreModel.h"
#include "fuzz/RestoreStage.h"
#include "platform/image/ImagePlatform.h"
#include "scan/PartitionRows.h"

namespace quorvane::fuzz {

namespace {

using Bytes = std::array<uint8_t, 512>;

// What a requested change must come to.
enum class Due {
    Land,     // nothing stood in its way: it must reach the disk
    Refuse,   // a rule or the state of the drive forbids it: never written, exit 1
    Either,   // a failed call or another medium may have stopped it
    Unknown,  // its bytes are shared with another change that may overwrite them
};

struct Change {
    int row = 0;
    bool label = false;
    Due due = Due::Either;
    bool landed = false;
};

// The first 512 bytes of the sector of `unit` bytes at `position`.
std::optional<Bytes> WholeSector(const MemoryImage& image, uint64_t position, uint32_t unit) {
    if (position > image.Size() || image.Size() - position < unit) return std::nullopt;
    Bytes sector{};
    image.ReadAt(position, sector.data(), sector.size());
    return sector;
}

uint32_t Le(const uint8_t* p, int bytes) {
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = value << 8 | p[i];
    return value;
}

bool SaysFat32(const Bytes& sector) {
    return UpperGbk(std::string(reinterpret_cast<const char*>(&sector[0x52]), 5)) == "FAT32";
}

bool IsFat32IdText(const std::string& id) {
    return id == "0B" || id == "0C" || id == "1B" || id == "1C" || id == "BC";
}

bool IsContainerText(const std::string& id) {
    return id == "05" || id == "0F";
}

std::string Padded(std::string label) {
    label.resize(11, ' ');
    return label;
}

std::string FieldAt(const MemoryImage& image, uint64_t position) {
    std::string field(11, '\0');
    image.ReadAt(position, reinterpret_cast<uint8_t*>(field.data()), field.size());
    return field;
}

// The FAT32 volume Windows sees in a partition of an image, by the checker's
// own reading of the FAT specification.
struct WindowsVolume {
    const MemoryImage* image;
    std::optional<FatVolume> fat;
    WindowsVolume(const SharedMemoryImage& disk, const Extent& extent)
        : image(disk.get()), fat(MountFat32(*disk, extent.start, extent.length)) {}
    std::string Label() const { return ReportedLabel(*image, *fat); }
};

// The partition a DOS name of `names` targets, on the media `images`.
struct NamedVolume {
    uint32_t drive = 0;
    Extent extent;
};
std::optional<NamedVolume> VolumeNamed(const std::map<char, std::string>& names, char letter,
                                       const std::vector<SharedMemoryImage>& images, uint32_t unit) {
    const auto name = names.find(letter);
    uint32_t drive = 0, number = 0;
    if (name == names.end() || !ParseTarget(name->second, drive, number) || drive >= images.size())
        return std::nullopt;
    const auto extent = WindowsPartition(*images[drive], number, unit);
    if (!extent) return std::nullopt;
    return NamedVolume{drive, *extent};
}

// What a label change of a row may write, and what it must leave.
struct LabelPlan {
    bool refused = true;  // no volume of the row's partition under its letter, or Windows refuses the label
    std::set<uint64_t> sectors;                       // sector numbers it may touch
    std::vector<std::pair<uint64_t, size_t>> ranges;  // bytes it may change
    std::vector<uint64_t> volumeWrites;               // sector positions in the volume
    Extent volume;
    std::string reported;                 // the label Windows reports after it
    std::optional<uint64_t> backupField;  // a backup copy that must follow
    bool backupUnreachable = false;       // a backup field names a sector the volume cannot read
    bool ownSectorsApart = true;
};

class Checker {
 public:
    explicit Checker(const FuzzCase& fuzzCase) : case_(fuzzCase) {}

    FuzzOutcome Run() {
        Prepare();
        Session session(*platform_, shell_);
        shell_.onRowsShown = [&] { AtRowsShown(session); };
        session.Start(case_.parameters);
        const bool window = case_.parameters.empty();
        if (window) EditInTheWindow(session);
        session.OnClose();
        outcome_.exitCode = session.ExitCode();
        if (!marked_) {
            Fail("the rows were never shown");
            return outcome_;
        }
        if (window != shell_.windowShown) Fail("the window was shown for a command line, or not for none");
        if (shell_.closeRequests == 0) Fail("no close was requested");
        CheckRows(session);
        CheckChanges(session);
        CheckNames(session);
        CheckUndo(session);
        return outcome_;
    }

 private:
    void Fail(std::string text) { outcome_.violations.push_back(std::move(text)); }

    void Prepare() {
        std::vector<ImageSource> sources;
        for (const FuzzImage& image : case_.images) {
            originals_.push_back(MaterializeImage(image));
            inDrive_.push_back(std::make_shared<MemoryImage>(*originals_.back()));
            sources.push_back({"", inDrive_.back()});
        }
        platform_ = std::make_unique<ImagePlatform>(sources);
        platform_->SetSectorSize(unit_);
        if (case_.diskCount) platform_->SetDiskCount(*case_.diskCount);
        for (const Fault& fault : case_.faults) platform_->AddFault(fault);
        for (const uint64_t number : case_.failCalls) platform_->FailCallNumber(number);
        for (const ForeignName& name : case_.names)
            if (!name.afterScan && platform_->DefineDosDevice(name.letter, name.target))
                foreign_.push_back(name);
        expected_ = ExpectScan(originals_, case_.diskCount, case_.faults, unit_);
    }

    // After both scans, before the command: other media, other names, and
    // the failures counted from here.
    void AtRowsShown(Session& session) {
        if (marked_) return;
        marked_ = true;
        mark_ = platform_->Calls().size();
        namesAtMark_ = platform_->DosDevices();
        ours_ = session.TemporaryNames();
        for (const MediumChange& change : case_.media) {
            if (change.drive >= inDrive_.size()) continue;
            if (change.removed) {
                platform_->SetNoMedium(change.drive, true);
                removed_.insert(change.drive);
                continue;
            }
            auto medium = std::make_shared<MemoryImage>(*inDrive_[change.drive]);
            const int64_t size = static_cast<int64_t>(medium->Size()) + change.sizeChange * unit_;
            medium->Resize(static_cast<uint64_t>(std::max<int64_t>(size, 0)));
            for (const BytePatch& patch : change.patches)
                medium->WriteAt(patch.position, patch.bytes.data(), patch.bytes.size());
            swappedOut_.push_back(
                {inDrive_[change.drive], std::make_shared<MemoryImage>(*inDrive_[change.drive])});
            inDrive_[change.drive] = medium;
            platform_->SwapMedium(change.drive, {"", medium});
        }
        for (const ForeignName& name : case_.names)
            if (name.afterScan && platform_->DefineDosDevice(name.letter, name.target))
                foreign_.push_back(name);
        namesAtApply_ = platform_->DosDevices();
        for (const uint64_t k : case_.failCallsAfterScan)
            platform_->FailCallNumber(platform_->Calls().size() + k);
        for (const SharedMemoryImage& medium : inDrive_)
            atMark_.push_back(std::make_shared<MemoryImage>(*medium));
    }

    // The window as the checker knows it: each "修改" puts the fields into
    // the selected row's cells, unless a rule refuses the ID at once; the
    // label field takes a label only where the row has a volume (not a
    // container, not the protective entry).
    void EditInTheWindow(Session& session) {
        PartitionRows& rows = session.Rows();
        rowsMatch_ = ScanForeseen() && rows.Count() == static_cast<int>(expected_.rows.size());
        const std::vector<RowFacts> facts = Facts(rows);
        window_ = MeanCommand({}, facts);
        for (const WindowEdit& edit : case_.edits) {
            if (facts.empty()) break;
            const int row = static_cast<int>(edit.row % facts.size());
            const std::string id = edit.id.value_or(window_.ids[row]);
            const bool changed = UpperGbk(id) != facts[row].scannedId && id != window_.ids[row];
            const auto byte = ParseId(id);
            const bool refused =
                changed &&
                (facts[row].gpt ? MustRefuseGptChange(id, facts[row].scannedId)
                                : !byte || MustRefuseIdChange(facts, window_.ids, expected_, row, *byte));
            if (refused) continue;
            window_.ids[row] = id;
            rows.SetCell(row, ColumnId, id);
            const bool takesLabel = !IsContainerText(UpperGbk(id)) && facts[row].scannedId != "EE";
            if (!takesLabel || edit.labelDisabled || !edit.label || *edit.label == window_.labels[row])
                continue;
            window_.labels[row] = *edit.label;
            rows.SetCell(row, ColumnLabel, *edit.label);
        }
        session.ApplyAndClose();
    }

    bool AnyCallFailed() const {
        return std::any_of(platform_->Calls().begin(), platform_->Calls().end(),
                           [](const CallRecord& call) { return call.failed || call.shortTransfer; });
    }
    // Nothing went wrong and nothing changed behind the program's back.
    bool Healthy() const {
        return !AnyCallFailed() && case_.media.empty() &&
               std::none_of(case_.names.begin(), case_.names.end(),
                            [](const ForeignName& n) { return n.afterScan; });
    }
    // The scans ran without a failure the checker cannot foresee.
    bool ScanForeseen() const {
        return std::all_of(case_.failCalls.begin(), case_.failCalls.end(),
                           [&](uint64_t n) { return n > mark_; });
    }

    void CheckRows(Session& session) {
        const PartitionRows& rows = session.Rows();
        outcome_.rows = rows.Count();
        if (rows.Count() > 261) Fail("more than 261 rows: " + std::to_string(rows.Count()));
        if (!ScanForeseen()) return;
        if (rows.Count() != static_cast<int>(expected_.rows.size())) {
            Fail("rows: " + std::to_string(rows.Count()) + " listed, " +
                 std::to_string(expected_.rows.size()) + " on the disks");
            return;
        }
        rowsMatch_ = true;
        if (session.LastScan().Complete() != expected_.complete)
            Fail(expected_.complete ? "the scan says it missed something"
                                    : "the scan says it read everything");
        std::set<std::tuple<int, uint32_t, uint32_t>> map, wanted;
        for (const DeviceMapEntry& entry : rows.DeviceMap())
            if (expected_.readWhole.count(entry.drive)) map.insert({entry.row, entry.drive, entry.partition});
        for (int row = 0; row < rows.Count(); ++row) {
            const ExpectedRow& e = expected_.rows[row];
            const RowSideEntries& side = rows.Side(row);
            const std::string where = "row " + std::to_string(row) + ": ";
            if (rows.Cell(row, ColumnDisk) != e.disk || side.drive != e.place.drive) Fail(where + "disk");
            if (rows.Cell(row, ColumnPartition) != e.shown)
                Fail(where + "shown number " + rows.Cell(row, ColumnPartition) + ", not " + e.shown);
            if (e.gpt) {
                if (e.code ? side.scannedId != *e.code : KnownGptTypeOfCode(side.scannedId) != nullptr)
                    Fail(where + "code " + side.scannedId + ", not " + e.code.value_or("one the checker does not know"));
                if (!side.gpt || side.gpt->entry != e.gptEntry) Fail(where + "GPT entry as read");
            } else if (side.scannedId != IdText(e.type) || side.gpt) {
                Fail(where + "ID " + side.scannedId + ", not " + IdText(e.type));
            }
            if (rows.Cell(row, ColumnKind) != e.kind) Fail(where + "kind");
            if (side.partitionStart != e.start) Fail(where + "partition start");
            if (side.entrySectorPosition != e.place.sector || side.idByteOffset != e.place.idOffset)
                Fail(where + "ID byte at " + std::to_string(side.entrySectorPosition + side.idByteOffset) +
                     ", not " + std::to_string(e.place.sector + e.place.idOffset));
            if (!std::equal(e.entry.begin(), e.entry.end(), side.scannedEntry.begin()))
                Fail(where + "entry as read");
            if (e.windowsNumber && expected_.readWhole.count(e.place.drive))
                wanted.insert({row, e.place.drive, *e.windowsNumber});
        }
        if (map != wanted) {
            std::string text = "Windows numbers:";
            int told = 0;
            for (const auto& [row, drive, number] : map)
                if (!wanted.count({row, drive, number}) && ++told <= 3)
                    text += " row " + std::to_string(row) + " listed as " + std::to_string(number);
            for (const auto& [row, drive, number] : wanted)
                if (!map.count({row, drive, number}) && ++told <= 6)
                    text += " row " + std::to_string(row) + " is " + std::to_string(number);
            Fail(text);
        }
        if (Healthy()) CheckLetters(rows);
    }

    // Each partition Windows numbers has a letter once enough were free, and
    // every letter a row shows names a volume starting where the row's
    // partition starts.
    void CheckLetters(const PartitionRows& rows) {
        std::set<char> taken;
        for (const ForeignName& name : foreign_) taken.insert(name.letter);
        size_t numbered = 0;
        for (const ExpectedRow& e : expected_.rows) numbered += TakesLetter(e);
        const bool enough = numbered <= 23 - taken.size();
        for (int row = 0; row < rows.Count(); ++row) {
            const ExpectedRow& e = expected_.rows[row];
            const char letter = RowLetter(rows, row);
            if (letter == 0) {
                if (enough && TakesLetter(e) && e.start != 0)
                    Fail("row " + std::to_string(row) + " has no letter");
                continue;
            }
            const auto name = namesAtMark_.find(letter);
            uint32_t drive = 0, number = 0;
            if (name == namesAtMark_.end() || !ParseTarget(name->second, drive, number)) {
                Fail("row " + std::to_string(row) + " shows a letter without a volume");
                continue;
            }
            const auto partition = std::find_if(
                expected_.rows.begin(), expected_.rows.end(),
                [&](const ExpectedRow& p) { return p.place.drive == drive && p.windowsNumber == number; });
            if (partition != expected_.rows.end() && (drive != e.place.drive || partition->start != e.start))
                Fail("row " + std::to_string(row) + " shows the letter of another partition");
        }
    }

    std::vector<RowFacts> Facts(const PartitionRows& rows) const {
        std::vector<RowFacts> facts;
        for (int row = 0; row < rows.Count(); ++row) {
            const RowSideEntries& side = rows.Side(row);
            facts.push_back({rows.Cell(row, ColumnDisk),
                             rows.Cell(row, ColumnPartition),
                             side.scannedId,
                             side.scannedLabel,
                             side.drive,
                             {side.drive, side.entrySectorPosition, side.idByteOffset},
                             rowsMatch_ ? expected_.rows[row].gpt : side.gpt.has_value()});
        }
        return facts;
    }

    void CheckChanges(Session& session) {
        const PartitionRows& rows = session.Rows();
        const std::vector<RowFacts> facts = Facts(rows);
        CommandMeaning meaning = MeanCommand(case_.parameters, facts);
        if (meaning.verdict == CommandMeaning::Verdict::Window) meaning = window_;
        using Verdict = CommandMeaning::Verdict;
        const bool applied = meaning.verdict == Verdict::Window || meaning.verdict == Verdict::Apply;
        for (int row = 0; row < rows.Count(); ++row) {
            const std::string id = applied ? UpperGbk(meaning.ids[row]) : meaning.ids[row];
            if (rows.Cell(row, ColumnId) != id)
                Fail("row " + std::to_string(row) + ": ID cell " + rows.Cell(row, ColumnId) + ", not " + id);
            if (rows.Cell(row, ColumnLabel) != meaning.labels[row])
                Fail("row " + std::to_string(row) + ": label cell");
            const auto volume = VolumeNamed(namesAtMark_, RowLetter(rows, row), originals_, unit_);
            if (Healthy() && rowsMatch_ && volume) {
                WindowsVolume windows(originals_[volume->drive], volume->extent);
                if (windows.fat && windows.Label() != facts[row].scannedLabel)
                    Fail("row " + std::to_string(row) + " shows another label than Windows");
            }
        }
        if (meaning.verdict == Verdict::Invalid || meaning.verdict == Verdict::Help ||
            meaning.verdict == Verdict::Restore) {
            const int code = meaning.verdict == Verdict::Invalid ? 2 : meaning.verdict == Verdict::Help ? 0 : 1;
            if (outcome_.exitCode != code)
                Fail("exit code " + std::to_string(outcome_.exitCode) + " for a command that is " +
                     (code == 2 ? "malformed" : code == 0 ? "help" : "a restore of a file that is not there"));
            if (platform_->CountCalls(PlatformCall::Write) +
                    platform_->CountCalls(PlatformCall::SetVolumeLabel) !=
                0)
                Fail("something was written for a command that asks for nothing");
            CheckImages({}, {}, {}, {});
            return;
        }

        std::vector<std::string> finalIds;
        for (const std::string& id : meaning.ids) finalIds.push_back(UpperGbk(id));
        std::vector<Change> changes;
        std::map<int, LabelPlan> labelPlans;
        std::map<uint32_t, std::set<uint64_t>> idSectors;  // per drive: sectors of pending IDs
        for (int row = 0; row < rows.Count(); ++row) {
            if (meaning.ids[row] == facts[row].scannedId) {
            } else if (const auto places = facts[row].gpt ? PlacesOfGptRow(facts[row]) : std::nullopt) {
                for (const uint64_t position : places->sectors) idSectors[facts[row].drive].insert(position / unit_);
            } else {
                idSectors[facts[row].drive].insert(facts[row].place.sector / unit_);
            }
            if (meaning.labels[row] != facts[row].scannedLabel)
                labelPlans[row] = PlanLabel(rows, row, meaning.labels[row]);
        }
        // Sectors that label changes of each drive may touch, counted per sector.
        std::map<uint32_t, std::map<uint64_t, int>> labelSectors;
        for (const auto& [row, plan] : labelPlans)
            for (const uint64_t sector : plan.sectors) ++labelSectors[facts[row].drive][sector];

        std::map<uint32_t, std::set<uint64_t>> allowedIdBytes;
        std::map<uint32_t, std::vector<std::pair<uint64_t, size_t>>> allowedRanges;
        for (int row = 0; row < rows.Count(); ++row) {
            if (meaning.ids[row] == facts[row].scannedId) continue;
            if (facts[row].gpt) {
                changes.push_back(CheckGptChange(facts, finalIds[row], row, labelSectors, allowedRanges));
                continue;
            }
            Change change{row, false, DueOfId(facts, finalIds, row, labelSectors), false};
            const auto wanted = ParseId(finalIds[row]);
            const uint32_t drive = facts[row].drive;
            const uint64_t position = facts[row].place.sector + facts[row].place.idOffset;
            if (drive < inDrive_.size()) {
                uint8_t now = 0, before = 0;
                inDrive_[drive]->ReadAt(position, &now, 1);
                atMark_[drive]->ReadAt(position, &before, 1);
                change.landed = wanted && now == *wanted && !removed_.count(drive);
                if (change.due == Due::Refuse && now != before)
                    Fail("row " + std::to_string(row) + ": a refused ID was written");
                if (now != before && (!wanted || now != *wanted))
                    Fail("row " + std::to_string(row) + ": an ID byte got a value not asked for");
                if (change.due != Due::Refuse) allowedIdBytes[drive].insert(position);
            }
            changes.push_back(change);
        }
        std::map<uint32_t, std::set<uint64_t>> volumeWrites;
        for (const auto& [row, plan] : labelPlans) {
            Change change{row, true, DueOfLabel(rows, facts, row, plan, labelSectors, idSectors), false};
            const uint32_t drive = facts[row].drive;
            if (!plan.refused) {
                WindowsVolume now(inDrive_[drive], plan.volume);
                change.landed = now.fat && now.Label() == plan.reported;
                // The boot sectors keep a copy: on the MBR by a FAT32 ID; in a
                // GPT partition wherever Windows mounted FAT32 (all it mounts here).
                if (change.landed && (facts[row].gpt || IsFat32IdText(finalIds[row])))
                    change.landed =
                        !plan.backupUnreachable &&
                        FieldAt(*inDrive_[drive], plan.volume.start + 0x47) == Padded(plan.reported) &&
                        (!plan.backupField ||
                         FieldAt(*inDrive_[drive], *plan.backupField) == Padded(plan.reported));
            }
            if (change.due != Due::Refuse) {
                allowedRanges[drive].insert(allowedRanges[drive].end(), plan.ranges.begin(),
                                            plan.ranges.end());
                for (const uint64_t write : plan.volumeWrites) volumeWrites[drive].insert(write);
            }
            changes.push_back(change);
        }

        bool mustFail = meaning.everyMatch && !session.LastScan().Complete();
        bool mayFail = false;
        for (const Change& change : changes) {
            ++outcome_.requested;
            outcome_.landed += change.landed;
            const std::string what = "row " + std::to_string(change.row) + (change.label ? " label" : " ID");
            if (change.due == Due::Land && !change.landed)
                Fail(what + ": the change did not land though nothing stood in its way");
            mustFail =
                mustFail || change.due == Due::Refuse || (change.due != Due::Unknown && !change.landed);
            mayFail = mayFail || change.due != Due::Land;
        }
        if (mustFail && outcome_.exitCode != 1)
            Fail("exit code " + std::to_string(outcome_.exitCode) +
                 " though a change was refused or did not land, or a disk was not read");
        if (!mustFail && !mayFail && outcome_.exitCode != 0)
            Fail("exit code " + std::to_string(outcome_.exitCode) + " though every change landed");
        if (!mustFail && mayFail && outcome_.exitCode != 0 && outcome_.exitCode != 1)
            Fail("exit code " + std::to_string(outcome_.exitCode));
        CheckImages(allowedIdBytes, allowedRanges, idSectors, volumeWrites);
        CheckGpts();
        CheckRefusedDrivesUnwritten(facts, changes);
    }

    // A refusal is made before anything is written: a drive whose every
    // change is refused sees no write, not even one put back afterwards.
    void CheckRefusedDrivesUnwritten(const std::vector<RowFacts>& facts, const std::vector<Change>& changes) {
        std::map<uint32_t, bool> refused;
        for (const Change& change : changes) {
            const uint32_t drive = facts[change.row].drive;
            refused[drive] = (!refused.count(drive) || refused[drive]) && change.due == Due::Refuse;
        }
        const std::vector<CallRecord>& calls = platform_->Calls();
        for (size_t i = mark_; i < calls.size(); ++i) {
            const auto drive = refused.find(static_cast<uint32_t>(calls[i].drive));
            if (calls[i].call == PlatformCall::Write && calls[i].letter == 0 && calls[i].drive >= 0 &&
                drive != refused.end() && drive->second)
                return Fail("disk " + std::to_string(drive->first) + ": written though every change was refused");
        }
    }

    // Where a GPT row's type lies in both copies of the GPT the drive held
    // when the writes began, and the sectors and CRC fields a change of it
    // may write: nothing when the two copies are not both right.
    struct GptPlaces {
        uint32_t index = 0;
        GptView primary, backup;
        std::vector<uint64_t> sectors;                    // byte positions of whole sectors
        std::vector<std::pair<uint64_t, size_t>> ranges;  // the type GUIDs and the CRC fields
    };
    std::optional<GptPlaces> PlacesOfGptRow(const RowFacts& f) const {
        if (f.drive >= atMark_.size()) return std::nullopt;
        const MemoryImage& image = *atMark_[f.drive];
        const uint64_t sectors = image.Size() / unit_;
        if (sectors < 3) return std::nullopt;
        auto primary = ReadGptAt(image, f.drive, 1, unit_), backup = ReadGptAt(image, f.drive, sectors - 1, unit_);
        const uint64_t at = f.place.sector + f.place.idOffset;
        if (!primary || !backup || at < primary->entryLba * unit_ ||
            (at - primary->entryLba * unit_) % primary->entrySize != 0)
            return std::nullopt;
        GptPlaces places;
        places.index = static_cast<uint32_t>((at - primary->entryLba * unit_) / primary->entrySize);
        if (places.index >= primary->count || places.index >= backup->count) return std::nullopt;
        for (const GptView* copy : {&*backup, &*primary}) {
            const uint64_t entry = copy->EntryPosition(places.index, unit_);
            places.sectors.push_back(entry / unit_ * unit_);
            places.sectors.push_back(copy->lba * unit_);
            places.ranges.push_back({entry, 16});
            places.ranges.push_back({copy->lba * unit_ + 16, 4});  // header CRC
            places.ranges.push_back({copy->lba * unit_ + 88, 4});  // array CRC
        }
        places.primary = std::move(*primary);
        places.backup = std::move(*backup);
        return places;
    }

    // A GPT row's type change: refused by the rules or by the state of the
    // disk, else both copies' entries hold the code's GUID.
    Change CheckGptChange(const std::vector<RowFacts>& facts, const std::string& id, int row,
                          const std::map<uint32_t, std::map<uint64_t, int>>& labelSectors,
                          std::map<uint32_t, std::vector<std::pair<uint64_t, size_t>>>& allowedRanges) {
        const RowFacts& f = facts[row];
        Change change{row, false, Due::Either, false};
        const bool rule = MustRefuseGptChange(id, f.scannedId);
        const auto places = PlacesOfGptRow(f);
        const bool present = f.drive < inDrive_.size() && !removed_.count(f.drive);
        // A label change writing one of its sectors may undo it.
        const bool shared = places && labelSectors.count(f.drive) &&
                            std::any_of(places->sectors.begin(), places->sectors.end(),
                                        [&](uint64_t p) { return labelSectors.at(f.drive).count(p / unit_) > 0; });
        if (rule || !present) {
            change.due = Due::Refuse;
        } else if (rowsMatch_) {
            const ExpectedRow& e = expected_.rows[row];
            const MemoryImage &then = *originals_[f.drive], &now = *atMark_[f.drive];
            const auto mbr = WholeSector(now, 0, unit_), scanMbr = WholeSector(then, 0, unit_);
            const uint64_t sectors = then.Size() / unit_;
            auto scanned = ReadGptAt(then, f.drive, 1, unit_);
            if (!scanned && sectors >= 3) scanned = ReadGptAt(then, f.drive, sectors - 1, unit_);
            const auto& a = places ? places->primary : GptView{};
            const auto& b = places ? places->backup : GptView{};
            // The two copies agree, and no part of one lies over a part of the other.
            const uint64_t n = (uint64_t{a.count} * a.entrySize + unit_ - 1) / unit_;
            const auto apart = [](uint64_t x, uint64_t xn, uint64_t y, uint64_t yn) { return x + xn <= y || y + yn <= x; };
            const bool agree = places && a.diskGuid == b.diskGuid && a.alternate == b.lba && b.alternate == 1 &&
                               a.count == b.count && a.entrySize == b.entrySize && a.array == b.array &&
                               apart(a.entryLba, n, b.entryLba, n) && apart(a.entryLba, n, b.lba, 1) &&
                               apart(a.lba, 1, b.entryLba, n) && apart(a.lba, 1, a.entryLba, n) &&
                               apart(b.lba, 1, b.entryLba, n);
            const uint8_t* entry = agree ? a.array.data() + uint64_t{places->index} * a.entrySize : nullptr;
            if (!agree || now.Size() != then.Size() || !mbr || !scanMbr ||
                !std::equal(mbr->begin() + 0x1B8, mbr->begin() + 0x1BC, scanMbr->begin() + 0x1B8) || !scanned ||
                scanned->diskGuid != a.diskGuid || e.gptEntry.size() != a.entrySize ||
                !std::equal(e.gptEntry.begin(), e.gptEntry.end(), entry))
                change.due = Due::Refuse;
            else if (shared)
                change.due = Due::Unknown;
            else
                change.due = Healthy() && expected_.readWhole.count(f.drive) ? Due::Land : Due::Either;
        }
        if (!places) return change;
        if (change.due != Due::Refuse) {
            allowedRanges[f.drive].insert(allowedRanges[f.drive].end(), places->ranges.begin(), places->ranges.end());
            gptChanged_[f.drive] = gptChanged_.count(f.drive) ? gptChanged_[f.drive] && !shared : !shared;
        }
        const KnownGptType* known = KnownGptTypeOfCode(UpperGbk(id));
        if (!known || !present || shared) return change;
        const GuidBytes wanted = GuidOnDisk(known->guid);
        change.landed = true;
        for (const GptView* copy : {&places->backup, &places->primary}) {
            GuidBytes before{}, after{};
            const uint64_t entry = copy->EntryPosition(places->index, unit_);
            atMark_[f.drive]->ReadAt(entry, before.data(), before.size());
            inDrive_[f.drive]->ReadAt(entry, after.data(), after.size());
            change.landed = change.landed && after == wanted;
            if (after != before && after != wanted)
                Fail("row " + std::to_string(row) + ": a type GUID got a value not asked for");
            if (after != before && change.due == Due::Refuse)
                Fail("row " + std::to_string(row) + ": a refused type was written");
        }
        return change;
    }

    // Wherever a GPT changed, both copies are right again (all of the change
    // or none of it), and the backup copy was written before the primary.
    void CheckGpts() {
        for (const auto& changed : gptChanged_) {
            const uint32_t drive = changed.first;
            if (!changed.second) continue;
            const MemoryImage &before = *atMark_[drive], &after = *inDrive_[drive];
            const uint64_t sectors = after.Size() / unit_;
            if (sectors < 3 || removed_.count(drive)) continue;
            const auto primary = ReadGptAt(before, drive, 1, unit_), backup = ReadGptAt(before, drive, sectors - 1, unit_);
            if (!primary || !backup) continue;
            const auto written = [&](const GptView& copy) {
                std::vector<uint8_t> was(unit_), is(unit_);
                before.ReadAt(copy.lba * unit_, was.data(), unit_);
                after.ReadAt(copy.lba * unit_, is.data(), unit_);
                return was != is;
            };
            if (!written(*primary) && !written(*backup)) continue;
            // A failed write is undone by putting back what was written;
            // only a second failure, while putting back, may leave a copy spoilt.
            const auto failures = std::count_if(
                platform_->Calls().begin() + static_cast<std::ptrdiff_t>(mark_), platform_->Calls().end(),
                [&](const CallRecord& c) { return c.drive == static_cast<int>(drive) && (c.failed || c.shortTransfer); });
            if (failures < 2 && (!ReadGptAt(after, drive, 1, unit_) || !ReadGptAt(after, drive, sectors - 1, unit_)))
                Fail("disk " + std::to_string(drive) + ": a GPT copy is not right after the change");
            const auto firstWrite = [&](const GptView& copy) {
                const std::vector<CallRecord>& calls = platform_->Calls();
                for (size_t i = 0; i < calls.size(); ++i)
                    if (calls[i].call == PlatformCall::Write && calls[i].drive == static_cast<int>(drive) &&
                        calls[i].letter == 0 && calls[i].position == copy.lba * unit_)
                        return i;
                return calls.size();
            };
            if (written(*primary) && firstWrite(*primary) < firstWrite(*backup))
                Fail("disk " + std::to_string(drive) + ": the primary GPT was written before the backup");
        }
    }

    Due DueOfId(const std::vector<RowFacts>& facts, const std::vector<std::string>& ids, int row,
                const std::map<uint32_t, std::map<uint64_t, int>>& labelSectors) const {
        const auto wanted = ParseId(ids[row]);
        if (!wanted || MustRefuseIdChange(facts, ids, expected_, row, *wanted)) return Due::Refuse;
        const RowFacts& f = facts[row];
        if (!rowsMatch_) return Due::Either;
        const ExpectedRow& e = expected_.rows[row];
        if (!e.tableSigned || f.drive >= atMark_.size() || removed_.count(f.drive)) return Due::Refuse;
        // The drive must still hold the disk the scan saw, with the entry as it was read.
        const MemoryImage& now = *atMark_[f.drive];
        const auto mbr = WholeSector(now, 0, unit_), table = WholeSector(now, f.place.sector, unit_);
        const auto scanMbr = WholeSector(*originals_[f.drive], 0, unit_);
        if (now.Size() != originals_[f.drive]->Size() || !mbr || !table || !scanMbr ||
            !std::equal(mbr->begin() + 0x1B8, mbr->begin() + 0x1BC, scanMbr->begin() + 0x1B8) ||
            (*table)[510] != 0x55 || (*table)[511] != 0xAA)
            return Due::Refuse;
        std::array<uint8_t, 16> entry{}, changed = e.entry;
        std::copy_n(table->begin() + f.place.idOffset - 4, 16, entry.begin());
        changed[4] = *wanted;
        if (entry != e.entry && entry != changed) return Due::Refuse;
        const auto sectors = labelSectors.find(f.drive);
        const bool touched = sectors != labelSectors.end() &&
                             (sectors->second.count(0) || sectors->second.count(f.place.sector / unit_));
        if (touched) return Due::Either;
        return Healthy() && expected_.readWhole.count(f.drive) ? Due::Land : Due::Either;
    }

    // The label goes through the letter the row shows: the volume under it
    // must be the row's partition, at the scan (with an answer from Windows)
    // and at the writes (with the same serial number).
    LabelPlan PlanLabel(const PartitionRows& rows, int row, const std::string& label) const {
        LabelPlan plan;
        const uint32_t drive = rows.Side(row).drive;
        const uint64_t start = rows.Side(row).partitionStart;
        const char letter = RowLetter(rows, row);
        if (letter == 0 || drive >= atMark_.size() || removed_.count(drive)) return plan;
        const auto then = VolumeNamed(namesAtMark_, letter, originals_, unit_);
        const auto now = VolumeNamed(namesAtApply_, letter, atMark_, unit_);
        if (!then || !now || then->drive != drive || now->drive != drive || then->extent.start != start ||
            now->extent.start != start)
            return plan;
        WindowsVolume before(originals_[drive], then->extent), after(atMark_[drive], now->extent);
        if (!before.fat || !after.fat || before.fat->serial != after.fat->serial) return plan;
        const auto reported = LabelAfterSet(*atMark_[drive], *after.fat, label);
        if (!reported) return plan;
        plan.refused = false;
        plan.volume = now->extent;
        plan.reported = *reported;

        plan.sectors.insert(start / unit_);
        plan.ranges.push_back({start + 0x47, 11});
        plan.volumeWrites.push_back(0);
        const Bytes boot = *WholeSector(*atMark_[drive], start, unit_);  // Windows mounted it: it is whole
        const uint32_t backup = Le(&boot[0x32], 2), reserved = Le(&boot[0x0E], 2),
                       fsInfo = Le(&boot[0x30], 2);
        if (backup != 0 && backup < reserved && backup != fsInfo) {
            const uint64_t position = start + uint64_t{backup} * unit_;
            plan.sectors.insert(position / unit_);
            plan.ranges.push_back({position + 0x47, 11});
            plan.volumeWrites.push_back(uint64_t{backup} * unit_);
            const auto copy = WholeSector(*atMark_[drive], position, unit_);
            plan.backupUnreachable = !copy || uint64_t{backup} * unit_ + unit_ > now->extent.length;
            if (!plan.backupUnreachable && SaysFat32(*copy) &&
                std::equal(boot.begin() + 0x0B, boot.begin() + 0x47, copy->begin() + 0x0B))
                plan.backupField = position + 0x47;
        }
        if (const auto entry = FindLabelSlot(*atMark_[drive], *after.fat)) {
            plan.sectors.insert(entry->position / unit_);
            plan.ranges.push_back({entry->position, 32});
        }
        plan.ownSectorsApart = plan.sectors.size() == plan.ranges.size();
        return plan;
    }

    Due DueOfLabel(const PartitionRows& rows, const std::vector<RowFacts>& facts, int row,
                   const LabelPlan& plan, const std::map<uint32_t, std::map<uint64_t, int>>& labelSectors,
                   const std::map<uint32_t, std::set<uint64_t>>& idSectors) const {
        const uint32_t drive = facts[row].drive;
        if (plan.refused) return Due::Refuse;
        bool shared = !plan.ownSectorsApart;
        const auto ids = idSectors.find(drive);
        for (const uint64_t sector : plan.sectors)
            shared = shared || labelSectors.at(drive).at(sector) > 1 ||
                     (ids != idSectors.end() && ids->second.count(sector));
        if (shared) return Due::Unknown;
        if (plan.backupUnreachable && (facts[row].gpt || IsFat32IdText(UpperGbk(rows.Cell(row, ColumnId)))))
            return Due::Either;
        return Healthy() && rowsMatch_ && expected_.readWhole.count(drive) ? Due::Land : Due::Either;
    }

    // Every byte that changed is one the command asked for, and every write
    // went back to a sector that was read in full just before.
    void CheckImages(const std::map<uint32_t, std::set<uint64_t>>& idBytes,
                     const std::map<uint32_t, std::vector<std::pair<uint64_t, size_t>>>& labelRanges,
                     const std::map<uint32_t, std::set<uint64_t>>& idSectors,
                     const std::map<uint32_t, std::set<uint64_t>>& volumeWrites) {
        for (uint32_t drive = 0; drive < inDrive_.size(); ++drive) {
            MemoryImage restored(*inDrive_[drive]);
            std::vector<uint8_t> bytes(32);
            if (const auto ids = idBytes.find(drive); ids != idBytes.end())
                for (const uint64_t position : ids->second) {
                    atMark_[drive]->ReadAt(position, bytes.data(), 1);
                    restored.WriteAt(position, bytes.data(), 1);
                }
            if (const auto ranges = labelRanges.find(drive); ranges != labelRanges.end())
                for (const auto& [position, count] : ranges->second) {
                    const size_t got = atMark_[drive]->ReadAt(position, bytes.data(), count);
                    restored.WriteAt(position, bytes.data(), got);
                }
            if (!(restored == *atMark_[drive]))
                Fail("disk " + std::to_string(drive) + " changed where nothing was asked");
        }
        // Nothing is written by the scans, nor to a medium once it was taken out.
        for (const auto& [medium, taken] : swappedOut_)
            if (!(*medium == *taken)) Fail("a medium taken out was written");
        for (uint32_t drive = 0; drive < inDrive_.size() && case_.media.empty(); ++drive)
            if (!(*originals_[drive] == *atMark_[drive]))
                Fail("disk " + std::to_string(drive) + " changed during the scans");
        const std::vector<CallRecord>& calls = platform_->Calls();
        for (size_t i = 0; i < calls.size(); ++i) {
            const CallRecord& write = calls[i];
            if (write.call != PlatformCall::Write) continue;
            const auto read = std::find_if(calls.rbegin() + static_cast<std::ptrdiff_t>(calls.size() - i),
                                           calls.rend(), [&](const CallRecord& c) {
                                               return c.call == PlatformCall::Read &&
                                                      c.drive == write.drive && c.letter == write.letter;
                                           });
            if (read == calls.rend() || read->position != write.position || read->failed ||
                read->shortTransfer)
                Fail("a sector was written that was not read in full just before");
            const auto& allowed = write.letter == 0 ? idSectors : volumeWrites;
            const auto found = allowed.find(static_cast<uint32_t>(write.drive));
            const uint64_t key = write.letter == 0 ? write.position / unit_ : write.position;
            if (write.drive < 0 || found == allowed.end() || !found->second.count(key))
                Fail("a sector was written that no requested change lies in");
        }
    }

    // Every run that writes saves its undo file first; /U with that file
    // (altered as the case says) is a run of its own.
    void CheckUndo(const Session& session) {
        const auto& files = platform_->UndoFilesInMemory();
        const auto file = files.find(session.UndoFile());
        if (file == files.end()) {
            if (!SavedBeforeFirstWrite(platform_->Calls())) Fail("a write without an undo file");
            return;
        }
        for (std::string& violation : CheckUndoFileOfRun(file->second, platform_->Calls(), originals_, unit_))
            Fail(std::move(violation));
        RestoreStage stage = RestoreAfterRun(file->second, case_.undoEdits, inDrive_, atMark_, unit_);
        for (std::string& violation : stage.violations) Fail(std::move(violation));
        outcome_.restoredDisks = stage.restoredDisks;
    }

    // Only the program's own temporary names go, exactly those, and none is
    // left once the window closed.
    void CheckNames(Session& session) {
        std::map<char, std::vector<std::string>> stacks;
        for (const ForeignName& name : foreign_)
            if (!name.afterScan) stacks[name.letter].push_back(name.target);
        for (const TemporaryDriveName& name : ours_) {
            if (stacks.count(name.name[0])) Fail("a temporary name was put over someone else's");
            stacks[name.name[0]].push_back(name.target);
        }
        for (const ForeignName& name : foreign_)
            if (name.afterScan) stacks[name.letter].push_back(name.target);
        for (const TemporaryDriveName& name : ours_) {
            const bool kept =
                std::any_of(platform_->Calls().begin(), platform_->Calls().end(), [&](const CallRecord& c) {
                    return c.call == PlatformCall::RemoveDosDevice && c.letter == name.name[0] && c.failed;
                });
            auto& stack = stacks[name.name[0]];
            const auto match = std::find(stack.rbegin(), stack.rend(), name.target);
            if (!kept && match != stack.rend()) stack.erase(std::next(match).base());
        }
        std::map<char, std::string> inForce;
        for (const auto& [letter, stack] : stacks)
            if (!stack.empty()) inForce[letter] = stack.back();
        if (platform_->DosDevices() != inForce)
            Fail("DOS names after the close are not the ones others defined");
        if (!session.TemporaryNames().empty()) Fail("the list of temporary names was not emptied");
    }

    const FuzzCase& case_;
    const uint32_t unit_ = case_.sectorSize;
    FuzzOutcome outcome_;
    std::unique_ptr<ImagePlatform> platform_;
    QuietShell shell_;
    std::vector<SharedMemoryImage> originals_, inDrive_, atMark_;
    ExpectedScan expected_;
    std::set<uint32_t> removed_;
    bool marked_ = false;
    uint64_t mark_ = 0;
    std::map<char, std::string> namesAtMark_, namesAtApply_;  // the DOS names in force
    TemporaryDriveNames ours_;
    std::vector<ForeignName> foreign_;  // those Windows took
    CommandMeaning window_;             // the cells as the window edits left them
    std::vector<std::pair<SharedMemoryImage, SharedMemoryImage>> swappedOut_;  // media taken out, and a copy
    bool rowsMatch_ = false;  // the rows are the ones the checker expects
    // Drives with a GPT change that may be written: whether no label change
    // shares its sectors.
    std::map<uint32_t, bool> gptChanged_;
};

}  // namespace

SharedMemoryImage MaterializeImage(const FuzzImage& image) {
    auto memory = std::make_shared<MemoryImage>(image.size);
    for (const auto& [sector, bytes] : image.sectors) {
        const uint64_t position = sector * 512;
        if (position >= image.size) continue;
        const uint64_t room = image.size - position;
        memory->WriteAt(position, bytes.data(),
                        room < bytes.size() ? static_cast<size_t>(room) : bytes.size());
    }
    return memory;
}

FuzzOutcome RunFuzzCase(const FuzzCase& fuzzCase) {
    return Checker(fuzzCase).Run();
}

}  // namespace quorvane::fuzz
