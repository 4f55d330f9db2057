// The GUID partition table of a disk whose MBR holds a protective entry:
// its header at LBA 1 (or, where that one is damaged, the backup header at
// the last LBA) and its entry array, each checked by its CRC-32.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/Platform.h"
#include "scan/DiskFormat.h"
#include "scan/GptTypes.h"

namespace quorvane {

// GPT header fields (the UEFI "GPT Header" layout).
inline constexpr uint32_t GptHeaderSizeField = 12;
inline constexpr uint32_t GptHeaderCrcField = 16;
inline constexpr uint32_t GptMyLbaField = 24;
inline constexpr uint32_t GptAlternateLbaField = 32;
inline constexpr uint32_t GptDiskGuidField = 56;
inline constexpr uint32_t GptEntryLbaField = 72;
inline constexpr uint32_t GptEntryCountField = 80;
inline constexpr uint32_t GptEntrySizeField = 84;
inline constexpr uint32_t GptArrayCrcField = 88;
// Entry fields.
inline constexpr uint32_t GptEntryTypeGuid = 0;
inline constexpr uint32_t GptEntryFirstLba = 32;
inline constexpr uint32_t GptEntryLastLba = 40;
inline constexpr uint32_t GptEntryAttributes = 48;
// Attribute bits: bit 0 for every type (UEFI: "required for the platform to
// function"), bits 60, 62 and 63 of basic-data partitions as Windows reads
// them (read-only, hidden, no drive letter).
inline constexpr uint64_t GptAttributeRequired = uint64_t{1} << 0;
inline constexpr uint64_t GptAttributeReadOnly = uint64_t{1} << 60;
inline constexpr uint64_t GptAttributeHidden = uint64_t{1} << 62;
inline constexpr uint64_t GptAttributeNoDriveLetter = uint64_t{1} << 63;

struct GptTable {
    uint32_t unit = SectorSize;  // the drive's logical sector size
    uint64_t headerLba = 0;
    std::vector<uint8_t> headerSector;  // the whole sector
    Sector header{};                    // its first 512 bytes
    Guid diskGuid{};
    uint64_t alternateLba = 0;
    uint64_t entryLba = 0;
    uint32_t entryCount = 0;
    uint32_t entrySize = 0;
    std::vector<uint8_t> array;  // whole sectors holding every entry

    const uint8_t* Entry(uint32_t index) const { return array.data() + uint64_t{index} * entrySize; }
};

inline uint64_t LoadLe64(const uint8_t* p) {
    return uint64_t{LoadLe32(p)} | uint64_t{LoadLe32(p + 4)} << 32;
}
inline void StoreLe32(uint8_t* p, uint32_t value) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

// The header at `lba` and its entry array (read in one request), when the
// signature, both CRC-32s and the header's own LBA are right.
std::optional<GptTable> ReadGptTable(SectorDevice& device, uint64_t lba, uint64_t diskSectors);

// The header CRC-32 over its first `header size` bytes, the CRC field taken as 0.
uint32_t GptHeaderCrc(const Sector& header);

struct GptRead {
    std::optional<GptTable> table;
    bool fromBackup = false;  // the primary was damaged
};
GptRead ReadGpt(SectorDevice& device, std::optional<uint64_t> diskSize);

}  // namespace quorvane
