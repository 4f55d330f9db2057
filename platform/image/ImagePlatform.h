// The platform over disk image files: image k is physical drive k. Volumes,
// drive letters and DOS device names are emulated the way Windows shows
// such disks (platform/image/WindowsPartitions.h numbers the partitions), and
// every call can be told to fail, so tests reach every failure path of the
// logic.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/image/ImageFile.h"

namespace quorvane {

enum class PlatformCall {
    DiskCount,
    OpenDrive,
    OpenVolume,
    Seek,
    Read,
    Write,
    RefreshLayout,
    DriveType,
    DiskExtent,
    QueryVolume,
    FreeBytes,
    SetVolumeLabel,
    LogicalDrives,
    DefineDosDevice,
    RemoveDosDevice,
    Version,
    SaveUndoFile,
    ReadUndoFile,
};
const char* PlatformCallName(PlatformCall call);

// One call as the backend saw it. `drive` is the physical drive (-1 when the
// call names none), `letter` the drive letter of a volume call (0 for none),
// `position` the handle's byte position for Seek, Read and Write (relative to
// the volume for a volume handle).
struct CallRecord {
    uint64_t number = 0;  // counted from 1 over all calls
    PlatformCall call{};
    int drive = -1;
    char letter = 0;
    uint64_t position = 0;
    bool failed = false;
    bool shortTransfer = false;  // a Read or Write told to transfer less than 512 bytes
};

// A rule that makes matching calls fail. A short transfer lets Read or Write
// report success with fewer than 512 bytes.
struct Fault {
    PlatformCall call{};
    int drive = -1;   // -1: any drive
    char letter = 0;  // 0: any letter
    std::optional<uint64_t> position;
    bool shortTransfer = false;
};

class ImagePlatform : public Platform {
 public:
    explicit ImagePlatform(std::vector<ImageSource> images);
    explicit ImagePlatform(const std::vector<std::string>& imagePaths);

    // Test controls.
    void AddFault(const Fault& fault) { faults_.push_back(fault); }
    // Makes call `number` fail (counted as CallRecord::number); may be given
    // for several numbers.
    void FailCallNumber(uint64_t number) { failNumbers_.insert(number); }
    void SetDiskCount(int32_t count) { diskCount_ = count; }
    // The logical sector size of every image (512 or 4096), or of one drive.
    void SetSectorSize(uint32_t bytes) { sectorSize_ = bytes; }
    void SetSectorSize(uint32_t drive, uint32_t bytes) { driveSectorSizes_[drive] = bytes; }
    uint32_t SectorSizeOf(int drive) const {
        const auto own = driveSectorSizes_.find(static_cast<uint32_t>(drive));
        return own != driveSectorSizes_.end() ? own->second : sectorSize_;
    }
    void SetVersion(uint32_t version) { version_ = version; }
    void SetLogicalDriveMask(uint32_t mask) { driveMask_ = mask; }
    const std::vector<CallRecord>& Calls() const { return calls_; }
    uint64_t CountCalls(PlatformCall call) const;
    // The DOS device names defined now, letter to the target in force.
    std::map<char, std::string> DosDevices() const;
    // A drive that opens but holds no medium (an empty card reader).
    void SetNoMedium(uint32_t drive, bool empty) {
        if (empty)
            noMedium_.insert(drive);
        else
            noMedium_.erase(drive);
    }
    // Where undo files go; without a folder they are kept in memory.
    void SetUndoFolder(const std::string& folder) { undoFolder_ = folder; }
    const std::map<std::string, std::vector<uint8_t>>& UndoFilesInMemory() const { return undoFiles_; }
    void PutUndoFileInMemory(const std::string& name, std::vector<uint8_t> content) {
        undoFiles_[name] = std::move(content);
    }
    // Another medium behind the same drive number (a card swapped in a reader).
    void SwapMedium(uint32_t drive, ImageSource medium);

    std::optional<int32_t> DiskCount() override;
    std::unique_ptr<SectorDevice> OpenPhysicalDrive(uint32_t drive, Access access) override;
    std::unique_ptr<SectorDevice> OpenVolume(char letter, Access access) override;
    uint32_t DriveType(char letter) override;
    VolumeExtent FirstDiskExtent(char letter) override;
    std::optional<VolumeInformation> QueryVolume(char letter) override;
    std::optional<uint64_t> FreeBytes(char letter) override;
    bool SetVolumeLabel(char letter, const std::string& label) override;
    uint32_t LogicalDriveMask() override;
    bool DefineDosDevice(char letter, const std::string& targetPath) override;
    bool RemoveDosDevice(char letter, const std::string& targetPath) override;
    uint32_t Version() override;
    std::optional<std::string> SaveUndoFile(std::span<const uint8_t> content) override;
    std::optional<std::vector<uint8_t>> ReadUndoFile(const std::string& path) override;

    // Logs a call and tells whether it fails, and whether a transfer is short.
    struct Verdict {
        bool fail = false;
        bool shortTransfer = false;
    };
    Verdict Intercept(PlatformCall call, int drive, char letter = 0, uint64_t position = 0);

 private:
    struct VolumeLocation {
        uint32_t drive = 0;
        uint64_t offset = 0;
        uint64_t length = 0;
    };
    std::optional<VolumeLocation> LocateVolume(char letter);

    // Where a letter's partition was found in an image held in memory, kept
    // until that image is written (a file image is walked every time: a test
    // may change the file behind the backend's back).
    struct LocatedVolume {
        std::string target;
        uint64_t generation = 0;
        std::optional<VolumeLocation> volume;
    };
    std::map<char, LocatedVolume> located_;

    std::vector<ImageSource> images_;
    std::vector<Fault> faults_;
    std::set<uint64_t> failNumbers_;
    std::vector<CallRecord> calls_;
    std::optional<int32_t> diskCount_;
    uint32_t sectorSize_ = SectorSize;
    std::map<uint32_t, uint32_t> driveSectorSizes_;
    uint32_t version_ = 0x23F00206;  // Windows 10 (6.2 as reported to manifested programs)
    uint32_t driveMask_ = 0b111;     // A:, B: and C: are taken
    std::map<char, std::vector<std::string>> dosDevices_;  // each letter's definitions, newest last
    std::set<uint32_t> noMedium_;
    std::string undoFolder_;
    std::map<std::string, std::vector<uint8_t>> undoFiles_;
};

}  // namespace quorvane
