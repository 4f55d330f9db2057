// The whole-run fuzzer's checker (fuzz/FuzzRun.h): its state and its checks.
// The run, the rows, the DOS names and the undo file are checked in
// fuzz/FuzzRun.cpp; the changes the command asked for, on the disks, in
// fuzz/FuzzChanges.cpp, GPT changes in fuzz/FuzzGpt.cpp; what Windows holds
// beyond the disks' bytes (its layouts, the partitions it runs from, its
// volume locks) in fuzz/FuzzWindows.cpp; /N in fuzz/DryRun.cpp.
#pragma once

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/Session.h"
#include "apply/RunPlan.h"
#include "fuzz/CommandModel.h"
#include "fuzz/FatModel.h"
#include "fuzz/FuzzCase.h"
#include "fuzz/FuzzRun.h"
#include "fuzz/Oracle.h"
#include "platform/image/ImagePlatform.h"
#include "scan/PartitionRows.h"

namespace quorvane::fuzz {

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
    // An ID or type change whose bytes differ from those scanned: it is
    // planned, and its volume locked, wherever nothing refuses it.
    bool writes = false;
    // Refused only when written: a volume of its drive cannot be locked,
    // or Windows refuses the label. /N plans it as any other (`planned`).
    bool refusedAtWrite = false;
    Due planned = Due::Either;  // what planning alone comes to
};

// The first 512 bytes of the sector of `unit` bytes at `position`.
inline std::optional<Bytes> WholeSector(const MemoryImage& image, uint64_t position, uint32_t unit) {
    if (position > image.Size() || image.Size() - position < unit) return std::nullopt;
    Bytes sector{};
    image.ReadAt(position, sector.data(), sector.size());
    return sector;
}

inline uint32_t Le(const uint8_t* p, int bytes) {
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = value << 8 | p[i];
    return value;
}

inline bool SaysFat32(const Bytes& sector) {
    return UpperGbk(std::string(reinterpret_cast<const char*>(&sector[0x52]), 5)) == "FAT32";
}

inline bool IsContainerText(const std::string& id) {
    return id == "05" || id == "0F";
}

inline std::string Padded(std::string label) {
    label.resize(11, ' ');
    return label;
}

inline std::string FieldAt(const MemoryImage& image, uint64_t position) {
    std::string field(11, '\0');
    image.ReadAt(position, reinterpret_cast<uint8_t*>(field.data()), field.size());
    return field;
}

// The FAT32 volume Windows sees in a partition of an image, by the checker's
// own reading of Microsoft's FAT32 white paper.
struct WindowsVolume {
    const MemoryImage* image;
    std::optional<FatVolume> fat;
    WindowsVolume(const SharedMemoryImage& disk, const Extent& extent)
        : image(disk.get()), fat(MountFat32(*disk, extent.start, extent.length)) {}
    std::string Label() const { return ReportedLabel(*image, *fat); }
};

// Partition `number` of `drive` in Windows' view (`views`: per drive, the
// disk as Windows read its layout; null where the drive holds no medium).
struct NamedVolume {
    uint32_t drive = 0;
    Extent extent;
};
inline std::optional<NamedVolume> ViewPartition(const std::vector<SharedMemoryImage>& views, uint32_t drive,
                                                uint32_t number, uint32_t unit) {
    if (drive >= views.size() || !views[drive]) return std::nullopt;
    const auto extent = WindowsPartition(*views[drive], number, unit);
    if (!extent) return std::nullopt;
    return NamedVolume{drive, *extent};
}
// The partition a DOS name of `names` targets in Windows' view.
inline std::optional<NamedVolume> VolumeNamed(const std::map<char, std::string>& names, char letter,
                                              const std::vector<SharedMemoryImage>& views, uint32_t unit) {
    const auto name = names.find(letter);
    uint32_t drive = 0, number = 0;
    if (name == names.end() || !ParseTarget(name->second, drive, number)) return std::nullopt;
    return ViewPartition(views, drive, number, unit);
}

// What a label change of a row may write, and what it must leave.
struct LabelPlan {
    uint32_t drive = 0;
    bool refused = true;  // no volume of the row's partition under its letter, or Windows refuses the label
    std::set<uint64_t> sectors;                       // sector numbers it may touch
    std::vector<std::pair<uint64_t, size_t>> ranges;  // bytes it may change
    std::vector<uint64_t> volumeWrites;               // sector positions in the volume
    Extent volume;
    std::string reported;                 // the label Windows reports after it
    std::optional<uint64_t> backupField;  // a backup copy that must follow
    std::optional<uint64_t> slot;         // the root directory entry Windows writes
    bool backupUnreachable = false;       // a backup field names a sector the volume cannot read
    bool ownSectorsApart = true;
    // Every check before the label is set passed, and then Windows refuses
    // it (`refused` too): /N plans it.
    bool windowsRefuses = false;
};

