// Turns arbitrary bytes into one or two sparse disk images and a "/F" command
// line, so a fuzzer can build MBRs, EBR chains (looping, past 4 GiB, past the
// end of the disk) and FAT32 boot sectors. Shared by the fuzz target and the
// regression test that replays what the fuzzer found.
//
// Input layout (everything that is missing reads as zero):
//   byte 0      flags: bit 0 two images; bit 1 ID1 in lower case; bit 2 ID2 is
//               the raw bytes 2 and 3 (one byte when byte 3 is 0), else byte 2
//               in hexadecimal; bit 3 ID2 as one digit when below 0x10
//   byte 1      ID1, written as two hexadecimal digits
//   bytes 2, 3  ID2 (see bit 2)
//   per image   two bytes m, e: the image holds m << (e % 43) bytes
//   then chunks, each a header byte h and its data:
//     h bit 0     the image (second one only with two images)
//     h bits 1-2  where the chunk goes:
//                 0  the sector number in the next 5 bytes (little-endian)
//                 1  the first sector of MBR slot (h bits 4-5) of that image, as
//                    placed so far; it becomes the image's chain base
//                 2  chain base + the link (entry 1 first sector) of the last
//                    chunk placed on that image: the next EBR of a chain
//                 3  the last chunk's sector + its entry 0 first sector: the
//                    boot sector of a logical partition
//     h bit 3     a whole sector of 512 bytes follows; otherwise the 64 bytes
//                 of a partition table, placed at 0x1BE with the 0x55 0xAA
//                 signature after it
//     h bit 6     a run of EBRs: a count byte n and a 2-byte step s (0 reads
//                 as 1) follow before the data; 2n + 1 copies go to the
//                 position above and every s sectors after it, each copy's link
//                 naming the next one (the last keeps its own link), so a long
//                 chain costs a few bytes
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace quorvane::fuzz {

inline constexpr size_t MaxChunks = 1024;
inline constexpr size_t MaxSectors = 1024;  // over all images; enough to fill the rows
inline constexpr uint64_t ChunkSectorSize = 512;

struct FuzzImage {
    uint64_t size = 0;
    std::map<uint64_t, std::array<uint8_t, 512>> sectors;  // by sector number
};

struct FuzzCase {
    std::vector<FuzzImage> images;
    std::vector<std::string> parameters;  // without the program itself
};

class FuzzReader {
 public:
    FuzzReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool AtEnd() const { return at_ >= size_; }
    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    uint64_t Number(int bytes) {
        uint64_t value = 0;
        for (int i = 0; i < bytes; ++i) value |= uint64_t{Byte()} << (8 * i);
        return value;
    }

 private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

inline uint32_t LittleEndian32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

inline std::string HexText(uint8_t value, bool lowerCase, bool oneDigit) {
    char text[3];
    std::snprintf(text, sizeof text, oneDigit ? (lowerCase ? "%x" : "%X") : (lowerCase ? "%02x" : "%02X"),
                  value);
    return text;
}

inline FuzzCase DecodeFuzzCase(const uint8_t* data, size_t size) {
    FuzzReader in(data, size);
    const uint8_t flags = in.Byte();
    const uint8_t id1 = in.Byte();
    const uint8_t id2a = in.Byte();
    const uint8_t id2b = in.Byte();

    FuzzCase result;
    std::string id2;
    if (flags & 4) {
        id2.push_back(static_cast<char>(id2a));
        if (id2b != 0) id2.push_back(static_cast<char>(id2b));
    } else {
        id2 = HexText(id2a, false, (flags & 8) && id2a < 0x10);
    }
    result.parameters = {"/F", HexText(id1, flags & 2, false), id2};

    result.images.resize((flags & 1) ? 2 : 1);
    for (FuzzImage& image : result.images) {
        const uint64_t mantissa = in.Byte();
        image.size = mantissa << (in.Byte() % 43);
    }

    struct Cursor {
        uint64_t base = 0;
        uint64_t last = 0;
        std::array<uint8_t, 512> lastSector{};
    };
    std::vector<Cursor> cursors(result.images.size());
    size_t sectors = 0;
    for (size_t chunk = 0; chunk < MaxChunks && sectors < MaxSectors && !in.AtEnd(); ++chunk) {
        const uint8_t header = in.Byte();
        const size_t index = (header & 1) % result.images.size();
        FuzzImage& image = result.images[index];
        Cursor& cursor = cursors[index];
        uint64_t sector = 0;
        switch ((header >> 1) & 3) {
            case 0: sector = in.Number(5); break;
            case 1: {
                const auto mbr = image.sectors.find(0);
                const uint32_t slot = (header >> 4) & 3;
                sector = mbr == image.sectors.end() ? 0 : LittleEndian32(&mbr->second[0x1C6 + 16 * slot]);
                cursor.base = sector;
                break;
            }
            case 2: sector = cursor.base + LittleEndian32(&cursor.lastSector[0x1D6]); break;
            case 3: sector = cursor.last + LittleEndian32(&cursor.lastSector[0x1C6]); break;
        }
        size_t copies = 1;
        uint64_t step = 1;
        if (header & 0x40) {
            copies = size_t{in.Byte()} * 2 + 1;
            step = std::max<uint64_t>(in.Number(2), 1);
        }
        std::array<uint8_t, 512> content{};
        const auto placed = image.sectors.find(sector);
        if (placed != image.sectors.end()) content = placed->second;
        if (header & 8) {
            for (uint8_t& byte : content) byte = in.Byte();
        } else {
            for (size_t i = 0x1BE; i < 0x1FE; ++i) content[i] = in.Byte();
            content[0x1FE] = 0x55;
            content[0x1FF] = 0xAA;
        }
        copies = std::min(copies, MaxSectors - sectors);
        sectors += copies;
        for (size_t copy = 0; copy < copies; ++copy) {
            auto& bytes = image.sectors[sector];
            bytes = content;
            if (copy + 1 < copies) {
                const auto link = static_cast<uint32_t>(sector + step - cursor.base);
                for (int i = 0; i < 4; ++i) bytes[0x1D6 + i] = static_cast<uint8_t>(link >> (8 * i));
            }
            cursor.last = sector;
            cursor.lastSector = bytes;
            sector += step;
        }
    }
    return result;
}

}  // namespace quorvane::fuzz
