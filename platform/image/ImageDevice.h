// A handle on an image (a physical drive) or on a region of one (a volume),
// as CreateFile gives one: every call goes through the platform, which logs
// it and may make it fail.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "platform/Platform.h"
#include "platform/image/ImageFile.h"

namespace quorvane {

class ImagePlatform;

// Which volume a volume handle is on: partition `partition` of `drive` in
// Windows' numbering (the key of its lock; two partitions of one start are
// two volumes all the same).
struct VolumeRegion {
    uint32_t drive = 0;
    uint32_t partition = 0;
};

class ImageDevice : public SectorDevice {
 public:
    // `writable`: bytes from the start that a write may reach.
    ImageDevice(ImagePlatform& platform, std::unique_ptr<ImageFile> file, int drive, char letter, uint64_t base,
                uint64_t length, uint64_t writable, std::optional<VolumeRegion> volume = std::nullopt);
    ~ImageDevice() override;
    ImageDevice(const ImageDevice&) = delete;
    ImageDevice& operator=(const ImageDevice&) = delete;

    uint32_t LogicalSectorSize() const override;
    bool Seek(uint64_t position) override;
    bool Read(std::span<uint8_t> buffer, uint32_t& transferred) override;
    bool Write(std::span<const uint8_t> buffer, uint32_t& transferred) override;
    bool RefreshLayout() override;
    std::optional<uint64_t> Size() override;
    bool NoMedium() const override { return noMedium_; }
    bool LockVolume() override;
    bool DismountVolume() override;

 private:
    // Whether `count` bytes at the file pointer are whole sectors that lie
    // whole on the handle's drive or volume, and on the disk under it.
    bool OnDisk(size_t count) const;

    ImagePlatform& platform_;
    std::unique_ptr<ImageFile> file_;
    int drive_;
    char letter_;
    uint64_t base_;
    uint64_t length_;
    uint64_t writable_;
    std::optional<VolumeRegion> volume_;
    bool locked_ = false;
    uint64_t position_ = 0;
    bool noMedium_ = false;
};

}  // namespace quorvane
