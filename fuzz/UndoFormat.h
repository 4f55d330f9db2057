// The checkers' own reading and writing of the undo file, from its
// description in docs/undo-file.md alone (the CRC-32 is the one piece shared
// with the program), so a fault in the program's codec cannot hide itself.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace quorvane::fuzz {

// One record, field by field as the file holds it.
struct UndoEntry {
    uint8_t kind = 1;    // 1 table sector, 2 boot sector, 3 label, 4 GPT sector
    uint8_t idKind = 1;  // 1 MBR disk signature, 2 GPT disk GUID
    std::array<uint8_t, 16> id{};
    uint64_t diskSize = 0;
    uint32_t sectorSize = 512;
    uint32_t serial = 0;
    uint64_t volumeStart = 0;
    uint64_t position = 0;
    std::vector<uint8_t> before, after;
    bool operator==(const UndoEntry&) const = default;
    // The disk it names: id kind, id, size and sector size together.
    bool SameDisk(const UndoEntry& other) const {
        return idKind == other.idKind && id == other.id && diskSize == other.diskSize &&
               sectorSize == other.sectorSize;
    }
};

// Another value for one field of a record: 0 the kind, 1 the id kind, 2 a
// byte of the id, 3 the disk size by some sectors, 4 the disk size 0, 5 the
// sector size (512 and 4096 swapped), 6 the position by some sectors.
void AlterField(UndoEntry& entry, uint8_t field, uint8_t value);

// The file with these records and a right CRC; `version` other than 1 makes
// a file of another version.
std::vector<uint8_t> WriteUndoEntries(const std::vector<UndoEntry>& entries, uint32_t version = 1);
// nullopt for a file the program must refuse whole.
std::optional<std::vector<UndoEntry>> ReadUndoEntries(std::span<const uint8_t> file);

}  // namespace quorvane::fuzz
