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
};

}  // namespace quorvane
