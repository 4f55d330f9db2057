#include "scan/ScanDisks.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <set>

#include "scan/DiskFormat.h"
#include "scan/DriveLetters.h"
#include "scan/FatLabel.h"
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
// positioning or a short read leaves zeros where nothing was read, and counts
// as a failure.
bool ReadSector(SectorDevice& device, uint64_t position, Sector& sector) {
    sector.fill(0);
    uint32_t transferred = 0;
    return device.Seek(position) && device.Read(sector, transferred) && transferred == SectorSize;
}

// Walks one physical drive the way Windows reads it. Returns false once the
// rows are full.
class DriveWalk {
 public:
    DriveWalk(PartitionRows& rows, SectorDevice& device, uint32_t drive, const DiskIdentity& identity,
              std::vector<DeviceMapEntry>& logicalEntries)
        : rows_(rows), device_(device), drive_(drive), identity_(identity), logicalEntries_(logicalEntries) {}

    // Whether an EBR could not be read (its chain was cut short).
    bool ReadFailed() const { return readFailed_; }

    bool Walk(const Sector& mbr) {
        // Windows reads a disk with a protective entry as GPT: the MBR's
        // entries get no partition numbers there.
        for (uint32_t slot = 0; slot < 4; ++slot) {
            const uint8_t type = ReadPartitionEntry(mbr, slot).type;
            gptDisk_ = gptDisk_ || type == ProtectiveType;
            if (type != EmptyType && !IsExtendedType(type)) ++mbrPartitions_;
        }
        for (uint32_t slot = 0; slot < 4; ++slot) {
            const PartitionEntry entry = ReadPartitionEntry(mbr, slot);
            if (entry.type == EmptyType) continue;
            const bool extended = IsExtendedType(entry.type);
            const int row = AddRow(mbr, 0, IdByteOffsetOfSlot(slot), extended ? texts::KindExtended : texts::KindPrimary);
            if (row < 0) return false;
            rows_.MutableSide(row).partitionStart = uint64_t{entry.firstSector} * SectorSize;
            if (!extended) {
                rows_.SetCell(row, ColumnPartition, Decimal(++shown_));
                if (!gptDisk_) rows_.MutableDeviceMap().push_back({row, drive_, ++primaries_});
            } else if (!WalkChain(uint64_t{entry.firstSector} * SectorSize, row)) {
                return false;
            }
        }
        return true;
    }

 private:
    // A row for the entry at `idByteOffset` - EntryType of `sector`.
    int AddRow(const Sector& sector, uint64_t sectorPosition, uint32_t idByteOffset, const char* kind) {
        const int row = rows_.AppendRow();
        if (row < 0) return row;
        const uint32_t entryOffset = idByteOffset - EntryType;
        const PartitionEntry entry = ReadPartitionEntry(sector, (entryOffset - PartitionTableOffset) / PartitionEntrySize);
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
        side.entrySectorPosition = sectorPosition;
        side.idByteOffset = idByteOffset;
        side.scannedEntry = ReadRawEntry(sector, entryOffset);
        side.tableSigned = HasBootSignature(sector);
        side.disk = identity_;
        side.gptDisk = gptDisk_;
        return row;
    }

    // The links of a chain count from its first EBR (`base`); a logical
    // partition's start counts from its own EBR. As Windows reads a chain, a
    // link entry whose type is not an extended one ends it. A link back to
    // sector 0 or to any sector that already holds a row's entry ends it too,
    // so no two rows share an ID byte and a looping chain ends.
    bool WalkChain(uint64_t base, int containerRow) {
        Sector ebr;
        for (uint64_t current = base; entrySectors_.insert(current).second;) {
            // An EBR that cannot be read, or lies beyond the disk, reads as
            // zeros: a row with ID 00 that ends the chain.
            const bool read = ReadSector(device_, current, ebr);
            if (!read) readFailed_ = true;
            const PartitionEntry logical = ReadPartitionEntry(ebr, 0);
            // A logical partition keeps its container a container; so does an
            // EBR that could not be read (it may hold one), and one that finds
            // no row left in the tables.
            if (logical.type != EmptyType || !read) rows_.MutableSide(containerRow).holdsLogicals = true;
            const int row = AddRow(ebr, current, LogicalIdByteOffset, texts::KindLogical);
            if (row < 0) return false;
            rows_.SetCell(row, ColumnPartition, Decimal(++shown_));
            rows_.MutableSide(row).partitionStart = current + uint64_t{logical.firstSector} * SectorSize;
            // An empty entry keeps its row but Windows gives it no number,
            // nor an entry with a container's type, wherever it lies.
            if (logical.type != EmptyType && !IsExtendedType(logical.type) && !gptDisk_)
                logicalEntries_.push_back({row, drive_, mbrPartitions_ + ++logicals_});
            const PartitionEntry link = ReadPartitionEntry(ebr, 1);
            if (!read || !IsExtendedType(link.type) || link.firstSector == 0) break;
            current = base + uint64_t{link.firstSector} * SectorSize;
        }
        return true;
    }

