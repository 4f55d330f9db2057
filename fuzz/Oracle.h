// The checker's own knowledge of what a run must do, worked out without the
// program's code: a small walk of the tables the case built (MBR, EBR chains
// and GPT, in the drive's sector size: the rows the scan must list and the
// numbers Windows gives), what each command line means for the cells, and
// the rules by which an ID or GPT type change is refused. The
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

// GPT partition types, with the codes of the gdisk convention and the type
// GUIDs as UEFI, Microsoft, the BSDs, Apple and the Discoverable Partitions
// list document them: every code the program is to take, so the checker can
// judge every code typed (the first 11 are the ones the fuzz input puts in
// GPT entries).
struct KnownGptType {
    const char* code;
    const char* guid;
};
inline constexpr std::array<KnownGptType, 30> KnownGptTypes{{
    {"EF00", "C12A7328-F81F-11D2-BA4B-00A0C93EC93B"},  // EFI system
    {"0700", "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7"},  // basic data
    {"0C01", "E3C9E316-0B5C-4DB8-817D-F92DF00215AE"},  // Microsoft reserved
    {"2700", "DE94BBA4-06D1-4D40-A16A-BFD50179D6AC"},  // Windows recovery
    {"4200", "AF9B60A0-1431-4F62-BC68-3311714A69AD"},  // LDM data
    {"4201", "5808C8AA-7E8F-42E0-85D2-E1E90434CFB3"},  // LDM metadata
    {"8300", "0FC63DAF-8483-4772-8E79-3D69D8477DE4"},  // Linux filesystem
    {"8200", "0657FD6D-A4AB-43C4-84E5-0933C84B4F4F"},  // Linux swap
    {"8E00", "E6D6D379-F507-44C2-A23C-238F2A3DF928"},  // Linux LVM
    {"FD00", "A19D880F-05FC-4D3B-A006-743F0F84911E"},  // Linux RAID
    {"EF02", "21686148-6449-6E6F-744E-656564454649"},  // BIOS boot
    {"4202", "E75CAF8F-F680-4CEE-AFA3-B001E56EFC2D"},  // Storage Spaces
    {"7501", "37AFFC90-EF7D-4E96-91C3-2D7AE055B174"},  // IBM GPFS
    {"8301", "8DA63339-0007-60C0-C436-083AC8230908"},  // Linux reserved
    {"8302", "933AC7E1-2EB4-4F13-B844-0E14E2AEF915"},  // Linux /home
    {"8303", "44479540-F297-41B2-9AF7-D131D5F0458A"},  // Linux root (x86)
    {"8304", "4F68BCE3-E8CD-4DB1-96E7-FBCAF984B709"},  // Linux root (x86-64)
    {"8305", "B921B045-1DF0-41C3-AF44-4C6F280D3FAE"},  // Linux root (ARM64)
    {"8306", "3B8F8425-20E0-4F3B-907F-1A25A76F98E8"},  // Linux /srv
    {"8307", "69DAD710-2CE4-4E3C-B16C-21A1D49ABED3"},  // Linux root (ARM)
    {"8310", "4D21B016-B534-45C2-A9FB-5C16E091FD2D"},  // Linux /var
    {"8311", "7EC6F557-3BC5-4ACA-B293-16EF5DF639D1"},  // Linux /var/tmp
    {"A500", "516E7CB4-6ECF-11D6-8FF8-00022D09712B"},  // FreeBSD data
    {"A502", "516E7CB5-6ECF-11D6-8FF8-00022D09712B"},  // FreeBSD swap
    {"A503", "516E7CB6-6ECF-11D6-8FF8-00022D09712B"},  // FreeBSD UFS
    {"A504", "516E7CBA-6ECF-11D6-8FF8-00022D09712B"},  // FreeBSD ZFS
    {"AF00", "48465300-0000-11AA-AA11-00306543ECAC"},  // Apple HFS+
    {"AF0A", "7C3457EF-0000-11AA-AA11-00306543ECAC"},  // Apple APFS
    {"EA00", "BC13C2FF-59E6-4262-A352-B275FD6F7172"},  // extended boot (XBOOTLDR)
    {"EF01", "024DEE41-33E7-11D3-9D69-0008C781F39F"},  // MBR partition scheme
}};
// The types the fuzz input puts into GPT entries: the first of KnownGptTypes.
inline constexpr size_t EntryTypeCount = 11;
using GuidBytes = std::array<uint8_t, 16>;
// A GUID's text as it lies on the disk (the first three fields little-endian).
GuidBytes GuidOnDisk(const char* text);
const KnownGptType* KnownGptTypeOfCode(const std::string& code);  // code upper-case
const KnownGptType* KnownGptTypeOfGuid(const uint8_t* guid);

