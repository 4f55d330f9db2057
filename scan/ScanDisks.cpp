#include "scan/ScanDisks.h"

#include <cstdio>
#include <optional>
#include <set>

#include "apply/Fat32BootLabel.h"
#include "scan/DiskFormat.h"
#include "scan/DriveLetters.h"
#include "scan/IdNameTable.h"
#include "text/Texts.h"

namespace quorvane {

namespace {

std::string Decimal(uint64_t value) {
    return std::to_string(value);
}

std::string IdText(uint8_t type) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", type);
    return text;
}

// Reads the sector at `position` into a zero-filled buffer. A failed
// positioning or read leaves zeros; what a short read leaves unread stays zero.
bool ReadSector(SectorDevice& device, uint64_t position, Sector& sector) {
    sector.fill(0);
    uint32_t transferred = 0;
    return device.Seek(position) && device.Read(sector, transferred);
}

// Walks one physical drive. Returns false once the rows are full.
class DriveWalk {
 public:
    DriveWalk(PartitionRows& rows, SectorDevice& device, uint32_t drive,
              std::vector<DeviceMapEntry>& logicalEntries)
        : rows_(rows), device_(device), drive_(drive), logicalEntries_(logicalEntries) {}

    // Whether an EBR could not be read (its chain was cut short).
    bool ReadFailed() const { return readFailed_; }

    bool Walk(const Sector& mbr) {
        for (uint32_t slot = 0; slot < 4; ++slot) {
            const PartitionEntry entry = ReadPartitionEntry(mbr, slot);
            if (entry.type == EmptyType) continue;
            const bool extended = IsExtendedType(entry.type);
            const int row = AddRow(entry, extended ? texts::KindExtended : texts::KindPrimary);
            if (row < 0) return false;
            auto& side = rows_.MutableSide(row);
            side.entrySectorPosition = 0;
            side.idByteOffset = IdByteOffsetOfSlot(slot);
            side.partitionStart = uint64_t{entry.firstSector} * SectorSize;
            if (!extended) {
                rows_.SetCell(row, ColumnPartition, Decimal(++shown_));
                rows_.MutableDeviceMap().push_back({row, drive_, ++primaries_});
            } else if (!WalkChain(uint64_t{entry.firstSector} * SectorSize)) {
                return false;
            }
        }
        return true;
    }

 private:
    int AddRow(const PartitionEntry& entry, const char* kind) {
        const int row = rows_.AppendRow();
        if (row < 0) return row;
        const std::string id = IdText(entry.type);
        rows_.SetCell(row, ColumnDisk, Decimal(drive_ + 1));
        rows_.SetCell(row, ColumnId, id);
        rows_.SetCell(row, ColumnIdName, LookupIdName(id));
        std::string kindText = kind;
        if (entry.bootIndicator == ActiveBootIndicator) kindText += texts::ActiveSuffix;
        rows_.SetCell(row, ColumnKind, kindText);
        rows_.SetCell(row, ColumnSizeMb, MegabytesFromSectors(entry.sectorCount));
        auto& side = rows_.MutableSide(row);
        side.drive = drive_;
        side.scannedId = id;
        return row;
    }

    // The links of a chain count from its first EBR (`base`); a logical
    // partition's start counts from its own EBR. A link of 0 ends the chain,
    // and so does a link to an EBR already visited, so a looping chain ends.
    bool WalkChain(uint64_t base) {
        std::set<uint64_t> visited;
        Sector ebr;
        for (uint64_t current = base; visited.insert(current).second;) {
            // An EBR that cannot be read, or lies beyond the disk, reads as zeros:
            // a row with ID 00 whose zero link ends the chain.
            if (!ReadSector(device_, current, ebr)) readFailed_ = true;
            const PartitionEntry logical = ReadPartitionEntry(ebr, 0);
            const int row = AddRow(logical, texts::KindLogical);
            if (row < 0) return false;
            rows_.SetCell(row, ColumnPartition, Decimal(++shown_));
            logicalEntries_.push_back({row, drive_, ++logicals_});
            auto& side = rows_.MutableSide(row);
            side.entrySectorPosition = current;
            side.idByteOffset = LogicalIdByteOffset;
            side.partitionStart = current + uint64_t{logical.firstSector} * SectorSize;
            const uint32_t next = ReadPartitionEntry(ebr, 1).firstSector;
            if (next == 0) break;
            current = base + uint64_t{next} * SectorSize;
        }
        return true;
    }

    PartitionRows& rows_;
    SectorDevice& device_;
    uint32_t drive_;
    std::vector<DeviceMapEntry>& logicalEntries_;
    uint32_t shown_ = 0;      // S: the number shown in column "分区"
    uint32_t primaries_ = 0;  // P: Windows number of the MBR partitions
    uint32_t logicals_ = 0;   // L: position of a logical partition on its drive
    bool readFailed_ = false;
};

// Windows numbers a drive's MBR partitions first, then its logical ones:
// logical L of drive d is partition P(d) + L.
void AppendLogicalEntries(std::vector<DeviceMapEntry>& deviceMap,
                          std::vector<DeviceMapEntry> logicalEntries) {
    for (DeviceMapEntry& entry : logicalEntries) {
        uint32_t primaries = 0;
        for (const DeviceMapEntry& mbrEntry : deviceMap)
            if (mbrEntry.drive == entry.drive) primaries = mbrEntry.partition;
        entry.partition += primaries;
    }
    deviceMap.insert(deviceMap.end(), logicalEntries.begin(), logicalEntries.end());
}

}  // namespace

std::string MegabytesFromSectors(uint64_t sectors) {
    return Decimal(DivideRoundHalfEven(sectors, 2048));
}

std::string MegabytesFromBytes(uint64_t bytes) {
    return Decimal(DivideRoundHalfEven(bytes, uint64_t{1024} * 1024));
}

ScanReport ScanDisks(Platform& platform, PartitionRows& rows) {
    rows.Clear();
    ScanReport report;
    std::vector<DeviceMapEntry> logicalEntries;
    const std::optional<int32_t> count = platform.DiskCount();
    report.diskCountRead = count.has_value();
    const int32_t diskCount = count.value_or(0);
    for (int32_t drive = 0; drive < diskCount && !report.rowsFull; ++drive) {
        const auto number = static_cast<uint32_t>(drive);
        // A drive that cannot be opened or read gives no rows; the following
        // drives keep their numbers.
        const auto device = platform.OpenPhysicalDrive(number, Access::Read);
        Sector mbr;
        if (!device || !ReadSector(*device, 0, mbr)) {
            report.unreadDrives.push_back(number);
            continue;
        }
        DriveWalk walk(rows, *device, number, logicalEntries);
        // Rows stop at RowCapacity: what would not fit is left out.
        report.rowsFull = !walk.Walk(mbr);
        if (walk.ReadFailed()) report.unreadDrives.push_back(number);
    }
    if (diskCount > 0) {  // without disks there is nothing to match letters to
        AppendLogicalEntries(rows.MutableDeviceMap(), std::move(logicalEntries));
        AssignDriveLetters(platform, rows);
        ReadVolumeInfo(platform, rows);
    }
    for (int row = 0; row < rows.Count(); ++row) {
        if (IsFat32Id(rows.Cell(row, ColumnId)))
            rows.SetCell(row, ColumnLabel, ReadFat32BootLabel(platform, rows, row));
        rows.MutableSide(row).scannedLabel = rows.Cell(row, ColumnLabel);
    }
    return report;
}

}  // namespace quorvane
