#include "platform/image/ImagePlatform.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/image/ImageFile.h"
#include "platform/image/ImageVolumes.h"

namespace quorvane {

namespace {

constexpr uint32_t DriveNoRootDir = 1;

// A handle on an image (a physical drive) or on a region of one (a volume).
class ImageDevice : public SectorDevice {
 public:
    ImageDevice(ImagePlatform& platform, std::unique_ptr<ImageFile> file, int drive, char letter,
                uint64_t base, uint64_t length, uint64_t writable)
        : platform_(platform),
          file_(std::move(file)),
          drive_(drive),
          letter_(letter),
          base_(base),
          length_(length),
          writable_(writable) {}

    uint32_t LogicalSectorSize() const override { return platform_.SectorSizeOf(drive_); }

    bool Seek(uint64_t position) override {
        if (platform_.Intercept(PlatformCall::Seek, drive_, letter_, position).fail) return false;
        position_ = position;  // like SetFilePointer, positioning past the end succeeds
        return true;
    }

    bool Read(std::span<uint8_t> buffer, uint32_t& transferred) override {
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

    bool Write(std::span<const uint8_t> buffer, uint32_t& transferred) override {
        transferred = 0;
        const auto verdict = platform_.Intercept(PlatformCall::Write, drive_, letter_, position_);
        if (verdict.fail || !OnDisk(buffer.size())) return false;
        // A mounted FAT volume's handle writes only the boot sector and the
        // sectors reserved after it: the FAT driver refuses the rest
        // (ERROR_ACCESS_DENIED), as it owns the FATs and the data.
        if (!LiesWholeOnDisk(position_, buffer.size(), writable_)) return false;
        const size_t count = verdict.shortTransfer ? buffer.size() / 2 : buffer.size();
        if (!file_->WriteAt(base_ + position_, buffer.data(), count)) return false;
        transferred = static_cast<uint32_t>(count);
        position_ += count;
        return true;
    }

    bool RefreshLayout() override {
        return !platform_.Intercept(PlatformCall::RefreshLayout, drive_, letter_).fail;
    }

    // A drive without a medium cannot tell its size.
    std::optional<uint64_t> Size() override {
        if (!file_) return std::nullopt;
        return length_;
    }
    bool NoMedium() const override { return noMedium_; }

 private:
    // Whether `count` bytes at the file pointer are whole sectors that lie
    // whole on the handle's drive or volume, and on the disk under it.
    bool OnDisk(size_t count) const {
        const uint32_t unit = LogicalSectorSize();
        return file_ && count != 0 && count % unit == 0 && position_ % unit == 0 &&
               LiesWholeOnDisk(position_, count, length_) && LiesWholeOnDisk(base_ + position_, count, file_->Size());
    }

    ImagePlatform& platform_;
    std::unique_ptr<ImageFile> file_;
    int drive_;
    char letter_;
    uint64_t base_;
    uint64_t length_;
    uint64_t writable_;  // bytes from the start that a write may reach
    uint64_t position_ = 0;
    bool noMedium_ = false;
};

bool IsLetter(char letter) {
    return letter >= 'A' && letter <= 'Z';
}
uint32_t LetterBit(char letter) {
    return 1u << (letter - 'A');
}

}  // namespace

const char* PlatformCallName(PlatformCall call) {
    switch (call) {
        case PlatformCall::DiskCount: return "DiskCount";
        case PlatformCall::OpenDrive: return "OpenDrive";
        case PlatformCall::OpenVolume: return "OpenVolume";
        case PlatformCall::Seek: return "Seek";
        case PlatformCall::Read: return "Read";
        case PlatformCall::Write: return "Write";
        case PlatformCall::RefreshLayout: return "RefreshLayout";
        case PlatformCall::DriveType: return "DriveType";
        case PlatformCall::DiskExtent: return "DiskExtent";
        case PlatformCall::QueryVolume: return "QueryVolume";
        case PlatformCall::FreeBytes: return "FreeBytes";
        case PlatformCall::SetVolumeLabel: return "SetVolumeLabel";
        case PlatformCall::LogicalDrives: return "LogicalDrives";
        case PlatformCall::DefineDosDevice: return "DefineDosDevice";
        case PlatformCall::RemoveDosDevice: return "RemoveDosDevice";
        case PlatformCall::Version: return "Version";
        case PlatformCall::SaveUndoFile: return "SaveUndoFile";
        case PlatformCall::ReadUndoFile: return "ReadUndoFile";
    }
    return "?";
}

ImagePlatform::ImagePlatform(std::vector<ImageSource> images) : images_(std::move(images)) {}

ImagePlatform::ImagePlatform(const std::vector<std::string>& imagePaths) {
    for (const std::string& path : imagePaths) images_.push_back({path, nullptr});
}

ImagePlatform::Verdict ImagePlatform::Intercept(PlatformCall call, int drive, char letter,
                                                uint64_t position) {
    CallRecord record{calls_.size() + 1, call, drive, letter, position, false};
    Verdict verdict;
    if (failNumbers_.count(record.number)) verdict.fail = true;
    for (const Fault& fault : faults_) {
        if (fault.call != call || (fault.drive >= 0 && fault.drive != drive) ||
            (fault.letter != 0 && fault.letter != letter) || (fault.position && *fault.position != position))
            continue;
        if (fault.shortTransfer)
            verdict.shortTransfer = true;
        else
            verdict.fail = true;
    }
    record.failed = verdict.fail;
    record.shortTransfer = verdict.shortTransfer && !verdict.fail;
    calls_.push_back(record);
    return verdict;
}

uint64_t ImagePlatform::CountCalls(PlatformCall call) const {
    return static_cast<uint64_t>(
        std::count_if(calls_.begin(), calls_.end(), [call](const CallRecord& r) { return r.call == call; }));
}

std::optional<int32_t> ImagePlatform::DiskCount() {
    if (Intercept(PlatformCall::DiskCount, -1).fail) return std::nullopt;  // as a missing registry value
    return diskCount_.value_or(static_cast<int32_t>(images_.size()));
}

std::unique_ptr<SectorDevice> ImagePlatform::OpenPhysicalDrive(uint32_t drive, Access access) {
    const int driveNumber = drive < images_.size() ? static_cast<int>(drive) : -1;
    if (Intercept(PlatformCall::OpenDrive, static_cast<int>(drive)).fail || driveNumber < 0) return nullptr;
    // An empty card reader opens; only its reads fail.
    if (noMedium_.count(drive)) return std::make_unique<ImageDevice>(*this, nullptr, driveNumber, 0, 0, 0, 0);
    auto file = ImageFile::Open(images_[drive], access == Access::ReadWrite);
    if (!file) return nullptr;
    const uint64_t size = file->Size();
    return std::make_unique<ImageDevice>(*this, std::move(file), driveNumber, 0, 0, size, size);
}

void ImagePlatform::SwapMedium(uint32_t drive, ImageSource medium) {
    images_.at(drive) = std::move(medium);
    located_.clear();
}

std::map<char, std::string> ImagePlatform::DosDevices() const {
    std::map<char, std::string> inForce;
    for (const auto& [letter, stack] : dosDevices_) inForce[letter] = stack.back();
    return inForce;
}

std::optional<ImagePlatform::VolumeLocation> ImagePlatform::LocateVolume(char letter) {
    const auto device = dosDevices_.find(letter);
    if (device == dosDevices_.end()) return std::nullopt;
    const std::string& target = device->second.back();  // the newest definition is in force
    uint32_t drive = 0, partition = 0;
    if (!ParsePartitionTarget(target, drive, partition) || drive >= images_.size() || noMedium_.count(drive))
        return std::nullopt;
    const SharedMemoryImage& memory = images_[drive].memory;
    const auto known = located_.find(letter);
    if (memory && known != located_.end() && known->second.target == target &&
        known->second.generation == memory->Generation())
        return known->second.volume;
    auto file = ImageFile::Open(images_[drive], false);
    if (!file) return std::nullopt;
    std::optional<VolumeLocation> volume;
    if (const auto extent = FindWindowsPartition(*file, partition, SectorSizeOf(static_cast<int>(drive))))
        volume = VolumeLocation{drive, extent->offset, extent->length};
    if (memory) located_[letter] = {target, memory->Generation(), volume};
    return volume;
}

std::unique_ptr<SectorDevice> ImagePlatform::OpenVolume(char letter, Access access) {
    const auto volume = LocateVolume(letter);
    const int drive = volume ? static_cast<int>(volume->drive) : -1;
    if (Intercept(PlatformCall::OpenVolume, drive, letter).fail || !volume) return nullptr;
    auto file = ImageFile::Open(images_[volume->drive], access == Access::ReadWrite);
    if (!file) return nullptr;
    // Windows mounts the file system it recognises (here FAT32) on first use.
    const auto fat = Fat32Volume::Open(*file, {volume->offset, volume->length});
    const uint64_t writable = fat ? fat->ReservedBytes() : volume->length;
    return std::make_unique<ImageDevice>(*this, std::move(file), drive, letter, volume->offset,
                                         volume->length, writable);
}

uint32_t ImagePlatform::DriveType(char letter) {
    const auto volume = LocateVolume(letter);
    if (Intercept(PlatformCall::DriveType, volume ? static_cast<int>(volume->drive) : -1, letter).fail)
        return 0;  // DRIVE_UNKNOWN
    if (volume || letter == 'C') return DriveFixed;
    return DriveNoRootDir;
}

VolumeExtent ImagePlatform::FirstDiskExtent(char letter) {
    const auto volume = LocateVolume(letter);
    if (Intercept(PlatformCall::DiskExtent, volume ? static_cast<int>(volume->drive) : -1, letter).fail ||
        !volume)
        return {};
    return {volume->drive, static_cast<int64_t>(volume->offset), static_cast<int64_t>(volume->length)};
}

std::optional<VolumeInformation> ImagePlatform::QueryVolume(char letter) {
    const auto volume = LocateVolume(letter);
    if (Intercept(PlatformCall::QueryVolume, volume ? static_cast<int>(volume->drive) : -1, letter).fail ||
        !volume)
        return std::nullopt;
    auto file = ImageFile::Open(images_[volume->drive], false);
    if (!file) return std::nullopt;
    auto fat = Fat32Volume::Open(*file, {volume->offset, volume->length});
    if (!fat) return std::nullopt;  // a file system Windows cannot read here
    return VolumeInformation{fat->Label(), fat->SerialNumber(), "FAT32"};
}

std::optional<uint64_t> ImagePlatform::FreeBytes(char letter) {
    const auto volume = LocateVolume(letter);
    if (Intercept(PlatformCall::FreeBytes, volume ? static_cast<int>(volume->drive) : -1, letter).fail ||
        !volume)
        return std::nullopt;
    auto file = ImageFile::Open(images_[volume->drive], false);
    if (!file) return std::nullopt;
    auto fat = Fat32Volume::Open(*file, {volume->offset, volume->length});
    if (!fat) return std::nullopt;
    return fat->FreeBytes();
}

bool ImagePlatform::SetVolumeLabel(char letter, const std::string& label) {
    const auto volume = LocateVolume(letter);
    if (Intercept(PlatformCall::SetVolumeLabel, volume ? static_cast<int>(volume->drive) : -1, letter).fail ||
        !volume)
        return false;
    auto file = ImageFile::Open(images_[volume->drive], true);
    if (!file) return false;
    auto fat = Fat32Volume::Open(*file, {volume->offset, volume->length});
    return fat && fat->SetLabel(label);
}

uint32_t ImagePlatform::LogicalDriveMask() {
    if (Intercept(PlatformCall::LogicalDrives, -1).fail) return 0;
    return driveMask_;
}

// Windows keeps a stack of definitions per name: a new one hides the older
// ones until it is removed.
bool ImagePlatform::DefineDosDevice(char letter, const std::string& targetPath) {
    if (Intercept(PlatformCall::DefineDosDevice, -1, letter).fail || !IsLetter(letter)) return false;
    dosDevices_[letter].push_back(targetPath);
    driveMask_ |= LetterBit(letter);
    return true;
}

// DDD_EXACT_MATCH_ON_REMOVE: only the definition with this target goes,
// wherever it lies in the stack.
bool ImagePlatform::RemoveDosDevice(char letter, const std::string& targetPath) {
    if (Intercept(PlatformCall::RemoveDosDevice, -1, letter).fail) return false;
    const auto device = dosDevices_.find(letter);
    if (device == dosDevices_.end()) return false;
    auto& stack = device->second;
    const auto match = std::find(stack.rbegin(), stack.rend(), targetPath);
    if (match == stack.rend()) return false;
    stack.erase(std::next(match).base());
    if (stack.empty()) {
        dosDevices_.erase(device);
        driveMask_ &= ~LetterBit(letter);
    }
    return true;
}

uint32_t ImagePlatform::Version() {
    Intercept(PlatformCall::Version, -1);
    return version_;
}

// Named by date and time plus a counter, created only if no file has that
// name (as CREATE_NEW does), so two runs never write into one file.
std::optional<std::string> ImagePlatform::SaveUndoFile(std::span<const uint8_t> content) {
    if (Intercept(PlatformCall::SaveUndoFile, -1).fail) return std::nullopt;
    const std::time_t now = std::time(nullptr);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", std::localtime(&now));
    for (int counter = 1; counter < 1000; ++counter) {
        const std::string name = std::string(stamp) + "-" + std::to_string(counter) + ".qvundo";
        if (undoFolder_.empty()) {
            if (undoFiles_.count(name)) continue;
            undoFiles_[name].assign(content.begin(), content.end());
            return name;
        }
        std::error_code error;
        std::filesystem::create_directories(undoFolder_, error);
        const std::string path = (std::filesystem::path(undoFolder_) / name).string();
        std::FILE* file = std::fopen(path.c_str(), "wbx");
        if (!file) {
            if (std::filesystem::exists(path)) continue;
            return std::nullopt;
        }
        const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
        if (std::fclose(file) != 0 || !written) {
            std::filesystem::remove(path, error);
            return std::nullopt;
        }
        return path;
    }
    return std::nullopt;
}

std::optional<std::vector<uint8_t>> ImagePlatform::ReadUndoFile(const std::string& path) {
    if (Intercept(PlatformCall::ReadUndoFile, -1).fail) return std::nullopt;
    if (const auto kept = undoFiles_.find(path); kept != undoFiles_.end()) return kept->second;
    // Only a regular file is an undo file (a folder opens but cannot be read).
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes;
    for (char c; in.get(c);) bytes.push_back(static_cast<uint8_t>(c));
    if (!in.eof()) return std::nullopt;
    return bytes;
}

}  // namespace quorvane
