#include "scan/ScanDisks.h"

#include <algorithm>
#include <map>
#include <cstdio>
#include <memory>
#include <optional>
#include <set>

#include "scan/DiskFormat.h"
#include "scan/DriveLetters.h"
#include "scan/FatLabel.h"
#include "scan/GptWalk.h"
#include "scan/IdNameTable.h"
#include "scan/SystemPartitions.h"
#include "scan/WindowsLayout.h"
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
    std::vector<uint8_t> whole(device.LogicalSectorSize(), 0);
    uint32_t transferred = 0;
    const bool read = device.Seek(position) && device.Read(whole, transferred) && transferred == whole.size();
    sector = Head(whole);
    return read;
}

// Walks one physical drive the way Windows reads it. Returns false once the
// rows are full.
class DriveWalk {
 public:
    DriveWalk(PartitionRows& rows, SectorDevice& device, uint32_t drive, const DiskIdentity& identity,
              std::vector<DeviceMapEntry>& logicalEntries)
        : rows_(rows), device_(device), drive_(drive), identity_(identity), logicalEntries_(logicalEntries) {}

    const DiskIdentity& Identity() const { return identity_; }
    // Whether an EBR could not be read (its chain was cut short).
    bool ReadFailed() const { return readFailed_; }

    // `layout`: Windows' own view of the drive, when it answers.
    bool Walk(const Sector& mbr, const std::optional<DriveLayout>& layout) {
        bool protective = false, others = false;
        for (uint32_t slot = 0; slot < 4; ++slot) {
            const uint8_t type = ReadPartitionEntry(mbr, slot).type;
            protective = protective || type == ProtectiveType;
            others = others || (type != EmptyType && type != ProtectiveType);
            if (type != EmptyType && !IsExtendedType(type)) ++mbrPartitions_;
        }
        // A protective entry alone makes a GPT disk. Beside other entries it
        // is a hybrid MBR, which Windows reads as an MBR ("Windows interprets
        // hybrid MBR disks as having an MBR partition table": rEFInd's gptsync
        // README, by the author of GPT fdisk) unless its own layout says GPT.
        gptDisk_ = protective && (!others || (layout && layout->style == PartitionStyle::Gpt));
        for (uint32_t slot = 0; slot < 4; ++slot) {
            const PartitionEntry entry = ReadPartitionEntry(mbr, slot);
            if (entry.type == EmptyType) continue;
            const bool extended = IsExtendedType(entry.type);
            const int row = AddRow(mbr, 0, IdByteOffsetOfSlot(slot), extended ? EntryKind::Extended : EntryKind::Primary);
            if (row < 0) return false;
            rows_.MutableSide(row).partitionStart = uint64_t{entry.firstSector} * unit_;
            if (entry.type == ProtectiveType && gptDisk_) {
                // No partition of its own: the GPT partitions follow it.
                if (!WalkGpt(row)) return false;
            } else if (!extended) {
                if (!gptDisk_) {
                    rows_.SetCell(row, ColumnPartition, Decimal(++shown_));
                    rows_.MutableDeviceMap().push_back({row, drive_, ++primaries_});
                }
                // A hybrid read as an MBR still lists its GPT, as a table
                // Windows does not read.
                if (entry.type == ProtectiveType && !WalkGpt(row)) return false;
            } else if (!WalkChain(uint64_t{entry.firstSector} * unit_, row)) {
                return false;
            }
        }
        return true;
    }

