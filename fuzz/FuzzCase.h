// Turns arbitrary bytes into one whole run of the program: one or two sparse
// disk images (MBRs, EBR chains that loop, run past 4 GiB or off the disk,
// FAT32 volumes laid out as mkfs.fat lays them out), what Windows makes of
// them (volumes in use, the partitions it runs from, removable drives, a
// layout it read before a table was written raw, no layout answered at
// all), a command (/F, /M, /L, /S, /HIDE, /SHOW, /A, any of them under /N,
// edits in the window, or any parameters at all), platform calls made to
// fail, and media swapped or taken out between the scan and the writes.
// Shared by the fuzz target and the test that replays its seeds and findings.
//
// Input layout (whatever is missing reads as zero):
//   byte 0      bit 0 two images; bits 1-3 the command: 0 /F, 1 /M, 2 /L,
//               3 /S, 4 window edits, 5 raw parameters, 6 /HIDE or /SHOW,
//               7 /A; bit 4 the registry's disk count follows the image
//               sizes; bit 5 the drives have 4096-byte sectors (every sector
//               number below counts in them); bit 6 changes before /U follow
//               the count; bit 7 Windows' view follows them
//   per image   two bytes m, e: the image holds m << (e % 43) bytes
//   [count]     one signed byte, when byte 0 bit 4 is set
//   [windows]   a byte w: bit 0 /N before the command (not in the window);
//               bit 1 Windows does not answer the layout query (as Wine);
//               bit 2 /N /U with the run's undo file before its /U; then n
//               (% 9) settings, each a tag (% 5), a drive (% 2) and:
//               0 a partition (Windows' number) whose volume is in use
//               1 a partition holding the Windows directory and page file (C:)
//               2 the system partition the firmware boots from
//               3 nothing: the drive holds removable media
//               4 n (% 5) patches as for another medium (event 3) written
//                 raw after Windows read the drive's layout, which it keeps
//   [before /U] a run that saved an undo file is followed by /U with that
//               file; before it, n (% 5) changes, each a tag (% 6):
//               0 another program writes a disk: the drive, a sector (4
//                 bytes), an offset (2 bytes, % 512), a length (% 17), the bytes
//               1 a record's field, the file's CRC right: the record, the
//                 field (fuzz/UndoFormat.h AlterField), a value
//               2 a byte of a record's "before" (or with offset bit 15 its
//                 "after") flipped, the CRC right: the record, the offset (2
//                 bytes), the mask
//               3 a byte of the file flipped: the offset (2 bytes), the mask
//               4 the file cut: a byte, that many bytes from its end
//               5 the file of another version
//   command     /F: ID, ID        /M: disk, partition, ID
//               /L: disk, partition, label        /S: ID, label
//               /HIDE, /SHOW: a byte (bit 0 /SHOW, bit 1 in lower case),
//                 disk, partition
//               /A: disk, partition, a byte a and: a % 4 = 0 "0x" and, 1 "0X"
//                 and, (a / 4) % 18 digits, each the low four bits of a byte
//                 (bit 4 lower case); 2 (a / 4) % 5 items "+N" or "-N", each a
//                 byte: bit 7 "-", N its low seven bits % 70; 3 a text of
//                 (a / 4) % 8 bytes
//               window: n (% 9) edits of: row, flags (bit 0 an ID typed,
//                 bit 1 a label typed, bit 2 the label field disabled, bit 3
//                 the row's context menu instead: 隐藏分区, or with bit 4
//                 显示分区), the ID when typed, the label when typed
//               raw: n (% 6) texts
//     ID        mode, value: mode % 4 = 0 "%02X", 1 "%02x", 2 one digit ("%X"
//               below 0x10, else "%x" of the low four bits), 3 a text of
//               value % 4 bytes that follow; but with mode 3 and a value
//               from 0xC0 four digits: k = (value - 0xC0) % 32 below 30 the
//               code of KnownGptTypes[k] (fuzz/Oracle.h), else "%04X" of the
//               next two bytes; in lower case when value bit 5 is set
//     disk      a byte b: below 0xF0 the decimal of b % 4, else a text of b % 4 bytes
//     partition a byte b: below 0xF0 its decimal, else a text of b % 4 bytes
//     label     a text of (first byte % 16) bytes
//     text      a length and that many bytes
//   events      n (% 9) events, each a tag (% 7) and its data:
//               0  fail call number N (2 bytes) of the whole run
//               1  fail the k-th call (1 byte, from 1) after the scans
//               2  a fault that lasts the whole run: the call (% 16, a
//                  PlatformCall), a target byte (bits 0-1: drive 0, 1, or any;
//                  bit 2 a sector number follows, 4 bytes; bit 3 a short
//                  transfer; bits 4-7: 0 any letter, else the letter 'C' + x - 1)
//               3  after the scans, another medium in a drive: the drive, a
//                  size change in sectors (signed byte), n (% 5) patches of the
//                  old medium's bytes: sector (4 bytes), offset (2 bytes,
//                  % 512), length (% 17), the bytes
//               4  after the scans, the medium taken out of a drive: the drive
//               5, 6  someone else's DOS name, before the run (5) or after
//                  the scans (6): the letter ('D' + % 23), the drive (% 3) and
//                  the partition (% 8) of its \Device\HarddiskD\PartitionN
//   then chunks to the end, each a header byte h and its data:
//     h bit 0     the image (second one only with two images)
//     h bits 1-2  where the chunk goes:
//                 0  the sector number in the next 5 bytes (little-endian)
//                 1  the first sector of MBR slot (h bits 4-5) of that image, as
//                    placed so far; it becomes the image's chain base
//                 2  chain base + the link (entry 1 first sector) of the last
//                    table placed on that image: the next EBR of a chain
//                 3  the last table's sector + its entry 0 first sector: the
//                    boot sector of a logical partition
//     h bit 7     a FAT32 volume starts there (see below); it is not a
//                 table, so the next chunk still follows the last table
//     h bits 6-7  both set: a GUID partition table instead (see below); the
//                 position bits are not read
//     h bit 3     a whole sector of 512 bytes follows; otherwise the 64 bytes
//                 of a partition table, placed at 0x1BE with the 0x55 0xAA
//                 signature after it
//     h bit 6     a run of EBRs: a count byte n and a 2-byte step s (0 reads
//                 as 1) follow before the data; 2n + 1 copies go to the
//                 position above and every s sectors after it, each copy's link
//                 naming the next one (the last keeps its own link), so a long
//                 chain costs a few bytes
//   A FAT32 volume: flags f (bits 0-2 log2 of the sectors per cluster;
//   bit 3 no label entry in the root directory; bits 4-6 the backup boot
//   sector field: 0 sector 6, 1 none (0), 2 the FSInfo sector, 3 past the
//   reserved sectors, 4 sector 3, 5 0xFFFF, else 6; bit 7 the type field in
//   lower case), the reserved sector count (0 reads as 32), the FAT count
//   (% 3, 0 reads as 2), the sectors per FAT (0 reads as 8), a byte r: the
//   root cluster (r % 8 + 2) and the data clusters (65525 + r / 8, but
//   65524 for r / 8 = 31: too few for Windows to take it for FAT32), 4
//   bytes of serial number, a label (as above, both in
//   the boot sector and in the root directory) and a byte whose bit 0 puts a
//   copy of the boot sector at sector 6 whatever the backup field says.
//   A GUID partition table: flags g (bits 0-1 the entry size 128 << x; bit 2
//   the primary header's CRC spoilt; bit 3 the backup header's; bit 4 the
//   backup array differs in one byte, its CRCs right; bit 5 no backup at
//   all; bit 6 the primary array's CRC spoilt; bit 7 the backup header
//   points at another alternate LBA), the entry count (0 reads as 128), the
//   array's LBA - 2 (% 4), 2 bytes of disk GUID, then n (% 9) entries: the
//   index (% count), the type (% 16: below 11 one of the first
//   KnownGptTypes, 15 zero, else 16 bytes follow), the first LBA (4 bytes),
//   the length (2 bytes; 0 makes the last LBA one before the first), an
//   attribute byte (bit 0 hidden, bit 1 no drive letter, bit 2 a FAT32
//   volume follows and starts at the first LBA, bit 3 the length counts in
//   256 LBAs). The backup header lies at
//   the image's last LBA, its array just before it; a protective MBR is put
//   at sector 0 when none was placed yet.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/image/ImagePlatform.h"

