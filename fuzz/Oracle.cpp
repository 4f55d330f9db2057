#include "fuzz/Oracle.h"

#include <algorithm>
#include <cstdio>

namespace quorvane::fuzz {

namespace {

using Bytes = std::array<uint8_t, 512>;

// The kinds as the list shows them, in code page 936.
constexpr char KindPrimary[] = "\xD6\xF7";                   // "主"
constexpr char KindExtended[] = "\xC0\xA9\xD5\xB9";          // "扩展"
constexpr char KindLogical[] = "\xC2\xDF\xBC\xAD";           // "逻辑"
constexpr char ActiveSuffix[] = "\xA3\xAC\xBB\xEE\xB6\xAF";  // "，活动"

struct Slot {
    uint8_t boot = 0, type = 0;
    uint64_t first = 0, count = 0;
    std::array<uint8_t, 16> raw{};
};

Slot SlotOf(const Bytes& sector, int slot) {
    Slot entry;
    std::copy_n(sector.begin() + 0x1BE + 16 * slot, 16, entry.raw.begin());
    const auto le32 = [&](int at) {
        return uint64_t{entry.raw[at]} | uint64_t{entry.raw[at + 1]} << 8 |
               uint64_t{entry.raw[at + 2]} << 16 | uint64_t{entry.raw[at + 3]} << 24;
    };
    entry.boot = entry.raw[0];
    entry.type = entry.raw[4];
    entry.first = le32(8);
    entry.count = le32(12);
    return entry;
}

bool IsContainer(uint8_t type) {
    return type == 0x05 || type == 0x0F;
}

// A table sector as the scan gets it: nothing when it does not lie whole on
// the disk or a fault spoils its positioning or reading (`faults` null: as
// the disk holds it, which is what Windows reads).
std::optional<Bytes> ReadTable(const MemoryImage& image, uint32_t drive, uint64_t position,
                               const std::vector<Fault>* faults) {
    if (position > image.Size() || image.Size() - position < 512) return std::nullopt;
    if (faults)
        for (const Fault& fault : *faults)
            if ((Hits(fault, PlatformCall::Seek, static_cast<int>(drive), 0, position) &&
                 !fault.shortTransfer) ||
                Hits(fault, PlatformCall::Read, static_cast<int>(drive), 0, position))
                return std::nullopt;
    Bytes sector{};
    image.ReadAt(position, sector.data(), sector.size());
    return sector;
}

struct DriveWalk {
    std::vector<ExpectedRow> rows;
    bool readWhole = true;
    bool gpt = false;
    bool gptHeader = false;  // "EFI PART" at LBA 1
    std::set<EntryPlace> holding;
};

ExpectedRow RowOf(uint32_t drive, uint64_t sector, int slot, const Slot& entry, const Bytes& bytes) {
    ExpectedRow row;
    row.place = {drive, sector, static_cast<uint32_t>(0x1C2 + 16 * slot)};
    row.disk = std::to_string(drive + 1);
    row.type = entry.type;
    row.entry = entry.raw;
    row.tableSigned = bytes[510] == 0x55 && bytes[511] == 0xAA;
    return row;
}

// The rows of one drive in list order: each MBR entry that is not empty, and
// after a container the rows of its chain. Links count from the chain's first
// EBR, are followed only with type 05 or 0F, and end at 0, at the MBR or at
// an EBR seen before on the drive; an EBR that cannot be read is a row of
// zeros that ends its chain. Windows numbers the MBR's partitions first, then
// the logical ones, none of them on a GPT disk, and never a container or an
// empty entry.
DriveWalk WalkDrive(const MemoryImage& image, uint32_t drive, const std::vector<Fault>* faults) {
    DriveWalk walk;
    const auto mbr = ReadTable(image, drive, 0, faults);
    if (!mbr) {
        walk.readWhole = false;
        return walk;
    }
    uint32_t primaries = 0;
    for (int slot = 0; slot < 4; ++slot) {
        const uint8_t type = SlotOf(*mbr, slot).type;
        walk.gpt = walk.gpt || type == 0xEE;
        if (type != 0x00 && !IsContainer(type)) ++primaries;
    }
    if (walk.gpt) {
        // Without a GPT the disk's partitions cannot be listed: not read in full.
        const auto header = ReadTable(image, drive, 512, faults);
        walk.gptHeader = header && std::equal(header->begin(), header->begin() + 8, "EFI PART");
        if (!walk.gptHeader) walk.readWhole = false;
    }
    uint32_t shown = 0, primary = 0, logical = 0;
    std::set<uint64_t> tables{0};
    for (int slot = 0; slot < 4; ++slot) {
        const Slot entry = SlotOf(*mbr, slot);
        if (entry.type == 0x00) continue;
        ExpectedRow row = RowOf(drive, 0, slot, entry, *mbr);
        row.start = entry.first * 512;
        row.kind = std::string(IsContainer(entry.type) ? KindExtended : KindPrimary) +
                   (entry.boot == 0x80 ? ActiveSuffix : "");
        if (entry.type == 0xEE) {  // the protective entry: no number; a GPT's partitions would follow
            walk.rows.push_back(row);
            continue;
        }
        if (!IsContainer(entry.type)) {
            row.shown = std::to_string(++shown);
            if (!walk.gpt) row.windowsNumber = ++primary;
            walk.rows.push_back(row);
            continue;
        }
        const EntryPlace container = row.place;
        walk.rows.push_back(row);
        const uint64_t chainStart = entry.first * 512;
        for (uint64_t ebr = chainStart; tables.insert(ebr).second;) {
            const auto read = ReadTable(image, drive, ebr, faults);
            walk.readWhole = walk.readWhole && read.has_value();
            const Bytes sector = read.value_or(Bytes{});
            const Slot first = SlotOf(sector, 0);
            ExpectedRow logicalRow = RowOf(drive, ebr, 0, first, sector);
            logicalRow.start = ebr + first.first * 512;
            logicalRow.shown = std::to_string(++shown);
            logicalRow.kind = std::string(KindLogical) + (first.boot == 0x80 ? ActiveSuffix : "");
            // An EBR that cannot be read may hold a logical partition too.
            if (first.type != 0x00 || !read) walk.holding.insert(container);
            if (!walk.gpt && first.type != 0x00 && !IsContainer(first.type))
                logicalRow.windowsNumber = primaries + ++logical;
            walk.rows.push_back(logicalRow);
            const Slot link = SlotOf(sector, 1);
            if (!read || !IsContainer(link.type) || link.first == 0) break;
            ebr = chainStart + link.first * 512;
        }
    }
    return walk;
}

}  // namespace

bool Hits(const Fault& fault, PlatformCall call, int drive, char letter, uint64_t position) {
    return fault.call == call && (fault.drive < 0 || fault.drive == drive) &&
           (fault.letter == 0 || fault.letter == letter) && (!fault.position || *fault.position == position);
}

ExpectedScan ExpectScan(const std::vector<SharedMemoryImage>& images, std::optional<int32_t> diskCount,
                        const std::vector<Fault>& faults) {
    ExpectedScan scan;
    const auto fails = [&](PlatformCall call, int drive) {
        return std::any_of(faults.begin(), faults.end(), [&](const Fault& fault) {
            return Hits(fault, call, drive, 0, 0) && !fault.shortTransfer;
        });
    };
    // The registry's count of disks; drive numbers are tried from 0 until
    // that many opened, giving up 16 numbers after the last one that did.
    const bool countRead = !fails(PlatformCall::DiskCount, -1);
    const int64_t wanted =
        countRead ? std::max<int64_t>(diskCount.value_or(static_cast<int32_t>(images.size())), 0) : 0;
    int64_t opened = 0;
    bool full = false, unread = false;
    for (int64_t number = 0, last = -1; opened < wanted && number <= last + 16 && !full; ++number) {
        const auto drive = static_cast<uint32_t>(number);
        if (drive >= images.size() || fails(PlatformCall::OpenDrive, static_cast<int>(drive))) continue;
        ++opened;
        last = number;
        const DriveWalk seen = WalkDrive(*images[drive], drive, &faults);
        const DriveWalk truth = WalkDrive(*images[drive], drive, nullptr);
        if (truth.gpt) scan.gptDrives.insert(drive);
        if (truth.gptHeader) scan.foreseen = false;
        scan.holdingLogicals.insert(truth.holding.begin(), truth.holding.end());
        scan.holdingLogicals.insert(seen.holding.begin(), seen.holding.end());
        if (seen.readWhole)
            scan.readWhole.insert(drive);
        else
            unread = true;
        for (const ExpectedRow& row : seen.rows) {
            if (scan.rows.size() == MostRows) {
                full = true;
                break;
            }
            scan.rows.push_back(row);
        }
    }
    scan.complete = countRead && !unread && !full && opened == wanted;
    return scan;
}

std::optional<Extent> WindowsPartition(const MemoryImage& image, uint32_t number) {
    for (const ExpectedRow& row : WalkDrive(image, 0, nullptr).rows)
        if (row.windowsNumber == number) {
            const uint64_t count = uint64_t{row.entry[12]} | uint64_t{row.entry[13]} << 8 |
                                   uint64_t{row.entry[14]} << 16 | uint64_t{row.entry[15]} << 24;
            return Extent{row.start, count * 512};
        }
    return std::nullopt;
}

CommandMeaning MeanCommand(const std::vector<std::string>& parameters, const std::vector<RowFacts>& rows) {
    using Verdict = CommandMeaning::Verdict;
    CommandMeaning meaning;
    for (const RowFacts& row : rows) {
        meaning.ids.push_back(row.scannedId);
        meaning.labels.push_back(row.scannedLabel);
    }
    if (parameters.empty()) return meaning;
    const std::string option = UpperGbk(parameters[0]);
    if (parameters.size() == 1) {
        meaning.verdict = option == "/?" || option == "/H" ? Verdict::Help : Verdict::Invalid;
        return meaning;
    }
    meaning.verdict = Verdict::Invalid;
    if (parameters.size() == 2 && option == "/U") {
        if (!parameters[1].empty()) meaning.verdict = Verdict::Restore;
        return meaning;
    }
    if (parameters.size() == 3 && (option == "/F" || option == "/S")) {
        const std::string id = UpperGbk(parameters[1]), value = UpperGbk(parameters[2]);
        if (option == "/S" && (id == "05" || id == "0F")) return meaning;
        for (size_t row = 0; row < rows.size(); ++row)
            if (meaning.ids[row] == id) (option == "/F" ? meaning.ids[row] : meaning.labels[row]) = value;
        meaning.verdict = Verdict::Apply;
        meaning.everyMatch = true;
        return meaning;
    }
    if (parameters.size() == 4 && (option == "/M" || option == "/L")) {
        const std::string disk = UpperGbk(parameters[1]), shown = UpperGbk(parameters[2]);
        const std::string& value = parameters[3];
        for (size_t row = 0; row < rows.size() && !shown.empty(); ++row) {
            if (rows[row].disk != disk || rows[row].shown != shown) continue;
            if (option == "/M" && (value.empty() || value.size() == 3 || value.size() > 4)) return meaning;
            (option == "/M" ? meaning.ids[row] : meaning.labels[row]) =
                option == "/M" ? value : CutGbk(value, 11);
            meaning.verdict = Verdict::Apply;
            return meaning;
        }
    }
    return meaning;
}

bool MustRefuseIdChange(const std::vector<RowFacts>& rows, const std::vector<std::string>& ids,
                        const ExpectedScan& truth, int row, uint8_t newId) {
    const RowFacts& facts = rows[row];
    const uint8_t scanned = ParseId(facts.scannedId).value_or(0);
    if (truth.gptDrives.count(facts.drive) || newId == 0xEE || scanned == 0x42 || newId == 0x42) return true;
    if (IsContainer(scanned)) return truth.holdingLogicals.count(facts.place) && !IsContainer(newId);
    if (!IsContainer(newId)) return false;
    for (size_t other = 0; other < rows.size(); ++other) {
        if (static_cast<int>(other) == row || rows[other].drive != facts.drive) continue;
        const auto now = ParseId(ids[other]);
        if (IsContainer(ParseId(rows[other].scannedId).value_or(0)) || (now && IsContainer(*now)))
            return true;
    }
    return false;
}

std::string UpperGbk(const std::string& text) {
    std::string upper = text;
    for (size_t i = 0; i < upper.size(); ++i) {
        const auto byte = static_cast<unsigned char>(upper[i]);
        if (byte >= 0x81 && byte <= 0xFE)
            ++i;
        else if (byte >= 'a' && byte <= 'z')
            upper[i] = static_cast<char>(byte - 32);
    }
    return upper;
}

std::string CutGbk(const std::string& text, size_t bytes) {
    size_t end = 0;
    while (end < text.size()) {
        const auto byte = static_cast<unsigned char>(text[end]);
        const size_t width = byte >= 0x81 && byte <= 0xFE && end + 1 < text.size() ? 2 : 1;
        if (end + width > bytes) break;
        end += width;
    }
    return text.substr(0, end);
}

std::optional<uint8_t> ParseId(const std::string& text) {
    if (text.empty() || text.size() > 2) return std::nullopt;
    unsigned value = 0;
    for (const char c : text) {
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                 : -1;
        if (digit < 0) return std::nullopt;
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return static_cast<uint8_t>(value);
}

std::string IdText(uint8_t type) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", type);
    return text;
}

}  // namespace quorvane::fuzz
