// What the partition logic asks of the operating system, and nothing more.
// The Windows program implements it over kernel32/advapi32 (platform/win32);
// tests and tools implement it over disk image files (platform/image).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quorvane {

// The size of an MBR, EBR, GPT header or boot-sector structure. A drive's
// logical sectors are 512 or 4096 bytes (LogicalSectorSize); these
// structures lie in the first 512 bytes of theirs. Byte positions on a disk
// are 64-bit.
inline constexpr uint32_t SectorSize = 512;
inline constexpr uint32_t LargeSectorSize = 4096;

enum class Access { Read, ReadWrite };

// An open physical drive ("\\.\PHYSICALDRIVEn") or volume ("\\.\X:").
// The handle is closed when the object is destroyed.
class SectorDevice {
 public:
    virtual ~SectorDevice() = default;
    // The logical sector size (IOCTL_DISK_GET_DRIVE_GEOMETRY_EX); 512 where
    // the system does not tell. Every read and write is whole sectors.
    virtual uint32_t LogicalSectorSize() const = 0;
    // Moves the file pointer to an absolute byte position (FILE_BEGIN).
    virtual bool Seek(uint64_t position) = 0;
    // Reads whole sectors at the file pointer (a position and a length that
    // are multiples of the sector size); `transferred` is the count the
    // system reports, which a short read leaves below the buffer's size.
    virtual bool Read(std::span<uint8_t> buffer, uint32_t& transferred) = 0;
    virtual bool Write(std::span<const uint8_t> buffer, uint32_t& transferred) = 0;
    // Asks the system to re-read the drive's partition layout after a
    // partition-table sector was written (IOCTL_DISK_UPDATE_PROPERTIES).
    virtual bool RefreshLayout() = 0;
    // The size of the drive or volume in bytes; nullopt when it cannot be told.
    virtual std::optional<uint64_t> Size() = 0;
    // Whether the last failed Read failed because the drive holds no medium
    // (an empty card reader: ERROR_NOT_READY or ERROR_NO_MEDIA_IN_DRIVE).
    virtual bool NoMedium() const = 0;
    // On a volume handle: FSCTL_LOCK_VOLUME (fails while any other handle
    // has the volume open) and FSCTL_DISMOUNT_VOLUME. Closing the handle
    // ends the lock. A physical drive answers false to both.
    virtual bool LockVolume() = 0;
    virtual bool DismountVolume() = 0;
};

// IOCTL_DISK_GET_DRIVE_LAYOUT_EX: the partitions as Windows itself reads the
// disk. Windows answers from its own copy, read when the disk arrived or at
// the last IOCTL_DISK_UPDATE_PROPERTIES, not from the sectors as they are.
enum class PartitionStyle { Mbr, Gpt, Raw };
struct LayoutEntry {
    uint32_t number = 0;  // PartitionNumber: 0 for an empty slot or a container
    uint64_t offset = 0;  // StartingOffset, bytes
    uint64_t length = 0;  // PartitionLength, bytes
    uint8_t mbrType = 0;                 // PartitionType of an MBR partition
    std::array<uint8_t, 16> gptType{};   // PartitionType of a GPT partition, as stored on disk
    uint64_t gptAttributes = 0;
};
struct DriveLayout {
    PartitionStyle style = PartitionStyle::Raw;
    std::vector<LayoutEntry> entries;  // PartitionEntry[], in Windows' order
};

// Which volume to open for a lock: the one under a drive letter, or, for a
// partition without one, the partition device of Windows' numbering
// ("\\?\GLOBALROOT\Device\HarddiskD\PartitionN").
struct VolumeName {
    char letter = 0;
    uint32_t drive = 0;
    uint32_t partition = 0;
};

// What opening a volume for a lock found.
enum class VolumeOpenStatus {
    Opened,
    NothingMounted,  // ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND
    Failed,          // any other error (access denied, sharing violation, ...)
};

// What GetVolumeInformation tells of the volume under a letter.
struct VolumeInformation {
    std::string label;
    uint32_t serialNumber = 0;
    std::string fileSystem;  // "NTFS", "FAT32", "exFAT", ...
};

// The first element of a volume's VOLUME_DISK_EXTENTS answer; all zero when
// the query fails.
struct VolumeExtent {
    uint32_t diskNumber = 0;
    int64_t startingOffset = 0;
    int64_t extentLength = 0;
};

