#include "fuzz/Oracle.h"

#include <tuple>

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
constexpr char OtherSchemeSuffix[] = "\xA3\xACWindows \xB2\xBB\xB6\xC1\xC8\xA1";  // "，Windows 不读取"

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
bool ReadSpoilt(uint32_t drive, uint64_t position, const std::vector<Fault>* faults) {
    if (faults)
        for (const Fault& fault : *faults)
            if ((Hits(fault, PlatformCall::Seek, static_cast<int>(drive), 0, position) &&
                 !fault.shortTransfer) ||
                Hits(fault, PlatformCall::Read, static_cast<int>(drive), 0, position))
                return true;
    return false;
}

bool LiesWhole(const MemoryImage& image, uint64_t position, uint64_t count) {
    return position <= image.Size() && image.Size() - position >= count;
}

// The first 512 bytes of the sector of `unit` bytes at `position`.
std::optional<Bytes> ReadTable(const MemoryImage& image, uint32_t drive, uint64_t position, uint32_t unit,
                               const std::vector<Fault>* faults) {
    if (!LiesWhole(image, position, unit) || ReadSpoilt(drive, position, faults)) return std::nullopt;
    Bytes sector{};
    image.ReadAt(position, sector.data(), sector.size());
    return sector;
}

uint64_t Le(const uint8_t* p, int bytes) {
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = value << 8 | p[i];
    return value;
}

struct DriveWalk {
    std::vector<ExpectedRow> rows;
    bool readWhole = true;
    bool gpt = false;
    std::set<EntryPlace> holding;
};