namespace quorvane::fuzz {

inline constexpr size_t MaxChunks = 1024;
inline constexpr size_t MaxSectors = 1024;  // over all images; enough to fill the rows

struct FuzzImage {
    uint64_t size = 0;
    std::map<uint64_t, std::array<uint8_t, 512>> sectors;  // by byte position / 512
};

enum class CommandKind { Find, Modify, Label, SetLabels, Window, Raw, Visibility, Attributes };

// One "修改" in the window: the row (taken modulo the rows shown) and what
// was typed into its fields.
struct WindowEdit {
    uint8_t row = 0;
    std::optional<std::string> id;     // the ID field as typed; else as the row shows it
    std::optional<std::string> label;  // the label field as typed; else as the row shows it
    bool labelDisabled = false;
    // 隐藏分区 (true) or 显示分区 (false) from the row's context menu, instead
    // of the fields.
    std::optional<bool> hide;
};

struct BytePatch {
    uint64_t position = 0;
    std::vector<uint8_t> bytes;
};

// What happens to a drive's medium between the scan and the writes.
struct MediumChange {
    uint32_t drive = 0;
    bool removed = false;
    int64_t sizeChange = 0;  // in sectors, for the medium put in
    std::vector<BytePatch> patches;
};

// What happens to the undo file a run saved, or to its disks, before /U.
struct UndoEdit {
    enum class Kind { DiskBytes, Field, DataByte, FileByte, Cut, Version } kind = Kind::DiskBytes;
    uint32_t drive = 0;
    BytePatch patch;  // DiskBytes
    uint8_t record = 0, field = 0, value = 0;
    uint16_t offset = 0;
};

struct ForeignName {
    char letter = 'D';
    std::string target;
    bool afterScan = false;
};

// What Windows holds of the drives beyond their bytes.
struct WindowsView {
    bool layoutAnswered = true;  // IOCTL_DISK_GET_DRIVE_LAYOUT_EX answers
    // (drive, Windows' partition number): volumes with open files, which
    // cannot be locked.
    std::vector<std::pair<uint32_t, uint32_t>> inUse;
    std::optional<std::pair<uint32_t, uint32_t>> windowsOn, systemPartition;
    std::set<uint32_t> removable;
    // Tables written raw by another tool after Windows read the drive's
    // layout: Windows keeps the layout it read.
    std::map<uint32_t, std::vector<BytePatch>> writtenRaw;
};

struct FuzzCase {
    uint32_t sectorSize = 512;  // every drive's logical sector size
    std::vector<FuzzImage> images;
    std::optional<int32_t> diskCount;  // the registry's, when it differs from the images
    CommandKind command = CommandKind::Find;
    std::vector<std::string> parameters;  // without the program; empty in the window
    std::vector<WindowEdit> edits;
    std::vector<Fault> faults;                 // for the whole run
    std::vector<uint64_t> failCalls;           // call numbers of the whole run
    std::vector<uint64_t> failCallsAfterScan;  // counted from the end of the scans
    std::vector<MediumChange> media;
    std::vector<ForeignName> names;
    std::vector<UndoEdit> undoEdits;
    WindowsView windows;
    bool dryRun = false;         // /N before the command (in `parameters`)
    bool dryRunRestore = false;  // /N /U with the run's undo file before /U with it
};

FuzzCase DecodeFuzzCase(const uint8_t* data, size_t size);

}  // namespace quorvane::fuzz