// What a run under /N planned, for the same case run without /N to match:
// and whether that run met nothing the checker cannot foresee.
struct PlanOfN {
    RunPlan plan;
    int exitCode = 0;
    bool healthy = false;
};

class Checker {
 public:
    // `planOfN`: the plan a run of the same case under /N made; this run,
    // without /N, must write exactly what it names.
    explicit Checker(const FuzzCase& fuzzCase, const PlanOfN* planOfN = nullptr)
        : case_(fuzzCase), planOfN_(planOfN) {}

    FuzzOutcome Run();
    // After Run under /N: what it planned.
    const std::optional<PlanOfN>& Plan() const { return plan_; }

 private:
    void Fail(std::string text) { outcome_.violations.push_back(std::move(text)); }

    void Prepare();

    // After both scans, before the command: other media, other names, and
    // the failures counted from here.
    void AtRowsShown(Session& session);

    // The window as the checker knows it: each "修改" puts the fields into
    // the selected row's cells, unless a rule refuses the ID at once; the
    // label field takes a label only where the row has a volume (not a
    // container, not the protective entry). The row's context menu hides or
    // shows it as /HIDE and /SHOW do, where it offers that.
    void EditInTheWindow(Session& session);

    bool AnyCallFailed() const;
    // Nothing went wrong and nothing changed behind the program's back.
    bool Healthy() const;
    // The scans ran without a failure the checker cannot foresee.
    bool ScanForeseen() const;

    void CheckRows(Session& session);

    // Each partition Windows numbers has a letter once enough were free, and
    // every letter a row shows names a volume starting where the row's
    // partition starts.
    void CheckLetters(const PartitionRows& rows);

    std::vector<RowFacts> Facts(const PartitionRows& rows) const;
    // The checker's rules for a change of a row, on the cells as `ids` holds them.
    RefusalRules Rules(const std::vector<RowFacts>& facts, const std::vector<std::string>& ids) const;

    void CheckChanges(Session& session);

    // A refusal is made before anything is written: a drive whose every
    // change is refused sees no write, not even one put back afterwards.
    void CheckRefusedDrivesUnwritten(const std::vector<RowFacts>& facts, const std::vector<Change>& changes);

    // Where a GPT row's entry lies in both copies of the GPT the drive held
    // when the writes began, and the sectors and fields a change of it may
    // write: nothing when the two copies are not both right.
    struct GptPlaces {
        uint32_t index = 0;
        GptView primary, backup;
        std::vector<uint64_t> sectors;                    // byte positions of whole sectors
        std::vector<std::pair<uint64_t, size_t>> ranges;  // the entries' type and attributes, the CRC fields
    };
    std::optional<GptPlaces> PlacesOfGptRow(const RowFacts& f) const;

    // A GPT row's change of type, attributes or both: refused by the rules
    // or by the state of the disk, else what it must come to.
    Change DueOfGptChange(const std::vector<RowFacts>& facts, int row,
                          const std::map<uint32_t, std::map<uint64_t, int>>& labelSectors) const;
    // Both copies' entries hold the type and attributes asked for, or what
    // they held; `allowedRanges` gains what the change may write.
    void CheckGptChange(const std::vector<RowFacts>& facts, Change& change,
                        const std::map<uint32_t, std::map<uint64_t, int>>& labelSectors,
                        std::map<uint32_t, std::vector<std::pair<uint64_t, size_t>>>& allowedRanges);
    // A label change writing one of the GPT's sectors may undo a change of it.
    bool SharesLabelSector(const std::optional<GptPlaces>& places, uint32_t drive,
                           const std::map<uint32_t, std::map<uint64_t, int>>& labelSectors) const;

    // Wherever a GPT changed, both copies are right again (all of the change
    // or none of it), and the backup copy was written before the primary.
    void CheckGpts();

    // An MBR or EBR entry's ID change: refused by the rules or by the state
    // of the drive, else what it must come to.
    Change DueOfId(const std::vector<RowFacts>& facts, const std::vector<std::string>& ids, int row,
                   const std::map<uint32_t, std::map<uint64_t, int>>& labelSectors) const;
    Due DueOfIdByte(const std::vector<RowFacts>& facts, const std::vector<std::string>& ids, int row,
                    const std::map<uint32_t, std::map<uint64_t, int>>& labelSectors) const;

    // The label goes through the letter the row shows: the volume under it
    // must be the row's partition, at the scan (with an answer from Windows)
    // and at the writes (with the same serial number).
    LabelPlan PlanLabel(const PartitionRows& rows, int row, const std::string& label) const;