// The partitions of a GPT, after its protective entry's row: each entry
// whose type GUID is not zero, numbered 1..N in entry order (also Windows'
// numbers), from the primary header or, where that one is not right, the
// backup at the last LBA.
void AddGptRows(const MemoryImage& image, uint32_t drive, uint32_t unit, const std::vector<Fault>* faults,
                DriveWalk& walk) {
    // A hybrid MBR is read as an MBR (see WalkDrive): its GPT rows are listed
    // without numbers, as a table Windows does not read.
    const bool numbered = walk.gpt;
    const uint64_t sectors = image.Size() / unit;
    std::optional<GptView> table;
    if (sectors >= 3) table = ReadGptAt(image, drive, 1, unit, faults);
    if (!table && sectors >= 3) table = ReadGptAt(image, drive, sectors - 1, unit, faults);
    if (!table) {
        walk.readWhole = walk.readWhole && !numbered;
        return;
    }
    uint32_t number = 0;
    for (uint32_t index = 0; index < table->count; ++index) {
        const uint8_t* entry = table->array.data() + uint64_t{index} * table->entrySize;
        if (std::all_of(entry, entry + 16, [](uint8_t b) { return b == 0; })) continue;
        ExpectedRow row;
        const uint64_t at = table->EntryPosition(index, unit);
        row.place = {drive, at / unit * unit, static_cast<uint32_t>(at % unit)};
        row.disk = std::to_string(drive + 1);
        // The first state its attributes give (bits 62, 63, 0, 60), then
        // the note of a table Windows does not read.
        row.kind = "GPT";
        const uint64_t attributes = Le(entry + 48, 8);
        for (const auto& [bit, state] : {std::pair<int, const char*>{62, "\xA3\xAC\xD2\xFE\xB2\xD8"},    // "，隐藏"
                                         {63, "\xA3\xAC\xCE\xDE\xC5\xCC\xB7\xFB"},                     // "，无盘符"
                                         {0, "\xA3\xAC\xB1\xD8\xD0\xE8"},                                // "，必需"
                                         {60, "\xA3\xAC\xD6\xBB\xB6\xC1"}})                              // "，只读"
            if (attributes >> bit & 1) {
                row.kind += state;
                break;
            }
        if (!numbered) row.kind += OtherSchemeSuffix;
        row.start = Le(entry + 32, 8) * unit;
        if (numbered) row.shown = std::to_string(++number);
        if (numbered) row.windowsNumber = number;
        row.otherScheme = !numbered;
        row.gpt = true;
        row.gptEntry.assign(entry, entry + table->entrySize);
        if (const KnownGptType* known = KnownGptTypeOfGuid(entry)) row.code = known->code;
        walk.rows.push_back(row);
    }
}

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
DriveWalk WalkDrive(const MemoryImage& image, uint32_t drive, uint32_t unit, const std::vector<Fault>* faults) {
    DriveWalk walk;
    const auto mbr = ReadTable(image, drive, 0, unit, faults);
    if (!mbr) {
        walk.readWhole = false;
        return walk;
    }
    // A protective entry alone makes a GPT disk; beside other entries it is
    // a hybrid MBR, which Windows reads as an MBR (the EE entry one more
    // primary partition), its GPT a table Windows does not read.
    uint32_t primaries = 0;
    bool protective = false, others = false;
    for (int slot = 0; slot < 4; ++slot) {
        const uint8_t type = SlotOf(*mbr, slot).type;
        protective = protective || type == 0xEE;
        others = others || (type != 0x00 && type != 0xEE);
        if (type != 0x00 && !IsContainer(type)) ++primaries;
    }
    walk.gpt = protective && !others;
    uint32_t shown = 0, primary = 0, logical = 0;
    bool gptListed = false;
    std::set<uint64_t> tables{0};
    for (int slot = 0; slot < 4; ++slot) {
        const Slot entry = SlotOf(*mbr, slot);
        if (entry.type == 0x00) continue;
        ExpectedRow row = RowOf(drive, 0, slot, entry, *mbr);
        row.start = entry.first * unit;
        row.kind = std::string(IsContainer(entry.type) ? KindExtended : KindPrimary) +
                   (entry.boot == 0x80 ? ActiveSuffix : "");
        if (entry.type == 0xEE && walk.gpt) {  // the protective entry: no number; the GPT's partitions follow once
            walk.rows.push_back(row);
            if (!gptListed) AddGptRows(image, drive, unit, faults, walk);
            gptListed = true;
            continue;
        }
        if (!IsContainer(entry.type)) {
            row.shown = std::to_string(++shown);
            row.windowsNumber = ++primary;
            walk.rows.push_back(row);
            if (entry.type == 0xEE && !gptListed) AddGptRows(image, drive, unit, faults, walk);
            gptListed = gptListed || entry.type == 0xEE;
            continue;
        }
        const EntryPlace container = row.place;
        walk.rows.push_back(row);
        const uint64_t chainStart = entry.first * unit;
        for (uint64_t ebr = chainStart; tables.insert(ebr).second;) {
            const auto read = ReadTable(image, drive, ebr, unit, faults);
            walk.readWhole = walk.readWhole && read.has_value();
            const Bytes sector = read.value_or(Bytes{});
            const Slot first = SlotOf(sector, 0);
            ExpectedRow logicalRow = RowOf(drive, ebr, 0, first, sector);
            logicalRow.start = ebr + first.first * unit;
            logicalRow.shown = std::to_string(++shown);
            logicalRow.kind = std::string(KindLogical) + (first.boot == 0x80 ? ActiveSuffix : "");
            logicalRow.container = container;
            // An EBR that cannot be read may hold a logical partition too.
            if (first.type != 0x00 || !read) walk.holding.insert(container);
            if (!walk.gpt && first.type != 0x00 && !IsContainer(first.type))
                logicalRow.windowsNumber = primaries + ++logical;
            walk.rows.push_back(logicalRow);
            const Slot link = SlotOf(sector, 1);
            if (!read || !IsContainer(link.type) || link.first == 0) break;
            ebr = chainStart + link.first * unit;
        }
    }
    return walk;
}

// The partitions of a walk that Windows numbers: number, start, length and
// type, as a second reader of the disk would compare them.
std::vector<std::tuple<uint32_t, uint64_t, std::vector<uint8_t>>> Numbered(const DriveWalk& walk) {
    std::vector<std::tuple<uint32_t, uint64_t, std::vector<uint8_t>>> numbered;
    for (const ExpectedRow& row : walk.rows) {
        if (!row.windowsNumber) continue;
        std::vector<uint8_t> entry = row.gpt ? row.gptEntry : std::vector<uint8_t>(row.entry.begin(), row.entry.end());
        numbered.emplace_back(*row.windowsNumber, row.start, std::move(entry));
    }
    return numbered;
}