 private:
    // The GPT partitions, in entry order, numbered 1..N as Windows numbers
    // them; a second protective entry lists nothing again.
    bool WalkGpt(int protectiveRow) {
        if (gptWalked_) return true;
        gptWalked_ = true;
        const GptRead read = ReadGpt(device_, identity_.size);
        auto& protective = rows_.MutableSide(protectiveRow);
        if (!read.table && !gptDisk_) return true;  // a hybrid's GPT that cannot be read: nothing to list
        if (!read.table) {
            // The partitions cannot be listed; a command for every partition
            // with some ID cannot be sure it reached them all.
            readFailed_ = true;
            rows_.SetCell(protectiveRow, ColumnIdName, texts::GptDamagedName);
            return true;
        }
        const GptTable& table = *read.table;
        protective.gptHeader = read.fromBackup ? GptHeaderUse::Backup : GptHeaderUse::Primary;
        if (read.fromBackup) rows_.SetCell(protectiveRow, ColumnIdName, texts::GptFromBackupName);
        identity_.gptGuid = table.diskGuid;
        protective.disk = identity_;
        uint32_t number = 0;
        for (uint32_t index = 0; index < table.entryCount; ++index) {
            const uint8_t* entry = table.Entry(index);
            Guid type{};
            std::copy_n(entry + GptEntryTypeGuid, type.size(), type.begin());
            if (type == Guid{}) continue;  // an unused entry
            const int row = rows_.AppendRow();
            if (row < 0) return false;
            const GptType* known = FindGptTypeByGuid(type);
            const std::string code(known ? known->code : UnknownGptCode);
            const uint64_t first = LoadLe64(entry + GptEntryFirstLba), last = LoadLe64(entry + GptEntryLastLba);
            rows_.SetCell(row, ColumnDisk, Decimal(drive_ + 1));
            if (gptDisk_) rows_.SetCell(row, ColumnPartition, Decimal(++number));
            rows_.SetCell(row, ColumnId, code);
            rows_.SetCell(row, ColumnIdName, known ? known->name : texts::GptUnknownName);
            rows_.SetCell(row, ColumnSizeMb, MegabytesFromBytes(last >= first ? (last - first + 1) * unit_ : 0));
            auto& side = rows_.MutableSide(row);
            side.kind = EntryKind::Gpt;
            side.otherScheme = !gptDisk_;  // a hybrid's GPT, when Windows reads its MBR
            side.drive = drive_;
            side.scannedId = code;
            const uint64_t offset = uint64_t{index} * table.entrySize;
            side.entrySectorPosition = (table.entryLba + offset / unit_) * unit_;
            side.idByteOffset = static_cast<uint32_t>(offset % unit_);
            side.partitionStart = first * unit_;
            side.disk = identity_;
            side.gpt = GptEntrySide{index, std::vector<uint8_t>(entry, entry + table.entrySize), type,
                                    LoadLe64(entry + GptEntryAttributes)};
            if (gptDisk_) rows_.MutableDeviceMap().push_back({row, drive_, number});
        }
        return true;
    }

