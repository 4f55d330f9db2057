// The disks of the restore fuzzer (fuzz/RestoreCase.h): an MBR disk with a
// primary and an extended partition, or a GPT disk with two partitions (both
// copies right), either with a FAT32 volume in its first partition laid out
// as mkfs.fat lays one out; and a label set as Windows sets one, by the
// checker's own FAT model.
#pragma once

#include <cstdint>
#include <string>

#include "fuzz/FatModel.h"
#include "platform/image/MemoryImage.h"

namespace quorvane::fuzz {

// Sectors of a FAT32 volume with just enough clusters for Windows to take it
// for FAT32.
inline constexpr uint64_t VolumeSectors = 66000;

struct Disk {
    uint8_t flags = 0;  // bit 0 GPT, bit 1 4096-byte sectors, bit 2 a FAT32 volume
    uint32_t unit = 512;
    uint64_t volumeStart = 0;  // in sectors; 0: none
    uint64_t ebr = 0;          // the MBR disk's first EBR
};

// A disk of its own making, `extra` 64-sector steps larger than it needs,
// or `bytes` long where that is enough; its MBR signature or the first four
// bytes of its GPT disk GUID are `id`.
SharedMemoryImage MakeDisk(Disk& d, uint8_t extra, uint32_t id, uint64_t bytes);

// What Windows does with SetVolumeLabel on the volume.
void SetLabel(MemoryImage& image, const FatVolume& volume, const std::string& label);

}  // namespace quorvane::fuzz