bool SharedStart(const DriveWalk& walk) {
    std::set<uint64_t> starts;
    for (const ExpectedRow& row : walk.rows)
        if (row.windowsNumber && !starts.insert(row.start).second) return true;
    return false;
}

}  // namespace

GuidBytes GuidOnDisk(const char* text) {
    GuidBytes bytes{};
    const auto nibble = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    // Byte i of the text's order goes to place[i] on the disk.
    constexpr int place[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    for (int i = 0, at = 0; i < 16; ++i, at += 2) {
        if (text[at] == '-') ++at;
        bytes[place[i]] = static_cast<uint8_t>(nibble(text[at]) << 4 | nibble(text[at + 1]));
    }
    return bytes;
}

const KnownGptType* KnownGptTypeOfCode(const std::string& code) {
    for (const KnownGptType& type : KnownGptTypes)
        if (code == type.code) return &type;
    return nullptr;
}

const KnownGptType* KnownGptTypeOfGuid(const uint8_t* guid) {
    for (const KnownGptType& type : KnownGptTypes) {
        const GuidBytes bytes = GuidOnDisk(type.guid);
        if (std::equal(bytes.begin(), bytes.end(), guid)) return &type;
    }
    return nullptr;
}

uint32_t CheckerCrc32(const uint8_t* data, size_t size) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int bit = 0; bit < 8; ++bit) c = (c >> 1) ^ (0xEDB88320 & (0 - (c & 1)));
            t[n] = c;
        }
        return t;
    }();
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = 0; i < size; ++i) crc = (crc >> 8) ^ table[(crc ^ data[i]) & 0xFF];
    return ~crc;
}

// A header is right with its signature, a size from 92 bytes to a sector of
// 512, its CRC over that size (the CRC field taken as 0) and its own LBA;
// its array with entries of 128 bytes times a power of two (no larger than a
// sector), at least one entry, at most 1 MiB, lying within the disk, read in
// one request, and the CRC over count * size bytes.
std::optional<GptView> ReadGptAt(const MemoryImage& image, uint32_t drive, uint64_t lba, uint32_t unit,
                                 const std::vector<Fault>* faults) {
    const uint64_t sectors = image.Size() / unit;
    const auto header = ReadTable(image, drive, lba * unit, unit, faults);
    if (!header || !std::equal(header->begin(), header->begin() + 8, "EFI PART")) return std::nullopt;
    Bytes h = *header;
    const uint64_t headerSize = Le(&h[12], 4);
    const uint64_t crc = Le(&h[16], 4);
    std::fill_n(h.begin() + 16, 4, 0);
    if (headerSize < 92 || headerSize > 512 || CheckerCrc32(h.data(), headerSize) != crc || Le(&h[24], 8) != lba)
        return std::nullopt;
    GptView view;
    view.lba = lba;
    view.alternate = Le(&h[32], 8);
    std::copy_n(h.begin() + 56, 16, view.diskGuid.begin());
    view.entryLba = Le(&h[72], 8);
    view.count = static_cast<uint32_t>(Le(&h[80], 4));
    view.entrySize = static_cast<uint32_t>(Le(&h[84], 4));
    if (view.count == 0 || (view.entrySize != 128 && view.entrySize != 256 && view.entrySize != 512 &&
                            view.entrySize != 1024 && view.entrySize != 2048 && view.entrySize != 4096) ||
        view.entrySize > unit)
        return std::nullopt;
    const uint64_t bytes = uint64_t{view.count} * view.entrySize;
    const uint64_t arraySectors = (bytes + unit - 1) / unit;
    if (bytes > (1u << 20) || view.entryLba == 0 || view.entryLba >= sectors || sectors - view.entryLba < arraySectors ||
        ReadSpoilt(drive, view.entryLba * unit, faults))
        return std::nullopt;
    view.array.resize(bytes);
    image.ReadAt(view.entryLba * unit, view.array.data(), bytes);
    if (CheckerCrc32(view.array.data(), bytes) != Le(&h[88], 4)) return std::nullopt;
    return view;
}

