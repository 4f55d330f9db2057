// Turns arbitrary bytes into a run of /U: one to three disks that differ in
// everything a disk is told apart by (MBR or GPT, id, size, 512- or
// 4096-byte sectors) or share some of it, a recorded run on each (IDs in
// two table sectors, GPT types in both copies, or a FAT32 label with its
// boot sector and backup) cut after any of its writes or in the middle of
// one, other programs' changes since, and the undo file that run saved,
// altered or damaged. Shared by the restore fuzzer and the test that replays
// its seeds.
//
// Input layout (whatever is missing reads as zero):
//   byte 0      bits 0-1 the disk count - 1 (% 3)
//   per disk    a flags byte: bit 0 a GPT, else an MBR with an extended
//               partition; bit 1 4096-byte sectors; bit 2 a FAT32 volume in
//               the first partition; bits 3-4 what it shares with disk 0:
//               0 nothing, 1 the id, 2 the id and the size, 3 everything
//               (a copy of disk 0 with its own sector size from bit 1);
//               bits 5-7 the run: 0 and 1 IDs, 2 and 3 a GPT type (IDs on
//               an MBR disk), 4 and 5 a label (IDs without a volume), else
//               none
//               then a size byte (the disk is that many 64-sector steps
//               larger), 4 bytes of id, a byte for the run (a new ID, the
//               index of a GPT type, or a label character), and the cut: a
//               byte c, the run stops after write c % 8 (past its last
//               write: none), bit 3 the next write lands half
//   edits       n (% 6) edits, a tag (% 7) and its data:
//               0 another program changes a recorded sector: record, offset
//                 (2 bytes), value
//               1 another program relabels a disk's volume: disk, a byte
//               2 a record's field, the file's CRC right: record, field (% 7:
//                 kind, id kind, id, size, size 0, sector size, position),
//                 a byte
//               3 a record copied onto another disk's identity: record
//               4 a byte of the file flipped: offset (2 bytes), mask
//               5 the file cut: a byte, that many bytes from its end
//               6 the file of another version
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/RestoreModel.h"

namespace quorvane::fuzz {

struct RestoreCase {
    std::vector<RestoreDrive> drives;          // as /U finds them
    std::vector<SharedMemoryImage> originals;  // before the recorded run
    std::vector<uint8_t> file;                 // what /U reads
    // Per disk: neither the disk nor the records of its run were touched
    // since; and its run changed a GPT.
    std::vector<bool> intact, wholeGptRun;
    bool untouched = true;  // no edit at all
};

RestoreCase DecodeRestoreCase(const uint8_t* data, size_t size);

// Runs /U (the start sequence, the restore, the close path) and lists every
// broken promise.
struct RestoreRun {
    std::vector<std::string> violations;
    int exitCode = 0;
    int restoredDisks = 0;  // disks some sector or label was put back on
};
RestoreRun RunRestoreCase(const RestoreCase& restoreCase);

}  // namespace quorvane::fuzz
