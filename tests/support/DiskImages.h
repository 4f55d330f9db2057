// Making disk images with the real tools (sfdisk, mkfs.fat), reading them
// back (sfdisk --json, blkid, fatlabel) and comparing them byte for byte.
#pragma once

#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace quorvane::test {

// A directory that lives as long as the object.
class TempDir {
 public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
    std::filesystem::path path_;
};

struct CommandResult {
    int exitCode = -1;
    std::string out;  // standard output
    std::string err;  // standard error
};

// Runs a shell command; fails the test on a command that cannot be started.
CommandResult Run(const std::string& command);
// Runs a command that must succeed; returns its standard output.
std::string MustRun(const std::string& command);
std::string Quote(const std::string& text);
// `sgdisk -v` on an image seen as a disk of `sectorSize`-byte sectors (sgdisk
// takes a plain file for 512): through a loop device of that sector size,
// nothing where no loop device can be set up here.
std::optional<std::string> SgdiskVerify(const std::string& image, uint32_t sectorSize);

// A sparse file of `bytes` bytes, partitioned by `sfdisk` with `script`
// (sfdisk's input format; "label: dos" is added).
std::string MakeImage(const TempDir& dir, const std::string& name, uint64_t bytes, const std::string& script);
// The same with a GPT (sfdisk "label: gpt"; types are GUIDs or sfdisk's aliases).
std::string MakeGptImage(const TempDir& dir, const std::string& name, uint64_t bytes, const std::string& script);
// A sparse file partitioned by fdisk with `sectorSize`-byte sectors (fdisk -b),
// `keys` being fdisk's dialogue (one answer per line, ending in "w").
std::string MakeFdiskImage(const TempDir& dir, const std::string& name, uint64_t bytes, uint32_t sectorSize,
                           const std::string& keys);
// An empty (all-zero) sparse file.
std::string MakeBlankImage(const TempDir& dir, const std::string& name, uint64_t bytes);
// A FAT32 file system of `sectors` sectors at `startSector` (mkfs.fat -F 32 --offset).
void MakeFat32(const std::string& image, uint64_t startSector, uint64_t sectors, const std::string& label);

// sfdisk --json of an image: the "partitiontable" object.
nlohmann::json SfdiskJson(const std::string& image);
// blkid tags (LABEL, LABEL_FATBOOT, TYPE, ...) of a byte range of an image.
std::string BlkidTag(const std::string& image, uint64_t offsetBytes, const std::string& tag);

// Raw bytes, for hand-built tables.
std::vector<uint8_t> ReadBytes(const std::string& path);
std::vector<uint8_t> ReadBytes(const std::string& path, uint64_t position, size_t count);
void WriteBytes(const std::string& path, uint64_t position, const std::vector<uint8_t>& bytes);
// One 16-byte MBR/EBR partition-table entry, and where slot `slot` of the
// table in the sector at byte `sectorPosition` lies.
std::vector<uint8_t> EntryBytes(uint8_t boot, uint8_t type, uint32_t firstSector, uint32_t sectorCount);
inline uint64_t EntryPosition(uint64_t sectorPosition, int slot) {
    return sectorPosition + 0x1BE + 16 * static_cast<uint64_t>(slot);
}
// Writes one 16-byte partition-table entry into the sector at `sectorPosition`
// (a byte position), slot 0..3, and the 0x55AA signature of that sector.
void WriteEntry(const std::string& path, uint64_t sectorPosition, int slot, uint8_t boot, uint8_t type,
                uint32_t firstSector, uint32_t sectorCount);

// One differing byte, as `cmp -l` lists them.
struct ByteChange {
    uint64_t offset = 0;
    uint8_t before = 0;
    uint8_t after = 0;
    bool operator==(const ByteChange&) const = default;
};
std::vector<ByteChange> Diff(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after);
// A snapshot of several images, to prove afterwards exactly which bytes changed
// (whole files are held in memory: keep snapshot images small).
class Snapshot {
 public:
    explicit Snapshot(std::vector<std::string> images);
    // The changes of image `index` since the snapshot.
    std::vector<ByteChange> Changes(size_t index) const;
    bool Unchanged() const;

 private:
    std::vector<std::string> images_;
    std::vector<std::vector<uint8_t>> bytes_;
};

// Runs the image tool with these arguments (each quoted for the shell).
CommandResult RunImageTool(const std::vector<std::string>& arguments);
// `quorvane-image --json IMAGE...`, parsed.
nlohmann::json ImageToolJson(const std::vector<std::string>& images);

}  // namespace quorvane::test
