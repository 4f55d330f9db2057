#include "platform/image/ImagePlatform.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/image/ImageFile.h"

namespace quorvane {

namespace {

constexpr uint32_t DriveNoRootDir = 1;

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
        case PlatformCall::DriveLayout: return "DriveLayout";
        case PlatformCall::OpenVolumeToLock: return "OpenVolumeToLock";
        case PlatformCall::LockVolume: return "LockVolume";
        case PlatformCall::DismountVolume: return "DismountVolume";
        case PlatformCall::Pause: return "Pause";
        case PlatformCall::WindowsDirectory: return "WindowsDirectory";
        case PlatformCall::PageFiles: return "PageFiles";
        case PlatformCall::SystemPartition: return "SystemPartition";
        case PlatformCall::DeviceExtent: return "DeviceExtent";
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
    views_.erase(drive);
}

std::map<char, std::string> ImagePlatform::DosDevices() const {
    std::map<char, std::string> inForce;
    for (const auto& [letter, stack] : dosDevices_) inForce[letter] = stack.back();
    return inForce;
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
