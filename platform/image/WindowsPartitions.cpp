#include "platform/image/WindowsPartitions.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <set>
#include <vector>

#include "scan/Crc32.h"

namespace quorvane {

namespace {

constexpr uint64_t Sector = 512;

struct Entry {
    uint8_t type = 0;
    uint64_t first = 0;  // the first-sector field, in sectors
    uint64_t count = 0;
};

using SectorBytes = std::array<uint8_t, Sector>;

uint32_t Le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// The MBR/EBR entry in slot 0..3: 16 bytes from 0x1BE, the type at +4, the
// first sector at +8, the sector count at +12.
Entry SlotEntry(const SectorBytes& sector, int slot) {
    const uint8_t* entry = sector.data() + 0x1BE + 16 * slot;
    return {entry[4], Le32(entry + 8), Le32(entry + 12)};
}

// The first 512 bytes of the logical sector (of `unit` bytes) at `position`,
// where that whole sector lies on the disk (rules 7 and 8).
std::optional<SectorBytes> ReadWholeSector(ImageFile& image, uint64_t position, uint64_t unit) {
    SectorBytes sector{};
    if (!LiesWholeOnDisk(position, unit, image.Size())) return std::nullopt;
    if (image.ReadAt(position, sector.data(), Sector) != Sector) return std::nullopt;
    return sector;
}

// ---------------------------------------------------------------------------
// The rules of Windows' partition numbering, each with the behaviour it models.
//
// 1. Partitions are numbered from 1: first the MBR's entries in slot order,
//    then the logical partitions of the extended chains in chain order
//    (the layout IOCTL_DISK_GET_DRIVE_LAYOUT lists, primaries first).
// 2. An empty entry (type 00) and a container (05 or 0F) get no number:
//    Windows keeps containers in the layout but creates no partition device
//    for them.
// 3. A disk whose MBR holds a protective entry (EE) and no other entry is a
//    GPT disk to Windows: the MBR's entry is not a partition. A hybrid MBR
//    (EE beside other entries) is read as an MBR: "Windows interprets hybrid
//    MBR disks as having an MBR partition table" (rEFInd's gptsync README,
//    by the author of GPT fdisk; the encyclopedia's GPT article says the same
//    and Microsoft's "Windows and GPT FAQ" only that a disk cannot be both).
//    The EE entry is then a partition like any other.
// 4. An EBR's first entry is its logical partition; its start counts from the
//    EBR itself. An empty first entry gives no partition, and the chain goes on.
// 5. An EBR's second entry links to the next EBR, counted from the first EBR of
//    the chain (the container's start). Windows follows it only when its type is
//    05 or 0F; a link of 0 ends the chain.
// 6. A chain ends at a sector Windows has read as a table already on this disk:
//    sector 0 (the MBR) or an EBR seen before, so a looping chain ends.
// 7. A table sector (a whole logical sector) that does not lie whole on the
//    disk cannot be read (ERROR_SECTOR_NOT_FOUND): a disk without a whole MBR has no partitions,
//    and a chain ends at such an EBR.
// 8. Every LBA counts in the drive's logical sectors (512 or 4096 bytes).
// 9. On a GPT disk the partitions are the entries of the GPT whose type GUID
//    is not zero, numbered in entry order. Windows takes the header at LBA 1
//    when its signature, own LBA and CRC-32s (header and entry array) are
//    right, else the backup header at the disk's last LBA; with neither the
//    disk has no partitions.
// 10. IOCTL_DISK_GET_DRIVE_LAYOUT_EX lists an MBR disk's table entries four
//    to a table sector: the MBR's slots, then each EBR's (its logical
//    partition, its link, two empty slots); an entry that is no partition
//    has PartitionNumber 0 ("DRIVE_LAYOUT_INFORMATION_EX": PartitionCount is
//    a multiple of 4 on MBR disks). A GPT disk lists its partitions only.
// ---------------------------------------------------------------------------

bool IsContainer(uint8_t type) {
    return type == 0x05 || type == 0x0F;  // rules 2 and 5
}

LayoutEntry MbrEntry(const Entry& entry, uint64_t base, uint64_t unit) {
    LayoutEntry layout;
    layout.offset = base + entry.first * unit;
    layout.length = entry.count * unit;
    layout.mbrType = entry.type;
    return layout;
}

// Rule 10: one table sector's four slots.
void AddTableSector(const SectorBytes& sector, uint64_t base, uint64_t unit, std::vector<LayoutEntry>& entries) {
    for (int slot = 0; slot < 4; ++slot) {
        const Entry entry = SlotEntry(sector, slot);
        entries.push_back(entry.type == 0x00 ? LayoutEntry{} : MbrEntry(entry, base, unit));
    }
}

void AddChain(ImageFile& image, uint64_t chainStart, uint64_t unit, std::set<uint64_t>& tablesRead,
              std::vector<LayoutEntry>& entries) {
    for (uint64_t ebr = chainStart; tablesRead.insert(ebr).second;) {  // rule 6
        const auto sector = ReadWholeSector(image, ebr, unit);
        if (!sector) return;  // rule 7
        const Entry logical = SlotEntry(*sector, 0);
        entries.push_back(logical.type == 0x00 ? LayoutEntry{} : MbrEntry(logical, ebr, unit));  // rule 4
        const Entry link = SlotEntry(*sector, 1);
        entries.push_back(link.type == 0x00 ? LayoutEntry{} : MbrEntry(link, chainStart, unit));  // rule 5
        entries.push_back({});
        entries.push_back({});
        if (!IsContainer(link.type) || link.first == 0) return;  // rule 5
        ebr = chainStart + link.first * unit;
    }
}

uint64_t Le64(const uint8_t* p) {
    return uint64_t{Le32(p)} | uint64_t{Le32(p + 4)} << 32;
}

// Rule 9: the header at `lba` and its entry array when both are right
// (offsets of the UEFI "GPT Header": size 12, CRC 16, own LBA 24, entry LBA
// 72, count 80, entry size 84, array CRC 88), entries of 128 bytes times a
// power of two no larger than a sector, at most 1 MiB of them.
std::optional<std::vector<uint8_t>> GptArray(ImageFile& image, uint64_t lba, uint64_t unit, uint32_t& entrySize) {
    const auto read = ReadWholeSector(image, lba * unit, unit);
    if (!read || std::string_view(reinterpret_cast<const char*>(read->data()), 8) != "EFI PART") return std::nullopt;
    SectorBytes header = *read;
    const uint32_t headerSize = Le32(&header[12]), headerCrc = Le32(&header[16]);
    std::fill_n(&header[16], 4, 0);
    if (headerSize < 92 || headerSize > Sector || Crc32(std::span(header).first(headerSize)) != headerCrc ||
        Le64(&header[24]) != lba)
        return std::nullopt;
    const uint64_t entries = Le64(&header[72]), sectors = image.Size() / unit;
    const uint32_t count = Le32(&header[80]);
    entrySize = Le32(&header[84]);
    const uint64_t bytes = uint64_t{count} * entrySize;
    if (count == 0 || entrySize < 128 || entrySize > unit || (entrySize & (entrySize - 1)) != 0 ||
        bytes > (1u << 20) || entries == 0 || entries >= sectors || sectors - entries < (bytes + unit - 1) / unit)
        return std::nullopt;
    std::vector<uint8_t> array(bytes);
    if (image.ReadAt(entries * unit, array.data(), array.size()) != array.size() ||
        Crc32(array) != Le32(&header[88]))
        return std::nullopt;
    return array;
}

void AddGptPartitions(ImageFile& image, uint64_t unit, std::vector<LayoutEntry>& entries) {
    const uint64_t sectors = image.Size() / unit;
    if (sectors < 3) return;
    uint32_t size = 0;
    auto array = GptArray(image, 1, unit, size);
    if (!array) array = GptArray(image, sectors - 1, unit, size);
    if (!array) return;
    for (size_t at = 0; at < array->size(); at += size) {
        const uint8_t* entry = array->data() + at;
        if (std::all_of(entry, entry + 16, [](uint8_t b) { return b == 0; })) continue;
        const uint64_t first = Le64(entry + 32), last = Le64(entry + 40);
        LayoutEntry partition;
        partition.number = static_cast<uint32_t>(entries.size() + 1);
        partition.offset = first * unit;
        partition.length = last >= first ? (last - first + 1) * unit : 0;
        std::copy_n(entry, 16, partition.gptType.begin());
        partition.gptAttributes = Le64(entry + 48);
        entries.push_back(partition);
    }
}

}  // namespace

DriveLayout ReadWindowsLayout(ImageFile& image, uint64_t unit) {
    DriveLayout layout;
    const auto mbr = ReadWholeSector(image, 0, unit);
    if (!mbr) return layout;  // rule 7: no table at all
    int protective = 0, others = 0;
    for (int slot = 0; slot < 4; ++slot) {
        const uint8_t type = SlotEntry(*mbr, slot).type;
        if (type == 0xEE)
            ++protective;
        else if (type != 0x00)
            ++others;
    }
    if (protective > 0 && others == 0) {  // rule 3
        layout.style = PartitionStyle::Gpt;
        AddGptPartitions(image, unit, layout.entries);
        return layout;
    }
    layout.style = PartitionStyle::Mbr;
    AddTableSector(*mbr, 0, unit, layout.entries);
    std::set<uint64_t> tablesRead{0};       // rule 6: the MBR has been read
    for (int slot = 0; slot < 4; ++slot) {  // rule 1: then each chain
        const Entry entry = SlotEntry(*mbr, slot);
        if (IsContainer(entry.type)) AddChain(image, entry.first * unit, unit, tablesRead, layout.entries);
    }
    // Rules 1 and 2: the numbers go to the MBR's partitions first, then to
    // the logical ones (every EBR's first slot) in chain order.
    uint32_t number = 0;
    const auto give = [&number](LayoutEntry& entry) {
        if (entry.mbrType != 0x00 && !IsContainer(entry.mbrType)) entry.number = ++number;
    };
    for (size_t i = 0; i < 4; ++i) give(layout.entries[i]);
    for (size_t i = 4; i < layout.entries.size(); i += 4) give(layout.entries[i]);
    return layout;
}

std::vector<PartitionExtent> WindowsPartitions(ImageFile& image, uint64_t unit) {
    return NumberedPartitions(ReadWindowsLayout(image, unit));
}

std::vector<PartitionExtent> NumberedPartitions(const DriveLayout& layout) {
    std::vector<PartitionExtent> partitions;
    for (const LayoutEntry& entry : layout.entries)
        if (entry.number != 0) {
            if (partitions.size() < entry.number) partitions.resize(entry.number);
            partitions[entry.number - 1] = {entry.offset, entry.length};
        }
    return partitions;
}

std::optional<PartitionExtent> FindWindowsPartition(ImageFile& image, uint32_t number, uint64_t unit) {
    if (number == 0) return std::nullopt;
    const std::vector<PartitionExtent> partitions = WindowsPartitions(image, unit);
    if (number > partitions.size()) return std::nullopt;
    return partitions[number - 1];
}

bool LiesWholeOnDisk(uint64_t position, uint64_t count, uint64_t diskSize) {
    return position <= diskSize && diskSize - position >= count;
}

}  // namespace quorvane
