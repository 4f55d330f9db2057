// A power cut for the image backend: the first `writes` writes of a run land
// (a sector through a drive or a volume, or a label through Windows), the
// next one lands half when `torn` (the first half of its sector, as a disk
// may leave it when the power goes in the middle), and nothing after it
// reaches a disk, whatever the program does next. The backend's model of
// Windows is not changed: the cut sits between the program and it, using
// the backend's own short transfer for the torn write.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/image/ImagePlatform.h"

namespace quorvane::test {

class PowerCutPlatform : public ImagePlatform {
 public:
    using ImagePlatform::ImagePlatform;

    // No cut until this is called.
    void CutAfter(uint64_t writes, bool torn) {
        limit_ = writes;
        torn_ = torn;
    }
    uint64_t Writes() const { return writes_; }  // tried, landed or not

    std::unique_ptr<SectorDevice> OpenPhysicalDrive(uint32_t drive, Access access) override {
        return Wrap(ImagePlatform::OpenPhysicalDrive(drive, access), static_cast<int>(drive), 0);
    }
    std::unique_ptr<SectorDevice> OpenVolume(char letter, Access access) override {
        return Wrap(ImagePlatform::OpenVolume(letter, access), -1, letter);  // the letter names the volume
    }
    bool SetVolumeLabel(char letter, const std::string& label) override {
        // Windows sets a label whole or not at all: a label cannot be torn.
        if (!Lands()) return false;
        return ImagePlatform::SetVolumeLabel(letter, label);
    }

 private:
    // Whether the next write lands whole; counts it.
    bool Lands() {
        ++writes_;
        return writes_ <= limit_;
    }
    bool TearsNow() const { return torn_ && writes_ == limit_ + 1; }

    class Device : public SectorDevice {
     public:
        Device(PowerCutPlatform& platform, std::unique_ptr<SectorDevice> inner, int drive, char letter)
            : platform_(platform), inner_(std::move(inner)), drive_(drive), letter_(letter) {}
        uint32_t LogicalSectorSize() const override { return inner_->LogicalSectorSize(); }
        bool Seek(uint64_t position) override {
            position_ = position;
            return inner_->Seek(position);
        }
        bool Read(std::span<uint8_t> buffer, uint32_t& transferred) override {
            return inner_->Read(buffer, transferred);
        }
        bool Write(std::span<const uint8_t> buffer, uint32_t& transferred) override {
            transferred = 0;
            if (!platform_.Lands()) {
                if (!platform_.TearsNow()) return false;
                // The backend's short transfer: the first half of the sector lands.
                Fault half;
                half.call = PlatformCall::Write;
                half.drive = drive_;
                half.letter = letter_;
                half.position = position_;
                half.shortTransfer = true;
                platform_.AddFault(half);
            }
            return inner_->Write(buffer, transferred);
        }
        bool RefreshLayout() override { return inner_->RefreshLayout(); }
        std::optional<uint64_t> Size() override { return inner_->Size(); }
        bool NoMedium() const override { return inner_->NoMedium(); }
        bool LockVolume() override { return inner_->LockVolume(); }
        bool DismountVolume() override { return inner_->DismountVolume(); }

     private:
        PowerCutPlatform& platform_;
        std::unique_ptr<SectorDevice> inner_;
        int drive_;
        char letter_;
        uint64_t position_ = 0;
    };

    std::unique_ptr<SectorDevice> Wrap(std::unique_ptr<SectorDevice> device, int drive, char letter) {
        if (!device) return nullptr;
        return std::make_unique<Device>(*this, std::move(device), drive, letter);
    }

    uint64_t limit_ = UINT64_MAX;
    bool torn_ = false;
    uint64_t writes_ = 0;
};

}  // namespace quorvane::test
