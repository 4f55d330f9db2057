// The disks of a fuzz case: tables, EBR runs, FAT32 volumes as mkfs.fat lays
// them out and GUID partition tables, placed as fuzz/FuzzCase.h describes.
#include <algorithm>
#include <cstring>

#include "fuzz/FuzzReader.h"
#include "fuzz/Oracle.h"

namespace quorvane::fuzz {

namespace {

using SectorBytes = std::array<uint8_t, 512>;

// The 512 bytes at `position` of an image, placed while the budget lasts.
SectorBytes* Place(FuzzImage& image, uint64_t position, size_t& budget) {
    const auto found = image.sectors.find(position / 512);
    if (found != image.sectors.end()) return &found->second;
    if (budget == 0) return nullptr;
    --budget;
    return &image.sectors[position / 512];
}

// Bytes at `position`, where not all zero (an image reads as zeros elsewhere).
void PutBytes(FuzzImage& image, uint64_t position, const std::vector<uint8_t>& bytes, size_t& budget) {
    for (size_t done = 0; done < bytes.size();) {
        const size_t offset = (position + done) % 512, count = std::min(bytes.size() - done, 512 - offset);
        const bool zero =
            std::all_of(bytes.begin() + done, bytes.begin() + done + count, [](uint8_t b) { return b == 0; });
        SectorBytes* sector = zero && !image.sectors.count((position + done) / 512)
                                  ? nullptr
                                  : Place(image, position + done, budget);
        if (sector) std::copy_n(bytes.begin() + done, count, sector->begin() + offset);
        done += count;
    }
}

void PutFat32Volume(Reader& in, FuzzImage& image, uint64_t start, size_t& budget, uint32_t unit) {
    const uint8_t flags = in.Byte();
    const uint32_t sectorsPerCluster = 1u << (flags & 7);
    const uint32_t reserved = [&] {
        const uint8_t b = in.Byte();
        return b == 0 ? 32u : uint32_t{b};
    }();
    const uint32_t fats = [&] {
        const uint8_t b = in.Byte() % 3;
        return b == 0 ? 2u : uint32_t{b};
    }();
    const uint32_t sectorsPerFat = [&] {
        const uint8_t b = in.Byte();
        return b == 0 ? 8u : uint32_t{b};
    }();
    const uint8_t rootByte = in.Byte();
    const uint32_t rootCluster = rootByte % 8 + 2;
    // Windows takes a volume for FAT32 from 65525 clusters on: 31 makes one
    // cluster too few, whatever the boot sector's type field says.
    const uint32_t clusters = (rootByte >> 3) == 31 ? 65524 : 65525 + (rootByte >> 3);
    const uint32_t serial = static_cast<uint32_t>(in.Number(4));
    std::string label = LabelText(in);
    const bool copyAtSix = in.Byte() & 1;
    constexpr uint32_t FsInfo = 1;
    uint32_t backup = 6;
    switch ((flags >> 4) & 7) {
        case 1: backup = 0; break;
        case 2: backup = FsInfo; break;
        case 3: backup = reserved + 1; break;
        case 4: backup = 3; break;
        case 5: backup = 0xFFFF; break;
        default: break;
    }

    // The boot sector as mkfs.fat -F 32 writes it.
    SectorBytes boot{};
    std::memcpy(boot.data(), "\xEB\x58\x90mkfs.fat", 11);
    PutLe(&boot[0x0B], unit, 2);
    boot[0x0D] = static_cast<uint8_t>(sectorsPerCluster);
    PutLe(&boot[0x0E], reserved, 2);
    boot[0x10] = static_cast<uint8_t>(fats);
    boot[0x15] = 0xF8;
    PutLe(&boot[0x18], 32, 2);
    PutLe(&boot[0x1A], 8, 2);
    PutLe(&boot[0x20], reserved + fats * sectorsPerFat + clusters * sectorsPerCluster, 4);
    PutLe(&boot[0x24], sectorsPerFat, 4);
    PutLe(&boot[0x2C], rootCluster, 4);
    PutLe(&boot[0x30], FsInfo, 2);
    PutLe(&boot[0x32], backup, 2);
    boot[0x40] = 0x80;
    boot[0x42] = 0x29;
    PutLe(&boot[0x43], serial, 4);
    std::string field = label;
    field.resize(11, ' ');
    std::memcpy(&boot[0x47], field.data(), 11);
    std::memcpy(&boot[0x52], (flags & 0x80) ? "fat32   " : "FAT32   ", 8);
    boot[510] = 0x55;
    boot[511] = 0xAA;

    SectorBytes fsInfo{};
    PutLe(&fsInfo[0], 0x41615252, 4);
    PutLe(&fsInfo[484], 0x61417272, 4);
    PutLe(&fsInfo[488], 1000, 4);
    PutLe(&fsInfo[492], rootCluster + 1, 4);
    PutLe(&fsInfo[508], 0xAA550000, 4);

    // The root directory's cluster ends its chain; the label entry opens it.
    SectorBytes root{};
    if (!(flags & 8)) {
        std::memcpy(root.data(), field.data(), 11);
        root[11] = 0x08;
    }

    const auto put = [&](uint64_t sector, const SectorBytes& bytes) {
        if (budget == 0) return;
        --budget;
        image.sectors[sector * unit / 512] = bytes;
    };
    put(start, boot);
    put(start + FsInfo, fsInfo);
    if (backup != 0 && backup != FsInfo && backup < reserved) put(start + backup, boot);
    if (copyAtSix && reserved > 6) put(start + 6, boot);
    for (uint32_t fat = 0; fat < fats; ++fat) {
        const uint64_t fatSector = start + reserved + uint64_t{fat} * sectorsPerFat;
        SectorBytes first{};
        const auto found = image.sectors.find(fatSector * unit / 512);
        if (found != image.sectors.end()) first = found->second;
        PutLe(&first[0], 0x0FFFFFF8, 4);
        PutLe(&first[4], 0x0FFFFFFF, 4);
        PutLe(&first[rootCluster * 4], 0x0FFFFFFF, 4);
        put(fatSector, first);
    }
    const uint64_t dataStart = start + reserved + uint64_t{fats} * sectorsPerFat;
    put(dataStart + uint64_t{rootCluster - 2} * sectorsPerCluster, root);
}

// A GUID partition table as FuzzCase.h describes it.
void PutGpt(Reader& in, FuzzImage& image, size_t& budget, uint32_t unit) {
    const uint8_t flags = in.Byte();
    const uint32_t entrySize = 128u << (flags & 3);
    const uint32_t count = [&] {
        const uint8_t b = in.Byte();
        return b == 0 ? 128u : uint32_t{b};
    }();
    const uint64_t entryLba = 2 + in.Byte() % 4;
    GuidBytes diskGuid = GuidOnDisk("5A1C3E2D-0000-4B6F-8D1E-2C3B4A596877");
    diskGuid[4] = in.Byte();
    diskGuid[5] = in.Byte();
    std::vector<uint8_t> array(size_t{count} * entrySize);
    std::vector<uint64_t> volumes;
    for (int n = in.Byte() % 9; n > 0; --n) {
        const uint32_t index = in.Byte() % count;
        uint8_t* entry = &array[size_t{index} * entrySize];
        const uint8_t type = in.Byte() % 16;
        GuidBytes guid{};
        if (type < EntryTypeCount)
            guid = GuidOnDisk(KnownGptTypes[type].guid);
        else if (type != 15)
            for (uint8_t& byte : guid) byte = in.Byte();
        std::copy(guid.begin(), guid.end(), entry);
        entry[16] = static_cast<uint8_t>(index + 1);  // the partition's own GUID
        const uint64_t first = in.Number(4), units = in.Number(2);
        const uint8_t attributes = in.Byte();
        const uint64_t length = attributes & 8 ? units << 8 : units;
        PutLe(entry + 32, first, 8);
        PutLe(entry + 40, first + length - 1, 8);
        entry[55] = static_cast<uint8_t>((attributes & 1 ? 0x40 : 0) | (attributes & 2 ? 0x80 : 0));
        if (attributes & 4) volumes.push_back(first);
    }
    const uint64_t sectors = image.size / unit, last = sectors > 0 ? sectors - 1 : 0;
    const uint64_t arraySectors = (array.size() + unit - 1) / unit;
    const uint64_t backupEntryLba = last > arraySectors ? last - arraySectors : 0;
    const auto header = [&](uint64_t lba, uint64_t alternate, uint64_t entries, uint32_t arrayCrc) {
        std::vector<uint8_t> h(92);
        std::memcpy(h.data(), "EFI PART", 8);
        PutLe(&h[8], 0x00010000, 4);
        PutLe(&h[12], 92, 4);
        PutLe(&h[24], lba, 8);
        PutLe(&h[32], alternate, 8);
        PutLe(&h[40], entryLba + arraySectors, 8);
        PutLe(&h[48], backupEntryLba > 0 ? backupEntryLba - 1 : 0, 8);
        std::copy(diskGuid.begin(), diskGuid.end(), &h[56]);
        PutLe(&h[72], entries, 8);
        PutLe(&h[80], count, 4);
        PutLe(&h[84], entrySize, 4);
        PutLe(&h[88], arrayCrc, 4);
        PutLe(&h[16], CheckerCrc32(h.data(), h.size()), 4);
        return h;
    };
    if (!image.sectors.count(0)) {  // a protective MBR
        std::vector<uint8_t> mbr(512);
        mbr[0x1C0] = 0x02;
        mbr[0x1C2] = 0xEE;
        std::fill_n(&mbr[0x1C3], 3, 0xFF);
        PutLe(&mbr[0x1C6], 1, 4);
        PutLe(&mbr[0x1CA], std::min<uint64_t>(last, 0xFFFFFFFF), 4);
        mbr[510] = 0x55;
        mbr[511] = 0xAA;
        PutBytes(image, 0, mbr, budget);
    }
    const uint32_t crc = CheckerCrc32(array.data(), array.size());
    std::vector<uint8_t> primary = header(1, last, entryLba, crc ^ (flags & 0x40 ? 1 : 0));
    if (flags & 4) primary[16] ^= 1;
    PutBytes(image, uint64_t{unit}, primary, budget);
    PutBytes(image, entryLba * unit, array, budget);
    if (!(flags & 0x20)) {
        std::vector<uint8_t> copy = array;
        if (flags & 0x10) copy[56] ^= 1;  // the first entry's name
        std::vector<uint8_t> backup =
            header(last, flags & 0x80 ? 2 : 1, backupEntryLba, CheckerCrc32(copy.data(), copy.size()));
        if (flags & 8) backup[16] ^= 1;
        PutBytes(image, backupEntryLba * unit, copy, budget);
        PutBytes(image, last * unit, backup, budget);
    }
    for (const uint64_t start : volumes) PutFat32Volume(in, image, start, budget, unit);
}

}  // namespace

void DecodeChunks(Reader& in, FuzzCase& result) {
    const uint32_t unit = result.sectorSize;
    const uint64_t k = unit / 512;  // map keys per sector
    struct Cursor {
        uint64_t base = 0;
        uint64_t last = 0;
        SectorBytes lastSector{};
    };
    std::vector<Cursor> cursors(result.images.size());
    size_t budget = MaxSectors;
    for (size_t chunk = 0; chunk < MaxChunks && budget > 0 && !in.AtEnd(); ++chunk) {
        const uint8_t header = in.Byte();
        const size_t index = (header & 1) % result.images.size();
        FuzzImage& image = result.images[index];
        Cursor& cursor = cursors[index];
        if ((header & 0xC0) == 0xC0) {
            PutGpt(in, image, budget, unit);
            continue;
        }
        uint64_t sector = 0;
        switch ((header >> 1) & 3) {
            case 0: sector = in.Number(5); break;
            case 1: {
                const auto mbr = image.sectors.find(0);
                const uint32_t slot = (header >> 4) & 3;
                sector = mbr == image.sectors.end() ? 0 : Le32(&mbr->second[0x1C6 + 16 * slot]);
                if (!(header & 0x80)) cursor.base = sector;
                break;
            }
            case 2: sector = cursor.base + Le32(&cursor.lastSector[0x1D6]); break;
            case 3: sector = cursor.last + Le32(&cursor.lastSector[0x1C6]); break;
        }
        if (header & 0x80) {
            PutFat32Volume(in, image, sector, budget, unit);
            continue;
        }
        size_t copies = 1;
        uint64_t step = 1;
        if (header & 0x40) {
            copies = size_t{in.Byte()} * 2 + 1;
            step = std::max<uint64_t>(in.Number(2), 1);
        }
        SectorBytes content{};
        const auto placed = image.sectors.find(sector * k);
        if (placed != image.sectors.end()) content = placed->second;
        if (header & 8) {
            for (uint8_t& byte : content) byte = in.Byte();
        } else {
            for (size_t i = 0x1BE; i < 0x1FE; ++i) content[i] = in.Byte();
            content[0x1FE] = 0x55;
            content[0x1FF] = 0xAA;
        }
        copies = std::min(copies, budget);
        budget -= copies;
        for (size_t copy = 0; copy < copies; ++copy) {
            auto& bytes = image.sectors[sector * k];
            bytes = content;
            if (copy + 1 < copies)
                PutLe(&bytes[0x1D6], static_cast<uint32_t>(sector + step - cursor.base), 4);
            cursor.last = sector;
            cursor.lastSector = bytes;
            sector += step;
        }
    }
}

}  // namespace quorvane::fuzz
