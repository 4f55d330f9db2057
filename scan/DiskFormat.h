// On-disk layouts the program reads and writes: the MBR/EBR partition table
// and the FAT32 boot sector. Fields are read from byte arrays with explicit
// little-endian helpers; every offset is a named constant.
#pragma once

#include <array>
#include <cstdint>
#include <string>

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

// MBR and EBR: four 16-byte entries from offset 0x1BE (slots 0 to 3).
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
// 0x85 and every other ID count as a primary partition.
inline bool IsExtendedType(uint8_t type) {
    return type == 0x05 || type == 0x0F;
}

// FAT32 boot sector (BPB of the FAT32 layout).
inline constexpr uint32_t Fat32LabelOffset = 0x47;  // 11 bytes, space-padded
inline constexpr uint32_t Fat32LabelLength = 11;
inline constexpr uint32_t Fat32TypeOffset = 0x52;              // "FAT32   "
inline constexpr uint32_t Fat32BackupBootSectorOffset = 0x32;  // 16-bit sector number

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

// A 64-bit byte position as 4 upper-case hexadecimal digits of its high 32 bits
// and 8 of its low 32 bits: sector 63 gives "000000007E00".
std::string PartitionStartText(uint64_t position);

// `numerator / denominator`, rounded to the nearest whole number with exact
// halves going to the even neighbour.
uint64_t DivideRoundHalfEven(uint64_t numerator, uint64_t denominator);

}  // namespace quorvane
