#include "scan/TableCache.h"

#include <algorithm>

namespace quorvane {

namespace {

// Passes every call to the drive and keeps what each read gave.
class RecordingDevice : public SectorDevice {
 public:
    RecordingDevice(std::unique_ptr<SectorDevice> device, std::shared_ptr<TableCache::Drive> record)
        : device_(std::move(device)), record_(std::move(record)) {
        record_->sectorSize = device_->LogicalSectorSize();
        record_->size = device_->Size();
    }
    uint32_t LogicalSectorSize() const override { return record_->sectorSize; }
    bool Seek(uint64_t position) override {
        position_ = position;
        return device_->Seek(position);
    }
    bool Read(std::span<uint8_t> buffer, uint32_t& transferred) override {
        const bool ok = device_->Read(buffer, transferred);
        record_->noMedium = !ok && device_->NoMedium();
        record_->reads[{position_, buffer.size()}] = {ok, transferred, {buffer.begin(), buffer.end()}};
        position_ += transferred;
        return ok;
    }
    bool Write(std::span<const uint8_t>, uint32_t& transferred) override {
        transferred = 0;
        return false;  // the scan only reads
    }
    bool RefreshLayout() override { return false; }
    std::optional<uint64_t> Size() override { return record_->size; }
    bool NoMedium() const override { return record_->noMedium; }
    bool LockVolume() override { return false; }
    bool DismountVolume() override { return false; }

 private:
    std::unique_ptr<SectorDevice> device_;
    std::shared_ptr<TableCache::Drive> record_;
    uint64_t position_ = 0;
};

// Answers reads from the record; a read not made before goes to the drive
// itself, and is recorded too.
class ReplayDevice : public SectorDevice {
 public:
    ReplayDevice(Platform& platform, uint32_t drive, std::shared_ptr<TableCache::Drive> record)
        : platform_(platform), drive_(drive), record_(std::move(record)) {}
    uint32_t LogicalSectorSize() const override { return record_->sectorSize; }
    bool Seek(uint64_t position) override {
        position_ = position;
        return true;
    }
    bool Read(std::span<uint8_t> buffer, uint32_t& transferred) override {
        const auto read = record_->reads.find({position_, buffer.size()});
        if (read == record_->reads.end()) {
            if (!device_) device_ = platform_.OpenPhysicalDrive(drive_, Access::Read);
            transferred = 0;
            if (!device_ || !device_->Seek(position_)) return false;
            const bool ok = device_->Read(buffer, transferred);
            record_->reads[{position_, buffer.size()}] = {ok, transferred, {buffer.begin(), buffer.end()}};
            position_ += transferred;
            return ok;
        }
        std::copy(read->second.bytes.begin(), read->second.bytes.end(), buffer.begin());
        transferred = read->second.transferred;
        position_ += transferred;
        return read->second.succeeded;
    }
    bool Write(std::span<const uint8_t>, uint32_t& transferred) override {
        transferred = 0;
        return false;
    }
    bool RefreshLayout() override { return false; }
    std::optional<uint64_t> Size() override { return record_->size; }
    bool NoMedium() const override { return record_->noMedium; }
    bool LockVolume() override { return false; }
    bool DismountVolume() override { return false; }

 private:
    Platform& platform_;
    uint32_t drive_;
    std::shared_ptr<TableCache::Drive> record_;
    std::unique_ptr<SectorDevice> device_;
    uint64_t position_ = 0;
};

}  // namespace

std::unique_ptr<SectorDevice> TableCache::Open(Platform& platform, uint32_t drive) {
    if (const auto known = drives_.find(drive); known != drives_.end())
        return std::make_unique<ReplayDevice>(platform, drive, known->second);
    auto device = platform.OpenPhysicalDrive(drive, Access::Read);
    if (!device) return nullptr;
    auto record = std::make_shared<Drive>();
    drives_[drive] = record;
    return std::make_unique<RecordingDevice>(std::move(device), record);
}

}  // namespace quorvane
