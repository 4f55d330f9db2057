#include "scan/GptWalk.h"

#include <algorithm>
#include <cstring>

#include "scan/Crc32.h"

namespace quorvane {

namespace {

constexpr char Signature[8] = {'E', 'F', 'I', ' ', 'P', 'A', 'R', 'T'};
constexpr uint32_t MinHeaderSize = 92;
// No table needs more: 128 entries of 128 bytes are usual.
constexpr uint64_t MaxArrayBytes = uint64_t{1} << 20;

bool ReadAt(SectorDevice& device, uint64_t position, std::span<uint8_t> buffer) {
    uint32_t transferred = 0;
    return device.Seek(position) && device.Read(buffer, transferred) && transferred == buffer.size();
}

}  // namespace

uint32_t GptHeaderCrc(const Sector& header) {
    const uint32_t size = std::min<uint32_t>(LoadLe32(header.data() + GptHeaderSizeField), SectorSize);
    Sector copy = header;
    StoreLe32(copy.data() + GptHeaderCrcField, 0);
    return Crc32(std::span(copy).first(size));
}

std::optional<GptTable> ReadGptTable(SectorDevice& device, uint64_t lba, uint64_t diskSectors) {
    GptTable table;
    table.unit = device.LogicalSectorSize();
    table.headerLba = lba;
    table.headerSector.resize(table.unit);
    if (!ReadAt(device, lba * table.unit, table.headerSector)) return std::nullopt;
    table.header = Head(table.headerSector);
    const uint8_t* h = table.header.data();
    const uint32_t headerSize = LoadLe32(h + GptHeaderSizeField);
    if (std::memcmp(h, Signature, sizeof Signature) != 0 || headerSize < MinHeaderSize || headerSize > SectorSize ||
        LoadLe32(h + GptHeaderCrcField) != GptHeaderCrc(table.header) || LoadLe64(h + GptMyLbaField) != lba)
        return std::nullopt;
    std::copy_n(h + GptDiskGuidField, table.diskGuid.size(), table.diskGuid.begin());
    table.alternateLba = LoadLe64(h + GptAlternateLbaField);
    table.entryLba = LoadLe64(h + GptEntryLbaField);
    table.entryCount = LoadLe32(h + GptEntryCountField);
    table.entrySize = LoadLe32(h + GptEntrySizeField);
    // Entries of 128 bytes times a power of two, none straddling a sector.
    if (table.entrySize < 128 || table.entrySize > table.unit || (table.entrySize & (table.entrySize - 1)) != 0 ||
        table.entryCount == 0)
        return std::nullopt;
    const uint64_t bytes = uint64_t{table.entryCount} * table.entrySize;
    const uint64_t sectors = (bytes + table.unit - 1) / table.unit;
    if (bytes > MaxArrayBytes || table.entryLba == 0 || table.entryLba >= diskSectors ||
        diskSectors - table.entryLba < sectors)
        return std::nullopt;
    table.array.resize(sectors * table.unit);
    if (!ReadAt(device, table.entryLba * table.unit, table.array)) return std::nullopt;
    if (LoadLe32(h + GptArrayCrcField) != Crc32(std::span(table.array).first(bytes))) return std::nullopt;
    return table;
}

GptRead ReadGpt(SectorDevice& device, std::optional<uint64_t> diskSize) {
    GptRead read;
    const uint64_t diskSectors = diskSize.value_or(0) / device.LogicalSectorSize();
    if (diskSectors < 3) return read;
    read.table = ReadGptTable(device, 1, diskSectors);
    if (!read.table) {
        read.table = ReadGptTable(device, diskSectors - 1, diskSectors);
        read.fromBackup = read.table.has_value();
    }
    return read;
}

}  // namespace quorvane
