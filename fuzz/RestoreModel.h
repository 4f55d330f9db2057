// What /U must do with an undo file on the disks as they are, worked out by
// the checker from the file's description (docs/undo-file.md), its own
// reading of the tables and its own FAT model; and the judgement of a run of
// /U against it: each disk restored whole or untouched, nothing written on
// a disk no record names, the restore's own undo file saved first.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/FatModel.h"
#include "fuzz/UndoFormat.h"
#include "platform/image/ImagePlatform.h"
#include "platform/image/MemoryImage.h"

namespace quorvane::fuzz {

// A drive as /U finds it.
struct RestoreDrive {
    SharedMemoryImage image;
    uint32_t sectorSize = 512;
    bool layoutAnswered = true;  // Windows answers the layout query (not Wine)
};

// The disk a drive holds as the scan identifies it (kind, id, size and
// sector size of an UndoEntry): the GPT's disk GUID where the MBR has a
// protective entry and a GPT copy is right, else the MBR's disk signature;
// nullopt when the drive is too small to hold its MBR.
std::optional<UndoEntry> DiskOfDrive(const MemoryImage& image, uint32_t sectorSize);

// One write /U must make: a whole sector (at a byte position of the drive),
// or a label.
struct RestoreWrite {
    uint64_t position = 0;  // of the sector, or of the volume for a label
    std::vector<uint8_t> bytes;
    bool label = false;
    std::optional<FatVolume> volume;  // a label's, and a boot sector's
    std::string reported;             // the label Windows then reports
};

struct RestoreDisk {
    UndoEntry disk;  // the records' disk
    std::vector<const UndoEntry*> entries;
    std::optional<uint32_t> drive;  // the one drive that holds it
    bool refused = true;            // left untouched, with a problem line
    std::vector<RestoreWrite> writes;
    // A planned write that must fail (Windows refuses the label, a boot
    // sector past what a volume handle may write, two writes to one sector):
    // the disk may then end half restored, every changed sector holding a
    // record's "before".
    bool writeFails = false;
    // Not enough drive letters for every volume: whether a boot sector's or
    // a label's volume is found is not told.
    bool undecided = false;
};

struct RestorePlan {
    bool fileRefused = false;
    std::vector<RestoreDisk> disks;
    // 0 when /U must succeed, 1 when it must fail, nullopt when either.
    std::optional<int> exitCode;
};

RestorePlan PlanRestore(std::span<const uint8_t> file, const std::vector<RestoreDrive>& drives);

// Violations of a run of /U on `drives` (their images now), which held
// `before` when it started; `calls` is the run's platform call log.
std::vector<std::string> JudgeRestore(const RestorePlan& plan, const std::vector<RestoreDrive>& drives,
                                      const std::vector<SharedMemoryImage>& before,
                                      const std::vector<CallRecord>& calls, int exitCode);

// Whether a run saved an undo file before its first write of a sector or a
// label (calls from `from` on).
bool SavedBeforeFirstWrite(const std::vector<CallRecord>& calls, size_t from = 0);

}  // namespace quorvane::fuzz
