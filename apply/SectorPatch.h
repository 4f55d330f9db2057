// How the program changes a sector: planned from a full read (the bytes
// before, the bytes after), saved in the undo file, then written only if a
// read just before the write still finds the bytes before, and only to the
// position they were read from.
#pragma once

#include <cstdint>
#include <vector>

#include "apply/ChangeFailure.h"
#include "platform/Platform.h"
#include "scan/DiskFormat.h"
#include "scan/PartitionRows.h"
#include "undo/UndoFile.h"

namespace quorvane {

struct PlannedSector {
    UndoKind kind = UndoKind::TableSector;
    uint32_t drive = 0;
    DiskIdentity disk;
    // For a boot sector, written through its volume: the letter, and the
    // volume's serial number and start on the disk.
    char letter = 0;
    uint32_t volumeSerial = 0;
    uint64_t volumeStart = 0;
    uint64_t position = 0;  // on the drive, or on the volume
    std::vector<uint8_t> before;  // one whole sector of the drive
    std::vector<uint8_t> after;
    std::vector<int> rows;  // whose changes it carries
};

// Done: the sector was read (ReadWholeSector) or written (WriteIfUnchanged).
enum class PatchResult { Done, SeekFailed, ReadFailed, Changed, WriteFailed };

// The failure a result that is not Done stands for.
FailureCause CauseOf(PatchResult result);

// Positions, reads one whole sector of the device's size.
PatchResult ReadWholeSector(SectorDevice& device, uint64_t position, std::vector<uint8_t>& sector);

// Reads the sector again; writes `after` only when it still holds `before`.
PatchResult WriteIfUnchanged(SectorDevice& device, uint64_t position, const std::vector<uint8_t>& before,
                             const std::vector<uint8_t>& after);

// Puts `before` back where a write of `after` may have landed whole or in
// part: only when every byte of the sector is still one of the two.
PatchResult PutBack(SectorDevice& device, uint64_t position, const std::vector<uint8_t>& before,
                    const std::vector<uint8_t>& after);

}  // namespace quorvane
