// Helpers shared by the scan suites: one scan over images, rows as readable
// UTF-8 lines, and partition-table entries put into sparse in-memory disks.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/image/ImagePlatform.h"
#include "platform/image/MemoryImage.h"
#include "scan/DiskFormat.h"
#include "scan/PartitionRows.h"
#include "scan/ScanDisks.h"
#include "tests/support/DiskImages.h"
#include "tests/support/Faults.h"
#include "tools/Utf8.h"

namespace quorvane::test {

// One scan over images (image k is physical drive k), with the call log kept.
struct Scan {
    explicit Scan(const std::vector<std::string>& paths) : platform(paths) {
        report = ScanDisks(platform, rows);
    }
    explicit Scan(std::vector<ImageSource> sources) : platform(std::move(sources)) {
        report = ScanDisks(platform, rows);
    }
    ImagePlatform platform;
    PartitionRows rows;
    ScanReport report;
};

// "disk|shown number|ID|name|kind|size MB" in UTF-8, so a failure reads like the list.
inline std::string RowLine(const PartitionRows& rows, int row) {
    std::string line;
    for (const int column : {ColumnDisk, ColumnPartition, ColumnId, ColumnIdName, ColumnKind, ColumnSizeMb})
        line += (line.empty() ? "" : "|") + GbkToUtf8(rows.Cell(row, column));
    return line;
}

inline std::vector<std::string> RowLines(const PartitionRows& rows) {
    std::vector<std::string> lines;
    for (int row = 0; row < rows.Count(); ++row) lines.push_back(RowLine(rows, row));
    return lines;
}

// `DeviceMap` as its entries read: "0,0,1 4,0,2 ...".
inline std::string DeviceMapText(const PartitionRows& rows) {
    std::string text;
    for (const DeviceMapEntry& entry : rows.DeviceMap())
        text += (text.empty() ? "" : " ") + std::to_string(entry.row) + "," + std::to_string(entry.drive) +
                "," + std::to_string(entry.partition);
    return text;
}

inline std::vector<std::string> StartTexts(const PartitionRows& rows) {
    std::vector<std::string> starts;
    for (int row = 0; row < rows.Count(); ++row)
        starts.push_back(PartitionStartText(rows.Side(row).partitionStart));
    return starts;
}

// A 16-byte partition-table entry (and the 0x55AA signature) in a memory disk.
inline void PutEntry(MemoryImage& image, uint64_t sectorPosition, int slot, uint8_t boot, uint8_t type,
                     uint32_t firstSector, uint32_t sectorCount) {
    const std::vector<uint8_t> entry = EntryBytes(boot, type, firstSector, sectorCount);
    image.WriteAt(EntryPosition(sectorPosition, slot), entry.data(), entry.size());
    const uint8_t signature[2] = {0x55, 0xAA};
    image.WriteAt(sectorPosition + 510, signature, 2);
}


inline SharedMemoryImage MemoryDisk(uint64_t bytes) {
    return std::make_shared<MemoryImage>(bytes);
}
inline ImageSource InMemory(const SharedMemoryImage& image) {
    return ImageSource{"", image};
}

inline constexpr uint64_t MiB = uint64_t{1} << 20;
inline constexpr uint64_t GiB = uint64_t{1} << 30;

}  // namespace quorvane::test
