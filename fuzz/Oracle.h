// The checker's own knowledge of what a run must do, worked out without the
// program's code: a small walk of the tables the case built (the rows the
// scan must list and the numbers Windows gives), what each command line
// means for the cells, and the rules by which an ID change is refused. The
// image backend's walk is not used either: this is a third reading.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/image/ImagePlatform.h"
#include "platform/image/MemoryImage.h"

namespace quorvane::fuzz {

// The most rows the program may show (the side tables of its window).
inline constexpr int MostRows = 261;

// A partition-table entry where it lies: drive, the sector holding it, the
// offset of its ID byte in that sector.
struct EntryPlace {
    uint32_t drive = 0;
    uint64_t sector = 0;
    uint32_t idOffset = 0;
    auto operator<=>(const EntryPlace&) const = default;
};

struct ExpectedRow {
    EntryPlace place;
    std::string disk;   // drive + 1 in decimal
    std::string shown;  // the number shown; empty for a container of the MBR
    uint8_t type = 0;
    std::string kind;  // code page 936, as the list shows it
    uint64_t start = 0;
    std::array<uint8_t, 16> entry{};
    bool tableSigned = false;
    std::optional<uint32_t> windowsNumber;
};

struct ExpectedScan {
    std::vector<ExpectedRow> rows;  // at most MostRows
    bool complete = true;
    std::set<uint32_t> readWhole;          // drives whose every table sector was read
    std::set<uint32_t> gptDrives;          // an EE entry in the MBR
    std::set<EntryPlace> holdingLogicals;  // containers with a non-empty logical partition
    // A GPT header signature at LBA 1 of an EE disk: the program lists that
    // GPT's partitions, which this checker does not walk.
    bool foreseen = true;
};

// What the scan must list when `faults` (lasting the whole run) hit its
// calls; `diskCount` is the registry's count (nullopt: the image count).
// A container holds logical partitions when the disk's own content says so
// (even where the scan could not read it), or when the scan could not read
// an EBR of its chain.
ExpectedScan ExpectScan(const std::vector<SharedMemoryImage>& images, std::optional<int32_t> diskCount,
                        const std::vector<Fault>& faults);

// Partition `number` (from 1) as Windows numbers them on a disk that holds
// `image`: where it starts and how long its entry says it is, in bytes.
struct Extent {
    uint64_t start = 0, length = 0;
};
std::optional<Extent> WindowsPartition(const MemoryImage& image, uint32_t number);

// Whether `fault` hits a call, by the rules ImagePlatform documents for it.
bool Hits(const Fault& fault, PlatformCall call, int drive, char letter, uint64_t position);

// A row as the command line and the refusal rules see it.
struct RowFacts {
    std::string disk, shown, scannedId, scannedLabel;
    uint32_t drive = 0;
    EntryPlace place;
};

// What the cells of the rows must hold once the command line was taken.
struct CommandMeaning {
    // Restore: /U with a file the run cannot have (no undo file of that name
    // exists in the fuzzed run): refused, nothing written.
    enum class Verdict { Window, Help, Invalid, Apply, Restore } verdict = Verdict::Window;
    bool everyMatch = false;               // /F and /S: every partition with an ID
    std::vector<std::string> ids, labels;  // per row
};
CommandMeaning MeanCommand(const std::vector<std::string>& parameters, const std::vector<RowFacts>& rows);

// The rules no change of an ID may break, on the cells as they are
// (`ids`, one per row): an entry of a GPT disk, to EE, from or to 42, a
// container holding a logical partition to a non-container, a change to a
// container on a drive with another one.
bool MustRefuseIdChange(const std::vector<RowFacts>& rows, const std::vector<std::string>& ids,
                        const ExpectedScan& truth, int row, uint8_t newId);

// Text rules of code page 936: a to z upper-cased outside double-byte
// characters; the longest start of at most `bytes` bytes that does not end
// inside one.
std::string UpperGbk(const std::string& text);
std::string CutGbk(const std::string& text, size_t bytes);
// One or two hexadecimal digits.
std::optional<uint8_t> ParseId(const std::string& text);
std::string IdText(uint8_t type);

}  // namespace quorvane::fuzz
