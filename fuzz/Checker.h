// The whole-run fuzzer's checker (fuzz/FuzzRun.h): its state and its checks.
// The run, the rows, the DOS names and the undo file are checked in
// fuzz/FuzzRun.cpp; the changes the command asked for, on the disks, in
// fuzz/FuzzChanges.cpp.
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
inline std::optional<NamedVolume> VolumeNamed(const std::map<char, std::string>& names, char letter,
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

    FuzzOutcome Run();
    // A GPT row that no type change may touch, whatever the code: an entry
    // of the table a hybrid MBR's Windows does not read, or one on a drive
    // Windows reads otherwise than the scan listed it.
    bool RefusedForGptRow(const RowFacts& f) const {
        return f.otherScheme || expected_.layoutDiffers.count(f.drive) != 0;
    }

 private:
    void Fail(std::string text) { outcome_.violations.push_back(std::move(text)); }

    void Prepare();

    // After both scans, before the command: other media, other names, and
    // the failures counted from here.
    void AtRowsShown(Session& session);

    // The window as the checker knows it: each "修改" puts the fields into
    // the selected row's cells, unless a rule refuses the ID at once; the
    // label field takes a label only where the row has a volume (not a
    // container, not the protective entry).
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

    void CheckChanges(Session& session);

    // A refusal is made before anything is written: a drive whose every
    // change is refused sees no write, not even one put back afterwards.
    void CheckRefusedDrivesUnwritten(const std::vector<RowFacts>& facts, const std::vector<Change>& changes);

    // Where a GPT row's type lies in both copies of the GPT the drive held
    // when the writes began, and the sectors and CRC fields a change of it
    // may write: nothing when the two copies are not both right.
    struct GptPlaces {
        uint32_t index = 0;
        GptView primary, backup;
        std::vector<uint64_t> sectors;                    // byte positions of whole sectors
        std::vector<std::pair<uint64_t, size_t>> ranges;  // the type GUIDs and the CRC fields
    };
    std::optional<GptPlaces> PlacesOfGptRow(const RowFacts& f) const;

    // A GPT row's type change: refused by the rules or by the state of the
    // disk, else both copies' entries hold the code's GUID.
    Change CheckGptChange(const std::vector<RowFacts>& facts, const std::string& id, int row,
                          const std::map<uint32_t, std::map<uint64_t, int>>& labelSectors,
                          std::map<uint32_t, std::vector<std::pair<uint64_t, size_t>>>& allowedRanges);

    // Wherever a GPT changed, both copies are right again (all of the change
    // or none of it), and the backup copy was written before the primary.
    void CheckGpts();

    Due DueOfId(const std::vector<RowFacts>& facts, const std::vector<std::string>& ids, int row,
                const std::map<uint32_t, std::map<uint64_t, int>>& labelSectors) const;

    // The label goes through the letter the row shows: the volume under it
    // must be the row's partition, at the scan (with an answer from Windows)
    // and at the writes (with the same serial number).
    LabelPlan PlanLabel(const PartitionRows& rows, int row, const std::string& label) const;

    Due DueOfLabel(const std::vector<RowFacts>& facts, int row,
                   const LabelPlan& plan, const std::map<uint32_t, std::map<uint64_t, int>>& labelSectors,
                   const std::map<uint32_t, std::set<uint64_t>>& idSectors) const;

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
    // left once the window closed.
    void CheckNames(Session& session);

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

}  // namespace quorvane::fuzz
