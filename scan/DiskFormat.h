// On-disk layouts the program reads and writes: the MBR/EBR partition table
// and the FAT32 boot sector. Fields are read from byte arrays with explicit
// little-endian helpers; every offset is a named constant.
#pragma once

#include <array>
#include <cstdint>
#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

namespace quorvane {

using Sector = std::array<uint8_t, SectorSize>;

inline uint16_t LoadLe16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline uint32_t LoadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// MBR and EBR: four 16-byte entries from offset 0x1BE (slots 0 to 3), and the
// boot signature 55 AA in the last two bytes. Windows ignores a table sector
// without the signature; the program lists it but never writes to it.
inline constexpr uint32_t DiskSignatureOffset = 0x1B8;  // 32-bit, set by Windows on MBR disks
inline constexpr uint32_t BootSignatureOffset = 510;
inline constexpr uint32_t PartitionTableOffset = 0x1BE;
inline constexpr uint32_t PartitionEntrySize = 16;
inline constexpr uint32_t EntryBootIndicator = 0;  // 0x80 marks the entry active
inline constexpr uint32_t EntryType = 4;           // the partition ID byte
inline constexpr uint32_t EntryFirstSector = 8;    // LBA, unsigned 32-bit
inline constexpr uint32_t EntrySectorCount = 12;   // unsigned 32-bit
inline constexpr uint8_t ActiveBootIndicator = 0x80;
inline constexpr uint8_t EmptyType = 0x00;

// The ID byte of slot n lies at 0x1C2 + 16 * n; a logical partition's ID is
// always in the first entry of its own EBR.
inline constexpr uint32_t IdByteOffsetOfSlot(uint32_t slot) {
    return PartitionTableOffset + PartitionEntrySize * slot + EntryType;
}
inline constexpr uint32_t LogicalIdByteOffset = IdByteOffsetOfSlot(0);  // 0x1C2

inline bool HasBootSignature(const Sector& sector) {
    return sector[BootSignatureOffset] == 0x55 && sector[BootSignatureOffset + 1] == 0xAA;
}

using RawEntry = std::array<uint8_t, PartitionEntrySize>;
inline RawEntry ReadRawEntry(const Sector& sector, uint32_t offsetOfEntry) {
    RawEntry entry{};
    std::copy_n(sector.begin() + offsetOfEntry, PartitionEntrySize, entry.begin());
    return entry;
}

// The first 512 bytes of a sector of any size, where the structures lie.
inline Sector Head(const std::vector<uint8_t>& bytes) {
    Sector head{};
    std::copy_n(bytes.begin(), std::min(bytes.size(), head.size()), head.begin());
    return head;
}

struct PartitionEntry {
    uint8_t bootIndicator = 0;
    uint8_t type = 0;
    uint32_t firstSector = 0;
    uint32_t sectorCount = 0;
};

inline PartitionEntry ReadPartitionEntry(const Sector& sector, uint32_t slot) {
    const uint8_t* entry = sector.data() + PartitionTableOffset + PartitionEntrySize * slot;
    return {entry[EntryBootIndicator], entry[EntryType], LoadLe32(entry + EntryFirstSector),
            LoadLe32(entry + EntrySectorCount)};
}

// Only 0x05 and 0x0F are extended containers whose EBR chain is walked;
// 0x85 and every other ID count as a primary partition. An EBR's link entry
// is followed only when it carries one of these types, as Windows does.
inline bool IsExtendedType(uint8_t type) {
    return type == 0x05 || type == 0x0F;
}
// The protective entry of a GPT disk: Windows reads such a disk as GPT and
// ignores the MBR's entries, so none of them is ever changed.
inline constexpr uint8_t ProtectiveType = 0xEE;
// A dynamic disk's entry: its partitions live in the LDM database.
inline constexpr uint8_t DynamicType = 0x42;

// The IDs whose partitions hold FAT32 and whose boot sector carries a label
// copy: "0B", "0C", "1B", "1C" and "BC" (exact texts).
bool IsFat32Id(std::string_view idText);
// "05" and "0F" (exact texts).
bool IsExtendedId(std::string_view idText);

// Hiding an MBR partition from Windows sets bit 4 of its ID: 01, 04, 06,
// 07, 0B, 0C and 0E have the hidden twins 11, 14, 16, 17, 1B, 1C and 1E.
// The twin of `id` that is hidden (`hide`) or shown; nullopt for an ID of
// neither kind. An ID that already is what is asked is its own twin.
std::optional<uint8_t> VisibilityTwin(uint8_t id, bool hide);
// IDs Windows gives no letter to: the hidden twins, and the IDs of hidden
// recovery and vendor partitions.
bool IsHiddenMbrId(std::string_view idText);

// FAT boot sector: the BIOS parameter block shared by FAT12/16/32, then the
// FAT32 extension.
inline constexpr uint32_t BpbBytesPerSector = 0x0B;     // 16-bit
inline constexpr uint32_t BpbSectorsPerCluster = 0x0D;  // 8-bit, a power of two
inline constexpr uint32_t BpbReservedSectors = 0x0E;    // 16-bit
inline constexpr uint32_t BpbFatCount = 0x10;           // 8-bit
inline constexpr uint32_t BpbRootEntries = 0x11;        // 16-bit, 0 on FAT32
inline constexpr uint32_t BpbTotalSectors16 = 0x13;     // 16-bit, 0 when the count needs 32 bits
inline constexpr uint32_t BpbSectorsPerFat16 = 0x16;    // 16-bit, 0 on FAT32
inline constexpr uint32_t BpbTotalSectors32 = 0x20;     // 32-bit, used when the 16-bit count is 0
inline constexpr uint32_t BpbSectorsPerFat32 = 0x24;    // 32-bit
inline constexpr uint32_t BpbRootCluster = 0x2C;        // 32-bit
inline constexpr uint32_t Fat32FsInfoSectorOffset = 0x30;      // 16-bit sector number
inline constexpr uint32_t Fat32BackupBootSectorOffset = 0x32;  // 16-bit sector number
inline constexpr uint32_t Fat32SerialOffset = 0x43;            // 32-bit volume serial number
inline constexpr uint32_t Fat32LabelOffset = 0x47;             // 11 bytes, space-padded
inline constexpr uint32_t Fat32LabelLength = 11;
inline constexpr uint32_t Fat32TypeOffset = 0x52;  // "FAT32   "

// FSInfo sector: a lead signature, then the free cluster count, 0xFFFFFFFF
// when unknown.
inline constexpr uint32_t FsInfoLeadSignatureOffset = 0;     // 32-bit
inline constexpr uint32_t FsInfoLeadSignature = 0x41615252;  // "RRaA"
inline constexpr uint32_t FsInfoFreeClustersOffset = 488;    // 32-bit
inline constexpr uint32_t FsInfoUnknownCount = 0xFFFFFFFF;

// Directory entries of FAT: 32 bytes, the attribute byte at 11.
inline constexpr uint32_t DirEntrySize = 32;
inline constexpr uint32_t DirEntryAttributes = 11;
inline constexpr uint8_t AttrVolumeLabel = 0x08;
inline constexpr uint8_t AttrLongNameMask = 0x3F;
inline constexpr uint8_t AttrLongName = 0x0F;
inline constexpr uint8_t DirEntryFree = 0x00;     // this and every later entry are unused
inline constexpr uint8_t DirEntryDeleted = 0xE5;
inline constexpr uint8_t DirEntryKanjiE5 = 0x05;  // stands for a first name byte of 0xE5

// The first five bytes of the file-system type field, with a to z upper-cased,
// read "FAT32".
inline bool PassesFat32Test(const Sector& sector) {
    static constexpr char Expected[] = "FAT32";
    for (uint32_t i = 0; i < 5; ++i) {
        uint8_t byte = sector[Fat32TypeOffset + i];
        if (byte >= 'a' && byte <= 'z') byte = static_cast<uint8_t>(byte - ('a' - 'A'));
        if (byte != static_cast<uint8_t>(Expected[i])) return false;
    }
    return true;
}

// A BitLocker volume as the raw disk shows it: a jump (EB 52 90 or EB 58 90),
// then "-FVE-FS-" as the OEM name; or a BitLocker To Go volume, which looks
// like FAT32 ("MSWIN4.1") and carries the BitLocker identifier GUID
// 4967D63B-2E29-4AD8-8399-F6A339E3D001 at byte 424. Windows shows the
// decrypted file system through the volume handle: a label read from or
// written into these raw sectors is not the volume's.
inline constexpr uint32_t BitLockerOemOffset = 3;
inline constexpr uint32_t BitLockerToGoGuidOffset = 424;
bool IsBitLockerBootSector(const Sector& sector);

// How long a volume label may be, by the file system Windows names: FAT
// counts bytes (11), exFAT characters (11), NTFS characters (32); a file
// system the program does not know gets the FAT limit.
struct LabelLimit {
    size_t count = 11;
    bool characters = false;  // counted in characters, not bytes
};
LabelLimit LabelLimitOf(std::string_view fileSystem);
// The longest start of a code page 936 label within the limit.
std::string_view CutLabel(std::string_view label, const LabelLimit& limit);

// A 64-bit byte position as 4 upper-case hexadecimal digits of its high 32 bits
// and 8 of its low 32 bits: sector 63 gives "000000007E00".
std::string PartitionStartText(uint64_t position);

// `numerator / denominator`, rounded to the nearest whole number with exact
// halves going to the even neighbour.
uint64_t DivideRoundHalfEven(uint64_t numerator, uint64_t denominator);

}  // namespace quorvane
