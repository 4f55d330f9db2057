#include "scan/WindowsLayout.h"

#include <algorithm>
#include <optional>

#include "scan/DiskFormat.h"
#include "scan/GptWalk.h"

namespace quorvane {

namespace {

// A numbered partition as the program read it.
struct ReadPartition {
    size_t map = 0;  // its DeviceMap entry
    uint64_t start = 0;
    uint64_t length = 0;
};

std::optional<ReadPartition> PartitionOfRow(const PartitionRows& rows, size_t map) {
    const DeviceMapEntry& entry = rows.DeviceMap()[map];
    const RowSideEntries& side = rows.Side(entry.row);
    const uint64_t unit = side.disk.sectorSize;
    ReadPartition read{map, side.partitionStart, 0};
    if (side.gpt) {
        const uint64_t first = LoadLe64(side.gpt->entry.data() + GptEntryFirstLba);
        const uint64_t last = LoadLe64(side.gpt->entry.data() + GptEntryLastLba);
        read.length = last >= first ? (last - first + 1) * unit : 0;
    } else {
        read.length = uint64_t{LoadLe32(side.scannedEntry.data() + EntrySectorCount)} * unit;
    }
    return read;
}

bool SameType(const RowSideEntries& side, const LayoutEntry& entry, PartitionStyle style) {
    if (side.gpt) return style == PartitionStyle::Gpt && entry.gptType == side.gpt->typeGuid;
    return style == PartitionStyle::Mbr && entry.mbrType == side.scannedEntry[EntryType];
}

// Whether Windows' numbered partitions are exactly the program's, and if so
// Windows' number of each DeviceMap entry.
bool Agree(const PartitionRows& rows, uint32_t drive, const DriveLayout& layout, std::vector<uint32_t>& numbers) {
    std::vector<ReadPartition> read;
    bool gpt = false;
    for (size_t map = 0; map < rows.DeviceMap().size(); ++map) {
        if (rows.DeviceMap()[map].drive != drive) continue;
        read.push_back(*PartitionOfRow(rows, map));
        gpt = gpt || rows.Side(rows.DeviceMap()[map].row).gpt.has_value();
    }
    for (int row = 0; row < rows.Count(); ++row)
        gpt = gpt || (rows.Side(row).drive == drive && rows.Side(row).gptDisk);
    std::vector<const LayoutEntry*> windows;
    for (const LayoutEntry& entry : layout.entries)
        if (entry.number != 0) windows.push_back(&entry);
    if (windows.empty() && read.empty()) return true;  // nothing either reader calls a partition
    if (layout.style != (gpt ? PartitionStyle::Gpt : PartitionStyle::Mbr) || windows.size() != read.size())
        return false;
    for (const LayoutEntry* entry : windows) {
        const auto sameStart = [entry](const LayoutEntry* other) { return other->offset == entry->offset; };
        if (std::count_if(windows.begin(), windows.end(), sameStart) != 1) return false;
        const auto match = std::find_if(read.begin(), read.end(),
                                        [entry](const ReadPartition& own) { return own.start == entry->offset; });
        if (match == read.end() || match->length != entry->length ||
            !SameType(rows.Side(rows.DeviceMap()[match->map].row), *entry, layout.style))
            return false;
        numbers[match->map] = entry->number;
    }
    return true;
}

}  // namespace

std::vector<uint32_t> CompareWithWindowsLayouts(PartitionRows& rows, const std::map<uint32_t, DriveLayout>& layouts) {
    std::vector<uint32_t> differing;
    std::vector<uint32_t> numbers(rows.DeviceMap().size(), 0);
    for (const auto& [drive, layout] : layouts) {
        if (Agree(rows, drive, layout, numbers)) continue;
        differing.push_back(drive);
        for (int row = 0; row < rows.Count(); ++row)
            if (rows.Side(row).drive == drive) rows.MutableSide(row).layoutDiffers = true;
    }
    for (size_t map = 0; map < numbers.size(); ++map)
        if (numbers[map] != 0 && !rows.Side(rows.DeviceMap()[map].row).layoutDiffers)
            rows.MutableDeviceMap()[map].partition = numbers[map];
    return differing;
}

}  // namespace quorvane
