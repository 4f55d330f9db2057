// The undo file: what a run may write, saved before its first write, so that
// /U can put every byte back. The layout is described in docs/undo-file.md.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "scan/PartitionRows.h"

namespace quorvane {

enum class UndoKind : uint8_t {
    TableSector = 1,  // an MBR or EBR sector, through the physical drive
    BootSector = 2,   // a FAT32 boot sector or its backup, through the volume
    Label = 3,        // a volume label, through Windows
    GptSector = 4,    // a GPT header or entry-array sector, through the physical drive
};

enum class DiskIdKind : uint8_t {
    MbrSignature = 1,  // the first 4 bytes of `diskId`: the MBR's disk signature
    GptGuid = 2,       // the 16 bytes of the GPT disk GUID as stored on disk
};

// Which disk a record belongs to, whatever its drive number is by then.
struct UndoDisk {
    DiskIdKind idKind = DiskIdKind::MbrSignature;
    std::array<uint8_t, 16> id{};
    uint64_t size = 0;  // bytes
    uint32_t sectorSize = 512;
    bool operator==(const UndoDisk&) const = default;
};

struct UndoRecord {
    UndoKind kind = UndoKind::TableSector;
    UndoDisk disk;
    // The volume of a boot sector or label: its serial number and where it
    // starts on the disk (bytes).
    uint32_t volumeSerial = 0;
    uint64_t volumeStart = 0;
    // Bytes from the start of the drive, or of the volume for a boot sector.
    uint64_t position = 0;
    // Whole sectors, or labels in code page 936.
    std::vector<uint8_t> before;
    std::vector<uint8_t> after;
    bool operator==(const UndoRecord&) const = default;
};

// An MBR disk as the scan saw it.
UndoDisk UndoDiskOf(const DiskIdentity& disk);

std::vector<uint8_t> EncodeUndoFile(const std::vector<UndoRecord>& records);
// nullopt for a file that is damaged, cut short, of another version or not
// an undo file at all.
std::optional<std::vector<UndoRecord>> DecodeUndoFile(std::span<const uint8_t> file);

}  // namespace quorvane
