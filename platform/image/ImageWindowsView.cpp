// What Windows shows of the images beyond their raw sectors: the layout it
// keeps for each drive (read when it first meets the drive, again only when
// asked), the volumes on the partitions of that layout with their letters,
// locks and file systems, and the partitions that keep it running. Each rule
// names the Windows behaviour it stands for; none uses the program's code.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/image/ImagePlatform.h"
#include "platform/image/ImageVolumes.h"
#include "platform/image/WindowsPartitions.h"

namespace quorvane {

namespace {

constexpr uint32_t DriveNoRootDir = 1;
// The one system partition the backend names, as Windows names volumes.
constexpr char SystemVolumeDevice[] = "\\Device\\HarddiskVolume1";

// A BitLocker volume's first sector as the raw disk shows it: a jump, then
// "-FVE-FS-" as its OEM name; a BitLocker To Go volume instead looks like
// FAT32 ("MSWIN4.1") and carries the BitLocker identifier GUID
// 4967D63B-2E29-4AD8-8399-F6A339E3D001 at byte 424 (as stored). Through its
// volume handle Windows shows the decrypted file system instead.
bool IsBitLocker(ImageFile& image, uint64_t offset) {
    uint8_t head[440] = {};
    if (!LiesWholeOnDisk(offset, sizeof head, image.Size()) || image.ReadAt(offset, head, sizeof head) != sizeof head)
        return false;
    const bool jump = head[0] == 0xEB && (head[1] == 0x52 || head[1] == 0x58) && head[2] == 0x90;
    static constexpr uint8_t ToGoGuid[16] = {0x3B, 0xD6, 0x67, 0x49, 0x29, 0x2E, 0xD8, 0x4A,
                                             0x83, 0x99, 0xF6, 0xA3, 0x39, 0xE3, 0xD0, 0x01};
    return jump && (std::memcmp(head + 3, "-FVE-FS-", 8) == 0 ||
                    (std::memcmp(head + 3, "MSWIN4.1", 8) == 0 && std::memcmp(head + 424, ToGoGuid, 16) == 0));
}

std::string PartitionDevice(uint32_t drive, uint32_t partition) {
    return "\\Device\\Harddisk" + std::to_string(drive) + "\\Partition" + std::to_string(partition);
}

}  // namespace

const DriveLayout* ImagePlatform::WindowsView(uint32_t drive) {
    if (drive >= images_.size() || noMedium_.count(drive)) return nullptr;
    if (const auto known = views_.find(drive); known != views_.end()) return &known->second;
    auto file = ImageFile::Open(images_[drive], false);
    if (!file) return nullptr;
    ++layoutReads_;
    return &(views_[drive] = ReadWindowsLayout(*file, SectorSizeOf(static_cast<int>(drive))));
}

std::optional<bool> ImagePlatform::RemovableMedia(uint32_t drive) {
    if (Intercept(PlatformCall::RemovableMedia, static_cast<int>(drive)).fail || drive >= images_.size())
        return std::nullopt;
    return removable_.count(drive) != 0;
}

void ImagePlatform::ReReadLayout(uint32_t drive) {
    views_.erase(drive);
}

std::optional<DriveLayout> ImagePlatform::QueryDriveLayout(uint32_t drive) {
    const DriveLayout* view = WindowsView(drive);
    if (Intercept(PlatformCall::DriveLayout, static_cast<int>(drive)).fail || !layoutAnswered_ || !view)
        return std::nullopt;
    return *view;
}

// The partition devices \Device\HarddiskD\PartitionN are made from Windows'
// view of the drive, not from its sectors as they are now.
std::optional<ImagePlatform::VolumeLocation> ImagePlatform::LocatePartition(uint32_t drive, uint32_t partition) {
    const DriveLayout* view = WindowsView(drive);
    if (!view || partition == 0) return std::nullopt;
    const std::vector<PartitionExtent> partitions = NumberedPartitions(*view);
    if (partition > partitions.size()) return std::nullopt;
    VolumeLocation volume{drive, partition, partitions[partition - 1].offset, partitions[partition - 1].length, {}};
    if (const auto unlocked = unlockedViews_.find({drive, partition}); unlocked != unlockedViews_.end())
        volume.unlocked = unlocked->second;
    return volume;
}

std::optional<ImagePlatform::VolumeLocation> ImagePlatform::LocateVolume(char letter) {
    const auto device = dosDevices_.find(letter);
    if (device == dosDevices_.end()) return std::nullopt;
    uint32_t drive = 0, partition = 0;
    // The newest definition is in force.
    if (!ParsePartitionTarget(device->second.back(), drive, partition)) return std::nullopt;
    return LocatePartition(drive, partition);
}

// An unlocked BitLocker volume shows its decrypted file system; a locked one
// cannot be opened at all (FVE_E_LOCKED_VOLUME).
std::unique_ptr<ImageFile> ImagePlatform::OpenVolumeBytes(const VolumeLocation& volume, bool writable,
                                                          uint64_t& base) {
    if (volume.unlocked) {
        base = 0;
        return ImageFile::Open(*volume.unlocked, writable);
    }
    base = volume.offset;
    auto file = ImageFile::Open(images_[volume.drive], writable);
    if (file && IsBitLocker(*file, volume.offset)) return nullptr;
    return file;
}

std::unique_ptr<SectorDevice> ImagePlatform::VolumeDevice(const VolumeLocation& volume, char letter,
                                                          bool writable) {
    uint64_t base = 0;
    auto file = OpenVolumeBytes(volume, writable, base);
    if (!file) return nullptr;
    const uint64_t length = volume.unlocked ? file->Size() : volume.length;
    // Windows mounts the file system it recognises (here FAT32) on first use.
    const auto fat = Fat32Volume::Open(*file, {base, length});
    const uint64_t reachable = fat ? fat->ReservedBytes() : length;
    return std::make_unique<ImageDevice>(*this, std::move(file), static_cast<int>(volume.drive), letter, base,
                                         length, reachable, VolumeRegion{volume.drive, volume.partition});
}

// A volume locked through one handle cannot be opened through another.
std::unique_ptr<SectorDevice> ImagePlatform::OpenVolume(char letter, Access access) {
    const auto volume = LocateVolume(letter);
    const int drive = volume ? static_cast<int>(volume->drive) : -1;
    if (Intercept(PlatformCall::OpenVolume, drive, letter).fail || !volume || Locked(*volume)) return nullptr;
    return VolumeDevice(*volume, letter, access == Access::ReadWrite);
}

std::unique_ptr<SectorDevice> ImagePlatform::OpenVolumeToLock(const VolumeName& name, VolumeOpenStatus& status) {
    const auto volume = name.letter != 0 ? LocateVolume(name.letter) : LocatePartition(name.drive, name.partition);
    status = VolumeOpenStatus::Failed;
    if (Intercept(PlatformCall::OpenVolumeToLock, volume ? static_cast<int>(volume->drive) : -1, name.letter).fail)
        return nullptr;
    if (!volume) {
        status = VolumeOpenStatus::NothingMounted;  // ERROR_FILE_NOT_FOUND
        return nullptr;
    }
    if (Locked(*volume)) return nullptr;  // ERROR_SHARING_VIOLATION
    auto device = VolumeDevice(*volume, name.letter, true);
    if (device) status = VolumeOpenStatus::Opened;
    return device;
}

// FSCTL_LOCK_VOLUME fails while files on the volume are open or another
// handle holds the lock (ERROR_ACCESS_DENIED).
bool ImagePlatform::TakeVolumeLock(const VolumeRegion& region) {
    if (locks_.count({region.drive, region.partition}) || inUse_.count({region.drive, region.partition})) return false;
    locks_.insert({region.drive, region.partition});
    return true;
}

void ImagePlatform::ReleaseVolumeLock(const VolumeRegion& region) {
    locks_.erase({region.drive, region.partition});
}

void ImagePlatform::Pause(uint32_t milliseconds) {
    Intercept(PlatformCall::Pause, -1);
    pauses_.push_back(milliseconds);
}

uint32_t ImagePlatform::DriveType(char letter) {
    const auto volume = LocateVolume(letter);
    if (Intercept(PlatformCall::DriveType, volume ? static_cast<int>(volume->drive) : -1, letter).fail)
        return 0;  // DRIVE_UNKNOWN
    if (volume) return removable_.count(volume->drive) ? DriveRemovable : DriveFixed;
    return letter == 'C' ? DriveFixed : DriveNoRootDir;
}

VolumeExtent ImagePlatform::FirstDiskExtent(char letter) {
    const auto volume = LocateVolume(letter);
    if (Intercept(PlatformCall::DiskExtent, volume ? static_cast<int>(volume->drive) : -1, letter).fail ||
        !volume || Locked(*volume))
        return {};
    return {volume->drive, static_cast<int64_t>(volume->offset), static_cast<int64_t>(volume->length)};
}

std::optional<VolumeInformation> ImagePlatform::QueryVolume(char letter) {
    const auto volume = LocateVolume(letter);
    if (Intercept(PlatformCall::QueryVolume, volume ? static_cast<int>(volume->drive) : -1, letter).fail ||
        !volume || Locked(*volume))
        return std::nullopt;
    uint64_t base = 0;
    auto file = OpenVolumeBytes(*volume, false, base);
    if (!file) return std::nullopt;
    auto fat = Fat32Volume::Open(*file, {base, volume->unlocked ? file->Size() : volume->length});
    if (!fat) return std::nullopt;  // a file system Windows cannot read here
    return VolumeInformation{fat->Label(), fat->SerialNumber(), "FAT32"};
}

std::optional<uint64_t> ImagePlatform::FreeBytes(char letter) {
    const auto volume = LocateVolume(letter);
    if (Intercept(PlatformCall::FreeBytes, volume ? static_cast<int>(volume->drive) : -1, letter).fail ||
        !volume || Locked(*volume))
        return std::nullopt;
    uint64_t base = 0;
    auto file = OpenVolumeBytes(*volume, false, base);
    if (!file) return std::nullopt;
    auto fat = Fat32Volume::Open(*file, {base, volume->unlocked ? file->Size() : volume->length});
    if (!fat) return std::nullopt;
    return fat->FreeBytes();
}

bool ImagePlatform::SetVolumeLabel(char letter, const std::string& label) {
    const auto volume = LocateVolume(letter);
    if (Intercept(PlatformCall::SetVolumeLabel, volume ? static_cast<int>(volume->drive) : -1, letter).fail ||
        !volume || Locked(*volume))
        return false;
    uint64_t base = 0;
    auto file = OpenVolumeBytes(*volume, true, base);
    if (!file) return false;
    auto fat = Fat32Volume::Open(*file, {base, volume->unlocked ? file->Size() : volume->length});
    return fat && fat->SetLabel(label);
}

// The Windows directory and the page file are on C:, which is partition N
// of drive D only where a test says so (else C: holds no image's partition).
void ImagePlatform::SetWindowsOn(uint32_t drive, uint32_t partition) {
    dosDevices_['C'] = {PartitionDevice(drive, partition)};
}

std::string ImagePlatform::WindowsDirectory() {
    if (Intercept(PlatformCall::WindowsDirectory, -1).fail) return {};
    return "C:\\Windows";
}

std::vector<std::string> ImagePlatform::PageFiles() {
    if (Intercept(PlatformCall::PageFiles, -1).fail) return {};
    return {"\\??\\C:\\pagefile.sys"};
}

std::string ImagePlatform::SystemPartition() {
    if (Intercept(PlatformCall::SystemPartition, -1).fail || !systemPartition_) return {};
    return SystemVolumeDevice;
}

VolumeExtent ImagePlatform::DeviceExtent(const std::string& ntDevice) {
    std::optional<VolumeLocation> volume;
    uint32_t drive = 0, partition = 0;
    if (ntDevice == SystemVolumeDevice && systemPartition_)
        volume = LocatePartition(systemPartition_->first, systemPartition_->second);
    else if (ParsePartitionTarget(ntDevice, drive, partition))
        volume = LocatePartition(drive, partition);
    if (Intercept(PlatformCall::DeviceExtent, volume ? static_cast<int>(volume->drive) : -1).fail || !volume)
        return {};
    return {volume->drive, static_cast<int64_t>(volume->offset), static_cast<int64_t>(volume->length)};
}

}  // namespace quorvane
