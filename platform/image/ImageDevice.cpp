#include "platform/image/ImageDevice.h"

#include "platform/image/ImagePlatform.h"
#include "platform/image/WindowsPartitions.h"

namespace quorvane {

ImageDevice::ImageDevice(ImagePlatform& platform, std::unique_ptr<ImageFile> file, int drive, char letter,
                         uint64_t base, uint64_t length, uint64_t writable, std::optional<VolumeRegion> volume)
    : platform_(platform),
      file_(std::move(file)),
      drive_(drive),
      letter_(letter),
      base_(base),
      length_(length),
      writable_(writable),
      volume_(volume) {}

// Closing the handle that locked a volume ends the lock (FSCTL_LOCK_VOLUME).
ImageDevice::~ImageDevice() {
    if (locked_) platform_.ReleaseVolumeLock(*volume_);
}

uint32_t ImageDevice::LogicalSectorSize() const {
    return platform_.SectorSizeOf(drive_);
}

bool ImageDevice::Seek(uint64_t position) {
    if (platform_.Intercept(PlatformCall::Seek, drive_, letter_, position).fail) return false;
    position_ = position;  // like SetFilePointer, positioning past the end succeeds
    return true;
}

bool ImageDevice::Read(std::span<uint8_t> buffer, uint32_t& transferred) {
    transferred = 0;
    const auto verdict = platform_.Intercept(PlatformCall::Read, drive_, letter_, position_);
    noMedium_ = !file_;
    if (verdict.fail || !OnDisk(buffer.size())) return false;
    size_t wanted = buffer.size();
    if (verdict.shortTransfer) wanted = buffer.size() / 2;
    const size_t got = file_->ReadAt(base_ + position_, buffer.data(), wanted);
    transferred = static_cast<uint32_t>(got);
    position_ += got;
    return true;
}

bool ImageDevice::Write(std::span<const uint8_t> buffer, uint32_t& transferred) {
    transferred = 0;
    const auto verdict = platform_.Intercept(PlatformCall::Write, drive_, letter_, position_);
    if (verdict.fail || !OnDisk(buffer.size())) return false;
    // A mounted FAT volume's handle writes only the boot sector and the
    // sectors reserved after it: the FAT driver refuses the rest
    // (ERROR_ACCESS_DENIED), as it owns the FATs and the data. A locked or
    // dismounted volume is the handle's own.
    if (!locked_ && !LiesWholeOnDisk(position_, buffer.size(), writable_)) return false;
    const size_t count = verdict.shortTransfer ? buffer.size() / 2 : buffer.size();
    if (!file_->WriteAt(base_ + position_, buffer.data(), count)) return false;
    transferred = static_cast<uint32_t>(count);
    position_ += count;
    return true;
}

// IOCTL_DISK_UPDATE_PROPERTIES: Windows reads the drive's layout again.
bool ImageDevice::RefreshLayout() {
    if (platform_.Intercept(PlatformCall::RefreshLayout, drive_, letter_).fail) return false;
    if (letter_ == 0 && !volume_ && drive_ >= 0) platform_.ReReadLayout(static_cast<uint32_t>(drive_));
    return true;
}

// A drive without a medium cannot tell its size.
std::optional<uint64_t> ImageDevice::Size() {
    if (!file_ || (letter_ == 0 && !volume_ && platform_.SizeUnknown(drive_))) return std::nullopt;
    return length_;
}

bool ImageDevice::LockVolume() {
    if (platform_.Intercept(PlatformCall::LockVolume, drive_, letter_).fail || !volume_) return false;
    if (!locked_) locked_ = platform_.TakeVolumeLock(*volume_);
    return locked_;
}

// FSCTL_DISMOUNT_VOLUME: without the lock other handles may still use the
// volume, and Windows dismounts it anyway; the program asks only when locked.
bool ImageDevice::DismountVolume() {
    return !platform_.Intercept(PlatformCall::DismountVolume, drive_, letter_).fail && volume_.has_value();
}

bool ImageDevice::OnDisk(size_t count) const {
    const uint32_t unit = LogicalSectorSize();
    return file_ && count != 0 && count % unit == 0 && position_ % unit == 0 &&
           LiesWholeOnDisk(position_, count, length_) && LiesWholeOnDisk(base_ + position_, count, file_->Size());
}

}  // namespace quorvane