    PartitionRows& rows_;
    SectorDevice& device_;
    uint32_t drive_;
    DiskIdentity identity_;
    std::vector<DeviceMapEntry>& logicalEntries_;
    std::set<uint64_t> entrySectors_{0};  // sectors holding rows' entries: the MBR and every EBR
    bool gptDisk_ = false;
    uint32_t shown_ = 0;      // S: the number shown in column "分区"
    uint32_t primaries_ = 0;  // P: Windows number of the MBR partitions
    uint32_t logicals_ = 0;   // L: Windows position of a logical partition on its drive
    // Windows numbers all of the MBR's partitions before the logical ones,
    // also those left without a row when the rows are full.
    uint32_t mbrPartitions_ = 0;
    bool readFailed_ = false;
};

// Windows numbers a drive's MBR partitions first, then its logical ones
// (logical L of drive d is partition P(d) + L, as the walk numbered them):
// the map lists the MBR partitions of every drive first.
void AppendLogicalEntries(std::vector<DeviceMapEntry>& deviceMap,
                          std::vector<DeviceMapEntry> logicalEntries) {
    deviceMap.insert(deviceMap.end(), logicalEntries.begin(), logicalEntries.end());
}

// Rows Windows gave no volume answer for show the label of their FAT file
// system as Windows would read it.
void ReadUnansweredLabels(Platform& platform, PartitionRows& rows) {
    std::unique_ptr<SectorDevice> device;
    std::optional<uint32_t> openDrive;
    for (int row = 0; row < rows.Count(); ++row) {
        const RowSideEntries& side = rows.Side(row);
        if (side.volumeSerial || side.scannedId == "00" || IsExtendedId(side.scannedId) || side.gptDisk)
            continue;
        if (openDrive != side.drive) {
            device = platform.OpenPhysicalDrive(side.drive, Access::Read);
            openDrive = side.drive;
        }
        if (!device) continue;
        if (const auto label = ReadFatRootLabel(*device, side.partitionStart))
            rows.SetCell(row, ColumnLabel, *label);
    }
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
    // Drive numbers can have gaps (a disk removed), and the registry's count
    // can be wrong: numbers are tried from 0 until that many drives opened,
    // giving up 16 numbers after the last one that did.
    const int64_t wanted = std::max<int32_t>(count.value_or(0), 0);
    int64_t opened = 0;
    for (int64_t number = 0, lastOpened = -1; opened < wanted && number <= lastOpened + MaxDriveNumberGap &&
                                               !report.rowsFull;
         ++number) {
        const auto drive = static_cast<uint32_t>(number);
        const auto device = platform.OpenPhysicalDrive(drive, Access::Read);
        if (!device) continue;
        ++opened;
        lastOpened = number;
        Sector mbr;
        if (!ReadSector(*device, 0, mbr)) {
            // An empty card reader opens but has no medium: no partitions,
            // and nothing left unread.
            if (!device->NoMedium()) report.unreadDrives.push_back(drive);
            continue;
        }
        const DiskIdentity identity{LoadLe32(mbr.data() + DiskSignatureOffset), device->Size()};
        DriveWalk walk(rows, *device, drive, identity, logicalEntries);
        // Rows stop at RowCapacity: what would not fit is left out.
        report.rowsFull = !walk.Walk(mbr);
        if (walk.ReadFailed()) report.unreadDrives.push_back(drive);
    }
    report.drivesCounted = static_cast<int>(wanted);
    report.drivesOpened = static_cast<int>(opened);
    report.drivesMissing = opened < wanted;
    if (opened > 0) {  // without disks there is nothing to match letters to
        AppendLogicalEntries(rows.MutableDeviceMap(), std::move(logicalEntries));
        AssignDriveLetters(platform, rows);
        ReadVolumeInfo(platform, rows);
        ReadUnansweredLabels(platform, rows);
    }
    for (int row = 0; row < rows.Count(); ++row) rows.MutableSide(row).scannedLabel = rows.Cell(row, ColumnLabel);
    return report;
}

}  // namespace quorvane
