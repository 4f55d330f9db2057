// The partition rows: the whole data model of the program. One row per
// partition-table entry; ten text cells (the columns of the window's list)
// plus the side-table entries that later writes need. The window's list only
// shows this model; it keeps no copy of its own.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scan/DiskFormat.h"
#include "scan/GptTypes.h"

namespace quorvane {

enum Column : int {
    ColumnLetter,     // "盘符": drive letter without colon
    ColumnLabel,      // "卷标"
    ColumnDisk,       // "磁盘": physical drive number + 1
    ColumnPartition,  // "分区": shown number, empty for an extended container
    ColumnId,         // "分区标记": two upper-case hexadecimal digits
    ColumnIdName,     // "分区格式"
    ColumnKind,       // "分区类型"
    ColumnSizeMb,     // "容量（M）"
    ColumnFreeMb,     // "剩余空间（M）"
    ColumnDriveType,  // "磁盘类型"
};
inline constexpr int ColumnCount = 10;

// The side tables of the window hold this many rows; the scan never makes more.
inline constexpr int RowCapacity = 261;

inline constexpr int NoImage = -1;
inline constexpr int DriveImage = 0;  // the one picture of the image list

// What tells one disk from another behind the same drive number (a card
// swapped in a reader): checked again before anything is written to it.
struct DiskIdentity {
    uint32_t signature = 0;        // the MBR's disk signature
    std::optional<uint64_t> size;  // in bytes, when the system tells it
    std::optional<Guid> gptGuid;   // the disk GUID of a GPT disk
    uint32_t sectorSize = SectorSize;  // logical
    bool operator==(const DiskIdentity&) const = default;
};

// A GPT partition's entry as the scan read it.
struct GptEntrySide {
    uint32_t index = 0;          // in the entry array
    std::vector<uint8_t> entry;  // its bytes (the table's entry size)
    Guid typeGuid{};
    uint64_t attributes = 0;
};

// Which GPT header the protective entry's row was read with.
enum class GptHeaderUse { None, Primary, Backup };

// What kind of entry a row is (column "分区类型" before its states).
enum class EntryKind : uint8_t { Primary, Extended, Logical, Gpt };

// Side-table entries of one row, written only by the scan.
struct RowSideEntries {
    uint32_t drive = 0;                // physical drive number ("磁盘" − 1)
    uint64_t entrySectorPosition = 0;  // `EntrySectorPosition`: sector holding the entry
    uint32_t idByteOffset = 0;         // `IdByteOffset` within that sector
    uint64_t partitionStart = 0;       // shown as `PartitionStartText`
    std::string scannedId;             // `ScannedIds`: column 4 as the scan set it
    std::string scannedLabel;          // `ScannedLabels`: column 1 at the end of the scan
    RawEntry scannedEntry{};           // the whole 16-byte entry as read
    bool tableSigned = false;          // the entry's sector ends in 55 AA
    DiskIdentity disk;
    EntryKind kind = EntryKind::Primary;
    bool active = false;         // the entry's boot indicator is 80
    bool gptDisk = false;        // Windows reads the drive as GPT: its MBR entries are no partitions
    bool holdsLogicals = false;  // an extended container with a non-empty logical partition
    // A hybrid MBR's other table: Windows reads the drive's MBR and this is a
    // GPT entry, or it reads the GPT and this is an MBR entry. Never a
    // partition to Windows: listed without a number, never changed.
    bool otherScheme = false;
    // Windows runs from it: its directory, a page file, the system partition,
    // or an EFI system partition of the disk that holds Windows.
    bool keepsWindowsRunning = false;
    // Windows' own layout of the drive differs from its tables as read.
    bool layoutDiffers = false;
    std::optional<GptEntrySide> gpt;              // a GPT partition's row
    GptHeaderUse gptHeader = GptHeaderUse::None;  // the protective entry's row
    // What Windows told of the row's volume, when it answered.
    std::optional<uint32_t> volumeSerial;
    std::string fileSystem;
};

// One `DeviceMap` entry: row `row` is partition `partition` of physical drive
// `drive` in Windows' numbering (the N of \Device\HarddiskD\PartitionN).
struct DeviceMapEntry {
    int row = 0;
    uint32_t drive = 0;
    uint32_t partition = 0;
    bool operator==(const DeviceMapEntry&) const = default;
};

// Told of every change, so a view can mirror the rows.
class RowObserver {
 public:
    virtual ~RowObserver() = default;
    virtual void OnRowsCleared() = 0;
    virtual void OnRowAppended(int row) = 0;
    virtual void OnCellChanged(int row, int column) = 0;
    virtual void OnImageChanged(int row) = 0;
};

class PartitionRows {
 public:
    int Count() const { return static_cast<int>(rows_.size()); }
    bool Exists(int row) const { return row >= 0 && row < Count(); }

    // Reading a cell of a row that does not exist gives the empty text;
    // writing it changes nothing.
    const std::string& Cell(int row, int column) const;
    void SetCell(int row, int column, std::string_view text);
    int Image(int row) const { return Exists(row) ? rows_[row].image : NoImage; }
    void SetImage(int row, int image);

    // A row has a pending change while its cell differs from what the last
    // scan recorded (exact comparison of whole texts).
    bool HasPendingIdChange(int row) const;
    bool HasPendingLabelChange(int row) const;
    // A GPT row's attributes: the pending value where one was set, else as
    // the scan read them (0 for an MBR row). Setting the scanned value drops
    // the pending change; the kind cell shows the new state.
    uint64_t Attributes(int row) const;
    bool HasPendingAttributeChange(int row) const;
    void SetPendingAttributes(int row, uint64_t attributes);

    const RowSideEntries& Side(int row) const { return rows_.at(row).side; }
    const std::vector<DeviceMapEntry>& DeviceMap() const { return deviceMap_; }

    // Rebuilding, for the scan only.
    void Clear();
    // A new last row with empty cells and no image; -1 once RowCapacity rows exist.
    int AppendRow();
    RowSideEntries& MutableSide(int row) { return rows_.at(row).side; }
    std::vector<DeviceMapEntry>& MutableDeviceMap() { return deviceMap_; }

    void SetObserver(RowObserver* observer) { observer_ = observer; }

 private:
    struct Row {
        std::array<std::string, ColumnCount> cells;
        int image = NoImage;
        RowSideEntries side;
        std::optional<uint64_t> pendingAttributes;
    };
    std::vector<Row> rows_;
    std::vector<DeviceMapEntry> deviceMap_;
    RowObserver* observer_ = nullptr;
};

// Drive letter of a row, or 0 when its letter cell is empty.
char RowLetter(const PartitionRows& rows, int row);

// Column "分区类型": the kind of entry, then its states: "，系统", "，活动",
// a GPT partition's first state of its `attributes` (隐藏, 无盘符, 必需,
// 只读), and "，Windows 不读取".
std::string KindText(const RowSideEntries& side, uint64_t attributes);

}  // namespace quorvane