    // A row for the entry at `idByteOffset` - EntryType of `sector`.
    int AddRow(const Sector& sector, uint64_t sectorPosition, uint32_t idByteOffset, EntryKind kind) {
        const int row = rows_.AppendRow();
        if (row < 0) return row;
        const uint32_t entryOffset = idByteOffset - EntryType;
        const PartitionEntry entry = ReadPartitionEntry(sector, (entryOffset - PartitionTableOffset) / PartitionEntrySize);
        const std::string id = IdText(entry.type);
        rows_.SetCell(row, ColumnDisk, Decimal(drive_ + 1));
        rows_.SetCell(row, ColumnId, id);
        rows_.SetCell(row, ColumnIdName, LookupIdName(id));
        rows_.SetCell(row, ColumnSizeMb, MegabytesFromBytes(uint64_t{entry.sectorCount} * unit_));
        auto& side = rows_.MutableSide(row);
        side.kind = kind;
        side.active = entry.bootIndicator == ActiveBootIndicator;
        // On a GPT disk every MBR entry but the protective one is a hybrid's
        // table Windows does not read.
        side.otherScheme = gptDisk_ && !(sectorPosition == 0 && entry.type == ProtectiveType);
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
            const int row = AddRow(ebr, current, LogicalIdByteOffset, EntryKind::Logical);
            if (row < 0) {
                // The chain goes on past the last row: what it holds is unknown.
                rows_.MutableSide(containerRow).holdsLogicals = true;
                return false;
            }
            if (!gptDisk_) rows_.SetCell(row, ColumnPartition, Decimal(++shown_));
            rows_.MutableSide(row).partitionStart = current + uint64_t{logical.firstSector} * unit_;
            // An empty entry keeps its row but Windows gives it no number,
            // nor an entry with a container's type, wherever it lies.
            if (logical.type != EmptyType && !IsExtendedType(logical.type) && !gptDisk_)
                logicalEntries_.push_back({row, drive_, mbrPartitions_ + ++logicals_});
            const PartitionEntry link = ReadPartitionEntry(ebr, 1);
            if (!read || !IsExtendedType(link.type) || link.firstSector == 0) break;
            current = base + uint64_t{link.firstSector} * unit_;
        }
        return true;
    }

    PartitionRows& rows_;
    SectorDevice& device_;
    uint32_t drive_;
    uint32_t unit_ = device_.LogicalSectorSize();  // every LBA counts in these
    DiskIdentity identity_;  // gains the GPT disk GUID once the GPT is read
    std::vector<DeviceMapEntry>& logicalEntries_;
    std::set<uint64_t> entrySectors_{0};  // sectors holding rows' entries: the MBR and every EBR
    bool gptDisk_ = false;
    bool gptWalked_ = false;
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
void ReadUnansweredLabels(Platform& platform, PartitionRows& rows, TableCache* cache) {
    std::unique_ptr<SectorDevice> device;
    std::optional<uint32_t> openDrive;
    for (int row = 0; row < rows.Count(); ++row) {
        const RowSideEntries& side = rows.Side(row);
        if (side.volumeSerial || side.scannedId == "00" || IsExtendedId(side.scannedId) || side.gptDisk ||
            side.otherScheme)
            continue;
        if (openDrive != side.drive) {
            device = cache ? cache->Open(platform, side.drive) : platform.OpenPhysicalDrive(side.drive, Access::Read);
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

ScanReport ScanDisks(Platform& platform, PartitionRows& rows, TableCache* cache) {
    rows.Clear();
    ScanReport report;
    std::vector<DeviceMapEntry> logicalEntries;
    std::map<uint32_t, DriveLayout> layouts;  // Windows' own view, where it answers
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
        const auto device = cache ? cache->Open(platform, drive) : platform.OpenPhysicalDrive(drive, Access::Read);
        if (!device) continue;
        ++opened;
        lastOpened = number;
        // Only 512- and 4096-byte sectors are known to hold these tables.
        const uint32_t unit = device->LogicalSectorSize();
        if (unit != SectorSize && unit != LargeSectorSize) {
            report.oddSectorDrives.push_back(drive);
            continue;
        }
        Sector mbr;
        if (!ReadSector(*device, 0, mbr)) {
            // An empty card reader opens but has no medium: no partitions,
            // and nothing left unread.
            if (!device->NoMedium()) report.unreadDrives.push_back(drive);
            continue;
        }
        const DiskIdentity identity{LoadLe32(mbr.data() + DiskSignatureOffset), device->Size(), std::nullopt,
                                    device->LogicalSectorSize()};
        // The scan never asks Windows to read a layout again: that would drop
        // the volumes mounted on it.
        const std::optional<DriveLayout> layout = platform.QueryDriveLayout(drive);
        if (layout) layouts[drive] = *layout;
        DriveWalk walk(rows, *device, drive, identity, logicalEntries);
        const int firstRow = rows.Count();
        // Rows stop at RowCapacity: what would not fit is left out.
        report.rowsFull = !walk.Walk(mbr, layout);
        // A hybrid MBR's GPT is read at its protective entry: the rows of the
        // slots before it take the disk's whole identity too.
        for (int row = firstRow; row < rows.Count(); ++row) rows.MutableSide(row).disk = walk.Identity();
        report.drives.push_back({drive, walk.Identity()});
        if (walk.ReadFailed()) report.unreadDrives.push_back(drive);
    }
    report.drivesCounted = static_cast<int>(wanted);
    report.drivesOpened = static_cast<int>(opened);
    report.drivesMissing = opened < wanted;
    if (opened > 0) {  // without disks there is nothing to match letters to
        AppendLogicalEntries(rows.MutableDeviceMap(), std::move(logicalEntries));
        report.layoutDiffers = CompareWithWindowsLayouts(rows, layouts);
        AssignDriveLetters(platform, rows);
        ReadVolumeInfo(platform, rows);
        ReadUnansweredLabels(platform, rows, cache);
        MarkSystemPartitions(platform, rows);
    }
    for (int row = 0; row < rows.Count(); ++row) {
        rows.MutableSide(row).scannedLabel = rows.Cell(row, ColumnLabel);
        rows.SetCell(row, ColumnKind, KindText(rows.Side(row), rows.Attributes(row)));
    }
    return report;
}

}  // namespace quorvane