bool Hits(const Fault& fault, PlatformCall call, int drive, char letter, uint64_t position) {
    return fault.call == call && (fault.drive < 0 || fault.drive == drive) &&
           (fault.letter == 0 || fault.letter == letter) && (!fault.position || *fault.position == position);
}

ExpectedScan ExpectScan(const std::vector<SharedMemoryImage>& images, std::optional<int32_t> diskCount,
                        const std::vector<Fault>& faults, uint32_t unit) {
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
        const DriveWalk seen = WalkDrive(*images[drive], drive, unit, &faults);
        const DriveWalk truth = WalkDrive(*images[drive], drive, unit, nullptr);
        if (truth.gpt) scan.gptDrives.insert(drive);
        scan.holdingLogicals.insert(truth.holding.begin(), truth.holding.end());
        scan.holdingLogicals.insert(seen.holding.begin(), seen.holding.end());
        if (seen.readWhole)
            scan.readWhole.insert(drive);
        else
            unread = true;
        // Windows reads the whole disk: where the scan listed other
        // partitions (a read failed, or the rows ran out), or two of its
        // partitions start at one place (a second reader cannot tell which
        // is which), its layout counts as differing and nothing on the drive
        // is changed.
        bool differs = Numbered(seen) != Numbered(truth) || SharedStart(truth);
        const size_t first = scan.rows.size();
        for (const ExpectedRow& row : seen.rows) {
            if (scan.rows.size() == MostRows) {
                // The walk stops at the first entry without a row; a chain
                // that goes on past it may hold anything.
                if (row.container) scan.holdingLogicals.insert(*row.container);
                full = true;
                break;
            }
            scan.rows.push_back(row);
        }
        // Partitions past the last row are partitions to Windows all the same.
        for (size_t i = scan.rows.size() - first; i < seen.rows.size(); ++i)
            differs = differs || seen.rows[i].windowsNumber.has_value();
        if (differs) {
            scan.layoutDiffers.insert(drive);
            for (size_t i = first; i < scan.rows.size(); ++i) scan.rows[i].layoutDiffers = true;
        }
    }
    scan.complete = countRead && !unread && !full && opened == wanted;
    return scan;
}

std::optional<Extent> WindowsPartition(const MemoryImage& image, uint32_t number, uint32_t unit) {
    for (const ExpectedRow& row : WalkDrive(image, 0, unit, nullptr).rows) {
        if (row.windowsNumber != number) continue;
        if (!row.gpt) return Extent{row.start, Le(&row.entry[12], 4) * unit};
        const uint64_t first = Le(&row.gptEntry[32], 8), last = Le(&row.gptEntry[40], 8);
        return Extent{row.start, last >= first ? (last - first + 1) * unit : 0};
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
            if (meaning.ids[row] == id) {
                // /S cuts each label as /L does (the disks here hold FAT only).
                if (option == "/F")
                    meaning.ids[row] = value;
                else
                    meaning.labels[row] = CutGbk(value, 11);
            }
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
    if (truth.gptDrives.count(facts.drive) || truth.layoutDiffers.count(facts.drive) || facts.otherScheme ||
        newId == 0xEE || scanned == 0xEE ||
        scanned == 0x42 || newId == 0x42)
        return true;
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

bool MustRefuseGptChange(const std::string& text, const std::string& scannedCode) {
    const std::string code = UpperGbk(text);
    // LDM data and metadata, and Storage Spaces pool members.
    const auto pooled = [](const std::string& c) { return c == "4200" || c == "4201" || c == "4202"; };
    const bool ldmBefore = pooled(scannedCode);
    if (code.size() != 4 || !std::all_of(code.begin(), code.end(), [](char c) {
            return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
        }))
        return true;
    return ldmBefore || pooled(code) || !KnownGptTypeOfCode(code);
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