// GetDriveTypeA results the program names.
enum DriveTypeCode : uint32_t {
    DriveRemovable = 2,
    DriveFixed = 3,
    DriveRemote = 4,
    DriveCdrom = 5,
    DriveRamdisk = 6,
};

class Platform {
 public:
    virtual ~Platform() = default;

    // Registry value "Count" of SYSTEM\CurrentControlSet\Services\Disk\Enum,
    // read as a signed number; nullopt when the key or a REG_DWORD value is missing.
    virtual std::optional<int32_t> DiskCount() = 0;
    // nullptr when the drive cannot be opened.
    virtual std::unique_ptr<SectorDevice> OpenPhysicalDrive(uint32_t drive, Access access) = 0;
    // The volume under a drive letter, for its boot sectors; nullptr on failure.
    virtual std::unique_ptr<SectorDevice> OpenVolume(char letter, Access access) = 0;

    // Volume queries of a drive letter (A to Z, upper case).
    virtual uint32_t DriveType(char letter) = 0;
    virtual VolumeExtent FirstDiskExtent(char letter) = 0;
    virtual std::optional<VolumeInformation> QueryVolume(char letter) = 0;
    virtual std::optional<uint64_t> FreeBytes(char letter) = 0;
    virtual bool SetVolumeLabel(char letter, const std::string& label) = 0;

    // GetLogicalDrives: bit 0 is A, bit 25 is Z.
    virtual uint32_t LogicalDriveMask() = 0;
    // DefineDosDeviceA with DDD_RAW_TARGET_PATH for "X:". Windows keeps a
    // stack of definitions per name; the newest one is in force.
    virtual bool DefineDosDevice(char letter, const std::string& targetPath) = 0;
    // Removes exactly the definition of "X:" with this target
    // (DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE | DDD_RAW_TARGET_PATH),
    // never one that someone else defined over or under it.
    virtual bool RemoveDosDevice(char letter, const std::string& targetPath) = 0;

    // The undo files. SaveUndoFile writes a new one, complete and flushed to
    // its medium, under a name no other run has, and returns its path;
    // nullopt (and no file left behind) when it could not be written whole.
    virtual std::optional<std::string> SaveUndoFile(std::span<const uint8_t> content) = 0;
    virtual std::optional<std::vector<uint8_t>> ReadUndoFile(const std::string& path) = 0;

    // GetVersion as the system reports it.
    virtual uint32_t Version() = 0;

    // Windows' own view of a drive; nullopt where the IOCTL is not answered
    // (older systems; Wine answers ERROR_NOT_SUPPORTED for disk images).
    virtual std::optional<DriveLayout> QueryDriveLayout(uint32_t drive) = 0;
    // A volume opened for reading and writing, to be locked before its
    // partition's entry changes; `status` tells why there is none.
    virtual std::unique_ptr<SectorDevice> OpenVolumeToLock(const VolumeName& name, VolumeOpenStatus& status) = 0;
    // Waits; the pause between two tries of a lock (Sleep).
    virtual void Pause(uint32_t milliseconds) = 0;

    // What keeps Windows running, as the system tells it. Paths and device
    // names in code page 936; empty where the system does not tell.
    // GetWindowsDirectoryW ("C:\Windows").
    virtual std::string WindowsDirectory() = 0;
    // The page files: HKLM\SYSTEM\CurrentControlSet\Control\Session
    // Manager\Memory Management, ExistingPageFiles ("\??\C:\pagefile.sys"),
    // or PagingFiles ("C:\pagefile.sys 0 0") where that value is missing.
    virtual std::vector<std::string> PageFiles() = 0;
    // HKLM\SYSTEM\Setup, SystemPartition: the partition the firmware boots
    // from ("\Device\HarddiskVolume1" or "\Device\Harddisk0\Partition1").
    virtual std::string SystemPartition() = 0;
    // The first disk extent of a volume named by its NT device name
    // ("\Device\HarddiskVolume1"); all zero when the query fails.
    virtual VolumeExtent DeviceExtent(const std::string& ntDevice) = 0;
};

// Windows 95, 98 and Me: the non-NT platform bit with version 4.0 or later.
inline bool IsWindows9x(uint32_t version) {
    return (version & 0x80000000u) != 0 && (version & 0xFFu) >= 4;
}

}  // namespace quorvane