// CRC-32 (IEEE 802.3, reflected, as GPT headers and arrays use it).
uint32_t CheckerCrc32(const uint8_t* data, size_t size);

// A GPT header at `lba` and its entry array, when both are whole and right.
struct GptView {
    uint64_t lba = 0, alternate = 0, entryLba = 0;
    uint32_t count = 0, entrySize = 0;
    GuidBytes diskGuid{};
    std::vector<uint8_t> array;  // count * entrySize bytes
    uint64_t EntryPosition(uint32_t index, uint32_t unit) const {
        return entryLba * unit + uint64_t{index} * entrySize;
    }
};
// `faults` null: as the disk holds it.
std::optional<GptView> ReadGptAt(const MemoryImage& image, uint32_t drive, uint64_t lba, uint32_t unit,
                                 const std::vector<Fault>* faults = nullptr);

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
    // The kind of entry as the list shows it (code page 936), before its
    // states (ExpectedKind).
    const char* kindBase = "";
    bool active = false;      // the entry's boot indicator is 80
    uint64_t attributes = 0;  // a GPT partition's, as read
    uint64_t start = 0;
    std::array<uint8_t, 16> entry{};
    bool tableSigned = false;
    std::optional<uint32_t> windowsNumber;
    std::optional<EntryPlace> container;  // a logical partition's container
    // A GPT partition: its entry; its code, unless a type the checker does
    // not know (then any code but those of KnownGptTypes, or "----").
    bool gpt = false;
    std::vector<uint8_t> gptEntry;
    std::optional<std::string> code;
    bool otherScheme = false;    // the table of a hybrid MBR that Windows does not read
    bool layoutDiffers = false;  // on a drive whose layout Windows reads otherwise
};

struct ExpectedScan {
    std::vector<ExpectedRow> rows;  // at most MostRows
    bool complete = true;
    std::set<uint32_t> readWhole;  // drives whose every table sector was read
    std::set<uint32_t> gptDrives;  // an EE entry alone in the MBR
    // Drives the scan listed otherwise than Windows reads them (a failed
    // read, rows run out): never written, no temporary letters.
    std::set<uint32_t> layoutDiffers;
    // Containers with a non-empty logical partition, or whose chain could not
    // be read or listed to its end.
    std::set<EntryPlace> holdingLogicals;
};

// What the scan must list when `faults` (lasting the whole run) hit its
// calls; `diskCount` is the registry's count (nullopt: the image count);
// `views`: per drive, the disk as Windows read its layout (null: Windows
// does not answer the layout query).
// A container holds logical partitions when the disk's own content says so
// (even where the scan could not read it), or when the scan could not read
// an EBR of its chain.
// Sector numbers count in `unit` bytes.
ExpectedScan ExpectScan(const std::vector<SharedMemoryImage>& images, std::optional<int32_t> diskCount,
                        const std::vector<Fault>& faults, uint32_t unit,
                        const std::vector<SharedMemoryImage>* views);

// Column "分区类型" of a row (code page 936): its kind, then "，系统" for a
// partition Windows runs from, "，活动", a GPT partition's first state of
// `attributes` (bits 62, 63, 0, 60: 隐藏, 无盘符, 必需, 只读), and
// "，Windows 不读取" for the table Windows does not read.
std::string ExpectedKind(const ExpectedRow& row, bool system, uint64_t attributes);

// Windows gives a letter to a partition it numbers; to a GPT partition only
// when it holds basic data and lacks the no-drive-letter attribute (bit 63).
inline bool TakesLetter(const ExpectedRow& e) {
    return e.windowsNumber && !e.layoutDiffers &&
           (!e.gpt || (e.code == "0700" && (e.gptEntry[55] & 0x80) == 0));
}

// Partition `number` (from 1) as Windows numbers them on a disk that holds
// `image`: where it starts and how long its entry says it is, in bytes.
struct Extent {
    uint64_t start = 0, length = 0;
};
std::optional<Extent> WindowsPartition(const MemoryImage& image, uint32_t number, uint32_t unit);

// Whether `fault` hits a call, by the rules ImagePlatform documents for it.
bool Hits(const Fault& fault, PlatformCall call, int drive, char letter, uint64_t position);

// Text rules of code page 936: a to z upper-cased outside double-byte
// characters; the longest start of at most `bytes` bytes that does not end
// inside one.
std::string UpperGbk(const std::string& text);
std::string CutGbk(const std::string& text, size_t bytes);
// One or two hexadecimal digits.
std::optional<uint8_t> ParseId(const std::string& text);
std::string IdText(uint8_t type);

}  // namespace quorvane::fuzz
