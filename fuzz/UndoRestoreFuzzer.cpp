// libFuzzer target for /U: input bytes make an undo file (records built from
// the disks' own sectors or from the input, then possibly damaged) and the
// restore runs on two small in-memory disks. Whatever the file holds, the
// restore may only refuse or put back what it recorded: every sector ends up
// as it was, or as the "before" of a record for that disk and position whose
// "after" the sector held.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/image/ImagePlatform.h"
#include "platform/image/MemoryImage.h"
#include "scan/DiskFormat.h"
#include "scan/ScanDisks.h"
#include "undo/UndoFile.h"
#include "undo/UndoRestore.h"

using namespace quorvane;

namespace {

constexpr uint64_t DiskSectors = 64;

class Input {
 public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    uint32_t U32() { return Byte() | Byte() << 8 | Byte() << 16 | static_cast<uint32_t>(Byte()) << 24; }
    bool Empty() const { return at_ >= size_; }

 private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

SharedMemoryImage MakeDisk(uint32_t signature) {
    auto disk = std::make_shared<MemoryImage>(DiskSectors * SectorSize);
    Sector mbr{};
    for (int i = 0; i < 4; ++i) mbr[DiskSignatureOffset + i] = static_cast<uint8_t>(signature >> (8 * i));
    mbr[PartitionTableOffset + EntryType] = 0x07;
    mbr[PartitionTableOffset + EntryFirstSector] = 8;
    mbr[PartitionTableOffset + EntrySectorCount] = 16;
    mbr[PartitionTableOffset + PartitionEntrySize + EntryType] = 0x0C;
    mbr[PartitionTableOffset + PartitionEntrySize + EntryFirstSector] = 24;
    mbr[PartitionTableOffset + PartitionEntrySize + EntrySectorCount] = 16;
    mbr[BootSignatureOffset] = 0x55;
    mbr[BootSignatureOffset + 1] = 0xAA;
    disk->WriteAt(0, mbr.data(), mbr.size());
    for (uint64_t sector = 1; sector < DiskSectors; sector += 5) {
        const uint8_t fill = static_cast<uint8_t>(sector);
        for (uint32_t i = 0; i < SectorSize; i += 64) disk->WriteAt(sector * SectorSize + i, &fill, 1);
    }
    return disk;
}

std::vector<uint8_t> SectorOf(const MemoryImage& disk, uint64_t position) {
    std::vector<uint8_t> bytes(SectorSize);
    disk.ReadAt(position, bytes.data(), bytes.size());
    return bytes;
}

// "before" and "after" from the disk's sector, a variant of it, or the input.
std::vector<uint8_t> Bytes(Input& in, const MemoryImage& disk, uint64_t position) {
    std::vector<uint8_t> bytes = SectorOf(disk, position);
    switch (in.Byte() % 4) {
        case 0: break;  // as the disk holds it
        case 1: bytes[in.Byte() * 2u % SectorSize] ^= static_cast<uint8_t>(in.Byte() | 1); break;
        case 2: bytes[PartitionTableOffset + EntryType] = in.Byte(); break;
        default: bytes.resize(in.Byte() % 4 == 0 ? SectorSize : in.Byte()); break;
    }
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    const uint8_t flags = in.Byte();
    std::vector<SharedMemoryImage> originals{MakeDisk(0x11111111), MakeDisk(flags & 1 ? 0x11111111 : 0x22222222)};
    std::vector<ImageSource> sources;
    for (const auto& original : originals) sources.push_back({"", std::make_shared<MemoryImage>(*original)});

    std::vector<UndoRecord> records;
    for (int count = in.Byte() % 6; count > 0 && !in.Empty(); --count) {
        UndoRecord record;
        record.kind = static_cast<UndoKind>(1 + in.Byte() % 4);
        const uint32_t disk = in.Byte() % 3;
        const uint32_t signature = disk == 0 ? 0x11111111 : disk == 1 ? 0x22222222 : in.U32();
        for (int i = 0; i < 4; ++i) record.disk.id[static_cast<size_t>(i)] = static_cast<uint8_t>(signature >> (8 * i));
        record.disk.size = in.Byte() % 8 ? DiskSectors * SectorSize : in.U32();
        record.disk.sectorSize = in.Byte() % 8 ? SectorSize : in.U32() % 8192;
        record.position = in.Byte() % 8 ? (in.Byte() % DiskSectors) * SectorSize : in.U32();
        const MemoryImage& base = *originals[disk == 1 ? 1 : 0];
        record.before = Bytes(in, base, record.position);
        record.after = Bytes(in, base, record.position);
        records.push_back(std::move(record));
    }
    std::vector<uint8_t> file = EncodeUndoFile(records);
    if (flags & 2 && !file.empty()) file[in.Byte() * 7u % file.size()] ^= in.Byte();
    if (flags & 4) file.resize(file.size() - in.Byte() % (file.size() + 1));

    ImagePlatform platform(sources);
    platform.PutUndoFileInMemory("fuzz.qvundo", file);
    PartitionRows rows;
    const ScanReport scan = ScanDisks(platform, rows);
    RestoreUndoFile(platform, "fuzz.qvundo", scan.drives);

    const auto decoded = DecodeUndoFile(file);
    for (size_t index = 0; index < sources.size(); ++index) {
        const MemoryImage& now = *sources[index].memory;
        const MemoryImage& was = *originals[index];
        for (uint64_t position = 0; position < DiskSectors * SectorSize; position += SectorSize) {
            const std::vector<uint8_t> after = SectorOf(now, position), before = SectorOf(was, position);
            if (after == before) continue;
            bool recorded = false;
            for (const UndoRecord& record : decoded.value_or(std::vector<UndoRecord>{}))
                recorded = recorded ||
                           ((record.kind == UndoKind::TableSector || record.kind == UndoKind::GptSector) &&
                            record.position == position && record.after == before && record.before == after);
            if (!recorded) {
                std::fprintf(stderr, "violation: disk %zu sector %llu changed to bytes no record holds\n", index,
                             static_cast<unsigned long long>(position / SectorSize));
                std::abort();
            }
        }
    }
    return 0;
}