    Due DueOfLabel(const std::vector<RowFacts>& facts, int row, const LabelPlan& plan,
                   const std::map<uint32_t, std::map<uint64_t, int>>& labelSectors,
                   const std::map<uint32_t, std::set<uint64_t>>& idSectors) const;

    // Whether the label landed, through Windows and in the boot sectors;
    // what it may write.
    void CheckLabel(const LabelPlan& plan, Change& change,
                    std::map<uint32_t, std::vector<std::pair<uint64_t, size_t>>>& allowedRanges,
                    std::map<uint32_t, std::set<uint64_t>>& volumeWrites);

    // The exit code by the changes (`dry`: by what planning alone decides).
    void CheckExitCode(const std::vector<Change>& changes, bool everyMatchUnread, bool dry);

    // Every byte that changed is one the command asked for, and every write
    // went back to a sector that was read in full just before.
    void CheckImages(const std::map<uint32_t, std::set<uint64_t>>& idBytes,
                     const std::map<uint32_t, std::vector<std::pair<uint64_t, size_t>>>& labelRanges,
                     const std::map<uint32_t, std::set<uint64_t>>& idSectors,
                     const std::map<uint32_t, std::set<uint64_t>>& volumeWrites);

    // Every run that writes saves its undo file first; /U with that file
    // (altered as the case says) is a run of its own.
    void CheckUndo(const Session& session);

    // Only the program's own temporary names go, exactly those, and none is
    // left once the window closed; none points into a drive Windows reads
    // otherwise.
    void CheckNames(Session& session);

    // fuzz/FuzzWindows.cpp: Windows' answers as the case sets them, the
    // layout it read before the tables were written raw.
    void PrepareWindows(std::vector<ImageSource>& sources);
    // The rows that keep Windows running, by the checker's own reading of
    // the volumes Windows names; certain unless a query about them failed.
    void FindSystemRows(const PartitionRows& rows);
    // The rows' marks: Windows runs from it, Windows reads its drive otherwise.
    void CheckWindowsMarks(const PartitionRows& rows);
    // The volumes a drive's table writes lock: where one cannot be locked
    // (in use, or locked already under another name) nothing of the drive is
    // written. Turns the changes of such drives into refusals and counts the
    // pauses between lock tries.
    void LockDrives(const PartitionRows& rows, const std::vector<RowFacts>& facts,
                    std::vector<Change>& changes);
    void CheckPauses();
    // A GPT partition hidden on removable media is told to the user.
    void CheckRemovableNotes(const Session& session, const std::vector<RowFacts>& facts,
                             const std::vector<Change>& changes, bool dry);

    // fuzz/DryRun.cpp: a run under /N writes, saves and locks nothing, and
    // plans; a run without it writes exactly what that plan named.
    void CheckNothingWritten(const Session& session);
    void MatchPlanOfN(const PartitionRows& rows, const std::vector<RowFacts>& facts,
                      const std::vector<Change>& changes, const std::map<int, LabelPlan>& labelPlans);

    const FuzzCase& case_;
    const PlanOfN* planOfN_;
    std::optional<PlanOfN> plan_;
    const uint32_t unit_ = case_.sectorSize;
    FuzzOutcome outcome_;
    std::unique_ptr<ImagePlatform> platform_;
    QuietShell shell_;
    std::vector<SharedMemoryImage> originals_, inDrive_, atMark_;
    // Per drive, the disk as Windows read its layout, which decides where
    // its partition devices lie: at the scan, and at the writes (another
    // medium is read anew; null: no medium).
    std::vector<SharedMemoryImage> viewAtScan_, viewAtApply_;
    ExpectedScan expected_;
    std::set<uint32_t> removed_;
    bool marked_ = false;
    uint64_t mark_ = 0;
    std::map<char, std::string> namesAtMark_, namesAtApply_;  // the DOS names in force
    TemporaryDriveNames ours_;
    std::vector<ForeignName> foreign_;  // those Windows took
    CommandMeaning window_;             // the cells as the window edits left them
    CommandMeaning meaning_;            // the cells as the command line or the window left them
    std::vector<std::pair<SharedMemoryImage, SharedMemoryImage>> swappedOut_;  // media taken out, and a copy
    bool rowsMatch_ = false;  // the rows are the ones the checker expects
    std::set<int> system_;    // rows that keep Windows running
    bool systemCertain_ = true;
    // Drives whose table writes a lock that fails stops: surely, or maybe.
    std::set<uint32_t> lockedOut_, lockedOutMaybe_;
    uint64_t pausesAtLeast_ = 0, pausesAtMost_ = 0;
    // Drives with a GPT change that may be written: whether no label change
    // shares its sectors.
    std::map<uint32_t, bool> gptChanged_;
};

}  // namespace quorvane::fuzz
