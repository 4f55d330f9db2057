#include "scan/SystemPartitions.h"

#include <cstdio>
#include <set>

#include "scan/GptTypes.h"

namespace quorvane {

namespace {

constexpr std::string_view EfiSystemId = "EF";

// "\Device\Harddisk0\Partition1": a partition of Windows' numbering.
bool ParsePartitionDevice(const std::string& device, uint32_t& drive, uint32_t& partition) {
    unsigned d = 0, p = 0;
    int consumed = 0;
    if (std::sscanf(device.c_str(), "\\Device\\Harddisk%u\\Partition%u%n", &d, &p, &consumed) != 2 ||
        static_cast<size_t>(consumed) != device.size())
        return false;
    drive = d;
    partition = p;
    return true;
}

void Mark(PartitionRows& rows, int row) {
    if (rows.Exists(row) && !rows.Side(row).otherScheme) rows.MutableSide(row).keepsWindowsRunning = true;
}

// The system partition is named either by its partition device or by its
// volume device ("\Device\HarddiskVolume1"), whose extent Windows tells.
void MarkSystemPartition(Platform& platform, PartitionRows& rows) {
    const std::string device = platform.SystemPartition();
    if (device.empty()) return;
    uint32_t drive = 0, partition = 0;
    if (ParsePartitionDevice(device, drive, partition)) {
        for (const DeviceMapEntry& entry : rows.DeviceMap())
            if (entry.drive == drive && entry.partition == partition) Mark(rows, entry.row);
        return;
    }
    const VolumeExtent extent = platform.DeviceExtent(device);
    if (extent.startingOffset == 0) return;  // the query failed
    for (int row = 0; row < rows.Count(); ++row)
        if (rows.Side(row).drive == extent.diskNumber &&
            static_cast<int64_t>(rows.Side(row).partitionStart) == extent.startingOffset)
            Mark(rows, row);
}

}  // namespace

char LetterOfPath(const std::string& path) {
    std::string_view text = path;
    if (text.substr(0, 4) == "\\??\\") text.remove_prefix(4);
    if (text.size() < 2 || text[1] != ':') return 0;
    const char letter = text[0];
    if (letter >= 'a' && letter <= 'z') return static_cast<char>(letter - 'a' + 'A');
    return letter >= 'A' && letter <= 'Z' ? letter : 0;
}

void MarkSystemPartitions(Platform& platform, PartitionRows& rows) {
    const char windows = LetterOfPath(platform.WindowsDirectory());
    std::set<char> letters{windows};
    for (const std::string& pageFile : platform.PageFiles()) letters.insert(LetterOfPath(pageFile));
    letters.erase(0);
    std::set<uint32_t> windowsDrives;
    // By the volume's extent, not the row's letter: a volume may have two
    // letters, and the row shows only one of them.
    for (const char letter : letters) {
        const VolumeExtent extent = platform.FirstDiskExtent(letter);
        if (extent.startingOffset == 0) continue;  // the query failed
        for (int row = 0; row < rows.Count(); ++row) {
            const RowSideEntries& side = rows.Side(row);
            if (side.drive != extent.diskNumber || static_cast<int64_t>(side.partitionStart) != extent.startingOffset)
                continue;
            Mark(rows, row);
            if (letter == windows && !side.otherScheme) windowsDrives.insert(side.drive);
        }
    }
    MarkSystemPartition(platform, rows);
    for (int row = 0; row < rows.Count(); ++row) {
        const RowSideEntries& side = rows.Side(row);
        if (windowsDrives.count(side.drive) && side.scannedId == (side.gpt ? EfiSystemCode : EfiSystemId))
            Mark(rows, row);
    }
}

}  // namespace quorvane
