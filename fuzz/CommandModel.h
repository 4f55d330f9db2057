// The checker's own reading of a command line and of the rules by which a
// change is refused: what the cells of the rows (IDs, labels, GPT
// attributes) must hold once the command line was taken, written from the
// README's description of the switches, not from the program's parser.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/Oracle.h"

namespace quorvane::fuzz {

// A row as the command line and the refusal rules see it.
struct RowFacts {
    std::string disk, shown, scannedId, scannedLabel;
    uint32_t drive = 0;
    EntryPlace place;
    uint64_t start = 0;          // of its partition, in bytes
    bool gpt = false;            // a GPT partition's row
    bool otherScheme = false;    // a row of the table Windows does not read
    bool system = false;         // a partition that keeps Windows running
    bool layoutDiffers = false;  // Windows reads its drive otherwise than the tables say
    uint64_t attributes = 0;     // a GPT row's attributes as scanned
};

// Whether a change of a row is refused: an ID or type text, or GPT
// attributes; the checker's rules (see Refusals below).
struct RefusalRules {
    std::function<bool(int row, const std::string& id)> id;
    std::function<bool(int row, uint64_t attributes)> attributes;
};

// What the cells of the rows must hold once the command line was taken.
struct CommandMeaning {
    // Restore: /U with a file the run cannot have (no undo file of that name
    // exists in the fuzzed run): refused, nothing written.
    enum class Verdict { Window, Help, Invalid, Apply, Restore } verdict = Verdict::Window;
    bool everyMatch = false;               // /F and /S: every partition with an ID
    bool dryRun = false;                   // /N: planned, nothing written
    bool refused = false;                  // /HIDE, /SHOW or /A refused a change at once
    std::vector<std::string> ids, labels;  // per row
    std::vector<uint64_t> attributes;      // per row: a GPT row's, pending or as scanned
};
CommandMeaning MeanCommand(const std::vector<std::string>& parameters, const std::vector<RowFacts>& rows,
                           const RefusalRules& rules);

// The rules no change of an MBR ID may break, on the cells as they are
// (`ids`, one per row): an entry of a disk Windows reads as GPT (the
// protective entry of a hybrid too), to EE, from or to 42, a container
// holding a logical partition to a non-container, a change to a container
// on a drive with another one.
bool MustRefuseIdChange(const std::vector<RowFacts>& rows, const std::vector<std::string>& ids,
                        const ExpectedScan& truth, int row, uint8_t newId);
// A GPT row's type change to `text`: refused unless four hexadecimal digits
// of a known type (either case), and always from or to the LDM types.
bool MustRefuseGptChange(const std::string& text, const std::string& scannedCode);
// Any row's change of its ID or type (`text` as typed, differing from the
// scanned one even only in case): refused on a row Windows does not read,
// runs from, or reads otherwise.
bool RowStateRefuses(const RowFacts& row, const std::string& text);
// GPT attributes: refused on MBR rows; where they change, by the row's
// state, on LDM and Storage Spaces rows, and where bit 0 changes on an EFI
// system or Microsoft reserved partition.
bool MustRefuseAttributes(const RowFacts& row, uint64_t attributes);

// 隐藏分区 (`hide`) or 显示分区 on a row whose cells `meaning` holds: an MBR
// row's ID becomes its twin, a GPT basic-data row gets bits 62 and 63 set
// or cleared; nothing for a row that is so already, or whose change `rules`
// refuse.
enum class Hiding { NoTwin, AlreadySo, Refused, Changed };
Hiding SetHidden(const std::vector<RowFacts>& rows, const RefusalRules& rules, int row, bool hide,
                 CommandMeaning& meaning);

// The hidden (`hide`) or shown twin of an MBR ID: 01/11, 04/14, 06/16,
// 07/17, 0B/1B, 0C/1C, 0E/1E; nullopt for any other ID.
std::optional<uint8_t> TwinId(uint8_t id, bool hide);
// GPT attribute bits 62 (hidden) and 63 (no drive letter).
inline constexpr uint64_t HidingBits = uint64_t{3} << 62;

// /A's value applied to `current`: "0x" or "0X" and 1 to 16 hexadecimal
// digits, or a comma-separated list of "+N" and "-N" (N one or two decimal
// digits, at most 63); nullopt for anything else.
std::optional<uint64_t> AttributesOfText(uint64_t current, const std::string& text);

}  // namespace quorvane::fuzz
