#include "fuzz/RestoreDisks.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz/Oracle.h"

namespace quorvane::fuzz {

namespace {

void Put(MemoryImage& image, uint64_t position, uint64_t value, int bytes) {
    uint8_t le[8];
    for (int i = 0; i < bytes; ++i) le[i] = static_cast<uint8_t>(value >> (8 * i));
    image.WriteAt(position, le, static_cast<size_t>(bytes));
}

void PutEntry(MemoryImage& image, uint64_t table, int slot, uint8_t type, uint64_t first, uint64_t count) {
    const uint64_t at = table + 0x1BE + 16 * static_cast<uint64_t>(slot);
    Put(image, at + 4, type, 1);
    Put(image, at + 8, first, 4);
    Put(image, at + 12, count, 4);
    Put(image, table + 510, 0xAA55, 2);
}

// A FAT32 volume as mkfs.fat lays one out, with a label in its root directory.
void PutFat32(MemoryImage& image, uint64_t start, uint32_t unit, uint32_t serial) {
    const uint64_t at = start * unit;
    image.WriteAt(at, reinterpret_cast<const uint8_t*>("\xEB\x58\x90mkfs.fat"), 11);
    Put(image, at + 0x0B, unit, 2);
    Put(image, at + 0x0D, 1, 1);   // sectors per cluster
    Put(image, at + 0x0E, 32, 2);  // reserved sectors
    Put(image, at + 0x10, 2, 1);   // FATs
    Put(image, at + 0x15, 0xF8, 1);
    Put(image, at + 0x20, 32 + 2 * 8 + 65525, 4);
    Put(image, at + 0x24, 8, 4);  // sectors per FAT
    Put(image, at + 0x2C, 2, 4);  // root cluster
    Put(image, at + 0x30, 1, 2);  // FSInfo
    Put(image, at + 0x32, 6, 2);  // backup boot sector
    Put(image, at + 0x42, 0x29, 1);
    Put(image, at + 0x43, serial, 4);
    image.WriteAt(at + 0x47, reinterpret_cast<const uint8_t*>("OLD LABEL  FAT32   "), 19);
    Put(image, at + 510, 0xAA55, 2);
    std::vector<uint8_t> boot(unit);
    image.ReadAt(at, boot.data(), unit);
    image.WriteAt(at + 6 * uint64_t{unit}, boot.data(), unit);
    // Each FAT: its two reserved entries, then the root directory's cluster,
    // which ends its chain.
    for (uint64_t fat = 0; fat < 2; ++fat) {
        Put(image, at + (32 + fat * 8) * unit, 0x0FFFFFFF0FFFFFF8, 8);
        Put(image, at + (32 + fat * 8) * unit + 8, 0x0FFFFFFF, 4);
    }
    const uint64_t root = at + (32 + 2 * 8) * uint64_t{unit};
    image.WriteAt(root, reinterpret_cast<const uint8_t*>("OLD LABEL  \x08"), 12);
}

}  // namespace

void SetLabel(MemoryImage& image, const FatVolume& volume, const std::string& label) {
    const auto slot = FindLabelSlot(image, volume);
    if (!slot || label.empty()) return;
    std::string field = UpperGbk(label);
    field.resize(11, ' ');
    if (field[0] == '\xE5') field[0] = '\x05';
    image.WriteAt(slot->position, reinterpret_cast<const uint8_t*>(field.data()), 11);
    if (!slot->existing) Put(image, slot->position + 11, 0x08, 1);
}

// A disk of its own making, `extra` 64-sector steps larger than it needs,
// or `bytes` long where that is enough.
SharedMemoryImage MakeDisk(Disk& d, uint8_t extra, uint32_t id, uint64_t bytes) {
    const bool gpt = d.flags & 1, volume = d.flags & 4;
    const uint32_t u = d.unit;
    const uint64_t first = 64, length = volume ? VolumeSectors : 2048;
    const uint64_t arraySectors = 128 * 128 / u;
    const uint64_t needed = (first + length + 64 + 4096 + 64 + arraySectors + 1 + 64 * uint64_t{extra}) * u;
    auto image = std::make_shared<MemoryImage>(std::max(needed, bytes));
    const uint64_t sectors = image->Size() / u, last = sectors - 1;
    if (volume) {
        d.volumeStart = first;
        PutFat32(*image, first, u, 0x5E000000 | id >> 8);
    }
    if (!gpt) {
        Put(*image, 0x1B8, id, 4);
        PutEntry(*image, 0, 0, volume ? 0x0C : 0x07, first, length);
        d.ebr = first + length + 64;
        PutEntry(*image, 0, 1, 0x05, d.ebr, 4096);
        PutEntry(*image, d.ebr * u, 0, 0x83, 64, 1024);
        return image;
    }
    PutEntry(*image, 0, 0, 0xEE, 1, static_cast<uint32_t>(std::min<uint64_t>(last, 0xFFFFFFFF)));
    std::vector<uint8_t> array(128 * 128);
    const GuidBytes basic = GuidOnDisk(KnownGptTypes[1].guid), linux = GuidOnDisk(KnownGptTypes[6].guid);
    std::copy(basic.begin(), basic.end(), array.begin());
    std::copy(linux.begin(), linux.end(), array.begin() + 128);
    const uint64_t entries[2][2] = {{first, first + length - 1},
                                    {first + length + 64, first + length + 64 + 1023}};
    for (int e = 0; e < 2; ++e)
        for (int half = 0; half < 2; ++half)
            for (int b = 0; b < 8; ++b)
                array[128 * e + 32 + 8 * half + b] = static_cast<uint8_t>(entries[e][half] >> (8 * b));
    array[16] = 1;  // the partitions' own GUIDs
    array[128 + 16] = 2;
    const uint32_t arrayCrc = CheckerCrc32(array.data(), array.size());
    const auto header = [&](uint64_t lba, uint64_t alternate, uint64_t entryLba) {
        std::vector<uint8_t> h(92);
        std::memcpy(h.data(), "EFI PART\0\0\1\0\x5C\0\0\0", 16);
        for (int b = 0; b < 8; ++b) {
            h[24 + b] = static_cast<uint8_t>(lba >> (8 * b));
            h[32 + b] = static_cast<uint8_t>(alternate >> (8 * b));
            h[40 + b] = static_cast<uint8_t>((2 + arraySectors) >> (8 * b));
            h[48 + b] = static_cast<uint8_t>((last - arraySectors - 1) >> (8 * b));
            h[72 + b] = static_cast<uint8_t>(entryLba >> (8 * b));
        }
        std::memcpy(&h[56], "\0\0\0\0\x11\x22\x33\x44\x55\x66\x77\x88\x99\xAA\xBB\xCC", 16);
        for (int b = 0; b < 4; ++b) h[56 + b] = static_cast<uint8_t>(id >> (8 * b));
        h[80] = 128;  // entries
        h[84] = 128;  // bytes each
        for (int b = 0; b < 4; ++b) h[88 + b] = static_cast<uint8_t>(arrayCrc >> (8 * b));
        const uint32_t crc = CheckerCrc32(h.data(), h.size());
        for (int b = 0; b < 4; ++b) h[16 + b] = static_cast<uint8_t>(crc >> (8 * b));
        return h;
    };
    image->WriteAt(2 * u, array.data(), array.size());
    image->WriteAt((last - arraySectors) * u, array.data(), array.size());
    image->WriteAt(u, header(1, last, 2).data(), 92);
    image->WriteAt(last * u, header(last, 1, last - arraySectors).data(), 92);
    return image;
}

}  // namespace quorvane::fuzz
