// The platform seam over kernel32 and advapi32: one small function per
// system call, with the arguments the program has always used. No logic
// lives here; everything the program decides is in scan/ and apply/.
#pragma once

#include "platform/Platform.h"
#include "platform/win32/WindowsApi.h"

namespace quorvane {

class Win32Platform : public Platform {
 public:
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
    // Windows' own view: Win32SystemView.cpp.
    std::optional<DriveLayout> QueryDriveLayout(uint32_t drive) override;
    std::unique_ptr<SectorDevice> OpenVolumeToLock(const VolumeName& name, VolumeOpenStatus& status) override;
    void Pause(uint32_t milliseconds) override;
    std::string WindowsDirectory() override;
    std::vector<std::string> PageFiles() override;
    std::string SystemPartition() override;
    VolumeExtent DeviceExtent(const std::string& ntDevice) override;
};

class UniqueHandle;
// A raw drive or volume over an open handle (Win32Platform.cpp).
std::unique_ptr<SectorDevice> MakeWin32Device(UniqueHandle handle);
// IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS: the first extent; all zero on failure.
VolumeExtent FirstExtentOfVolume(HANDLE volume);

}  // namespace quorvane
