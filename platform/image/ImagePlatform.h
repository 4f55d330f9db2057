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
#include "platform/image/ImageDevice.h"
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
    DriveLayout,
    OpenVolumeToLock,
    LockVolume,
    DismountVolume,
    Pause,
    WindowsDirectory,
    PageFiles,
    SystemPartition,
    DeviceExtent,
    RemovableMedia,
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
    // Windows learns of a medium taken out or put in, and reads its layout.
    void SetNoMedium(uint32_t drive, bool empty) {
        if (empty)
            noMedium_.insert(drive);
        else
            noMedium_.erase(drive);
        views_.erase(drive);
    }
    // Where undo files go; without a folder they are kept in memory.
    void SetUndoFolder(const std::string& folder) { undoFolder_ = folder; }
    const std::map<std::string, std::vector<uint8_t>>& UndoFilesInMemory() const { return undoFiles_; }
    void PutUndoFileInMemory(const std::string& name, std::vector<uint8_t> content) {
        undoFiles_[name] = std::move(content);
    }
    // Another medium behind the same drive number (a card swapped in a reader).
    // Windows reads the new medium's layout when it arrives.
    void SwapMedium(uint32_t drive, ImageSource medium);

    // Windows' view (platform/image/ImageWindowsView.cpp). Windows reads a
    // drive's layout when it first meets the drive and again only when asked
    // (IOCTL_DISK_UPDATE_PROPERTIES, or a tool that sets the layout through
    // Windows): a table written raw since leaves its view stale.
    void ReReadLayout(uint32_t drive);
    // A drive of removable media (a USB stick): its volumes' drive type is
    // removable, and Windows ignores GPT bits 62 and 63 on it.
    void SetRemovable(uint32_t drive) { removable_.insert(drive); }
    // Older systems, and Wine for disk images, do not answer the layout IOCTL.
    void SetLayoutAnswered(bool answered) { layoutAnswered_ = answered; }
    // Partition N (Windows' number) of drive D: its volume has open files,
    // so it cannot be locked.
    void SetVolumeInUse(uint32_t drive, uint32_t partition) { inUse_.insert({drive, partition}); }
    // Partition N of drive D holds the Windows directory and the page file:
    // it is C:.
    void SetWindowsOn(uint32_t drive, uint32_t partition);
    // Partition N of drive D is the system partition the firmware boots from.
    void SetSystemPartition(uint32_t drive, uint32_t partition) { systemPartition_ = {drive, partition}; }
    // Partition N of drive D is a BitLocker volume that is unlocked: its
    // volume handle shows `view` (the decrypted file system), not its raw
    // sectors.
    void SetUnlockedView(uint32_t drive, uint32_t partition, ImageSource view) {
        unlockedViews_[{drive, partition}] = std::move(view);
    }
    // A drive whose size the system cannot tell (IOCTL_DISK_GET_LENGTH_INFO
    // and the seek to the end both fail).
    void SetSizeUnknown(uint32_t drive, bool unknown) {
        if (unknown)
            sizeUnknown_.insert(drive);
        else
            sizeUnknown_.erase(drive);
    }
    bool SizeUnknown(int drive) const { return drive >= 0 && sizeUnknown_.count(static_cast<uint32_t>(drive)) != 0; }
    // How often Windows' view of a drive was read from its image: once when
    // Windows meets the drive, again only when asked to read it anew.
    uint64_t LayoutReads() const { return layoutReads_; }
    // The pauses asked for, in milliseconds, in order (the program's clock).
    const std::vector<uint32_t>& Pauses() const { return pauses_; }
    // For the devices: a volume's lock, taken when no other handle holds it
    // and no file on it is open.
    bool TakeVolumeLock(const VolumeRegion& volume);
    void ReleaseVolumeLock(const VolumeRegion& volume);

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
    std::optional<bool> RemovableMedia(uint32_t drive) override;
    std::optional<DriveLayout> QueryDriveLayout(uint32_t drive) override;
    std::unique_ptr<SectorDevice> OpenVolumeToLock(const VolumeName& name, VolumeOpenStatus& status) override;
    void Pause(uint32_t milliseconds) override;
    std::string WindowsDirectory() override;
    std::vector<std::string> PageFiles() override;
    std::string SystemPartition() override;
    VolumeExtent DeviceExtent(const std::string& ntDevice) override;

    // Logs a call and tells whether it fails, and whether a transfer is short.
    struct Verdict {
        bool fail = false;
        bool shortTransfer = false;
    };
    Verdict Intercept(PlatformCall call, int drive, char letter = 0, uint64_t position = 0);

 private:
    // A volume as Windows reaches it: partition `partition` of `drive` in
    // Windows' view, where it lies on the disk, and the image whose bytes
    // its handle shows (the disk itself, or an unlocked BitLocker view).
    struct VolumeLocation {
        uint32_t drive = 0;
        uint32_t partition = 0;
        uint64_t offset = 0;
        uint64_t length = 0;
        std::optional<ImageSource> unlocked;
    };
    std::optional<VolumeLocation> LocateVolume(char letter);
    std::optional<VolumeLocation> LocatePartition(uint32_t drive, uint32_t partition);
    // The layout Windows keeps for a drive, read at its first use.
    const DriveLayout* WindowsView(uint32_t drive);
    // The bytes the volume's handle shows, and where in them it starts;
    // nullptr for a BitLocker volume that is not unlocked.
    std::unique_ptr<ImageFile> OpenVolumeBytes(const VolumeLocation& volume, bool writable, uint64_t& base);
    bool Locked(const VolumeLocation& volume) const { return locks_.count({volume.drive, volume.partition}) != 0; }
    std::unique_ptr<SectorDevice> VolumeDevice(const VolumeLocation& volume, char letter, bool writable);

    std::map<uint32_t, DriveLayout> views_;
    bool layoutAnswered_ = true;
    std::set<std::pair<uint32_t, uint32_t>> inUse_;
    std::optional<std::pair<uint32_t, uint32_t>> systemPartition_;
    std::map<std::pair<uint32_t, uint32_t>, ImageSource> unlockedViews_;
    std::set<std::pair<uint32_t, uint32_t>> locks_;  // by drive and Windows' partition number
    std::vector<uint32_t> pauses_;
    std::set<uint32_t> sizeUnknown_;
    std::set<uint32_t> removable_;
    uint64_t layoutReads_ = 0;

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
