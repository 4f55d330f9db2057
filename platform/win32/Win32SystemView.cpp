// Windows' own view of the disks: the partition layout it keeps for each
// drive, the volumes it lets the program lock, and what keeps it running
// (its directory, its page files, the system partition). One small function
// per system call; what the program makes of the answers is decided in scan/
// and apply/.
// <winioctl.h> needs the types of <windows.h>.
// clang-format off
#include "platform/win32/WindowsApi.h"
#include <winioctl.h>
// clang-format on

#include <array>
#include <cstddef>
#include <cstring>
#include <vector>

#include "platform/win32/UniqueHandle.h"
#include "platform/win32/WideText.h"
#include "platform/win32/Win32Platform.h"

namespace quorvane {

namespace {

// A DRIVE_LAYOUT_INFORMATION_EX with room for this many entries; an MBR disk
// lists four per table sector, so 128 is grown only for long EBR chains.
constexpr DWORD FirstLayoutEntries = 128;
constexpr DWORD MostLayoutBytes = 1 << 20;

LayoutEntry EntryOf(const PARTITION_INFORMATION_EX& partition, PartitionStyle style) {
    LayoutEntry entry;
    entry.number = partition.PartitionNumber;
    entry.offset = static_cast<uint64_t>(partition.StartingOffset.QuadPart);
    entry.length = static_cast<uint64_t>(partition.PartitionLength.QuadPart);
    if (style == PartitionStyle::Mbr) {
        entry.mbrType = partition.Mbr.PartitionType;
    } else if (style == PartitionStyle::Gpt) {
        // GUID is Data1 (32-bit), Data2, Data3 (16-bit) and Data4[8]: on x86
        // its memory is the GPT's on-disk order (little-endian fields).
        static_assert(sizeof(GUID) == 16);
        std::memcpy(entry.gptType.data(), &partition.Gpt.PartitionType, 16);
        entry.gptAttributes = partition.Gpt.Attributes;
    }
    return entry;
}

// REG_SZ or REG_MULTI_SZ under HKEY_LOCAL_MACHINE, one text per string.
std::vector<std::string> RegistryTexts(const wchar_t* keyName, const wchar_t* valueName) {
    UniqueRegistryKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyName, 0, KEY_READ, key.Put()) != ERROR_SUCCESS) return {};
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key.Get(), valueName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_MULTI_SZ && type != REG_EXPAND_SZ) || size > MostLayoutBytes)
        return {};
    // Room for the terminators a value may lack.
    std::vector<wchar_t> value(size / sizeof(wchar_t) + 2, L'\0');
    if (RegQueryValueExW(key.Get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size) !=
        ERROR_SUCCESS)
        return {};
    std::vector<std::string> texts;
    for (size_t at = 0; at < value.size() && value[at] != L'\0';) {
        const std::wstring text(value.data() + at);
        texts.push_back(GbkFromWide(text));
        at += text.size() + 1;
        if (type != REG_MULTI_SZ) break;
    }
    return texts;
}

}  // namespace

namespace {

// The physical drive, opened for queries only.
UniqueHandle OpenDriveForQueries(uint32_t drive) {
    const std::string path = "\\\\.\\PHYSICALDRIVE" + std::to_string(drive);
    return UniqueHandle(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
}

}  // namespace

std::optional<bool> Win32Platform::RemovableMedia(uint32_t drive) {
    const UniqueHandle disk = OpenDriveForQueries(drive);
    if (!disk.Valid()) return std::nullopt;
    STORAGE_PROPERTY_QUERY query{};
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    alignas(8) std::array<unsigned char, 1024> answer{};
    DWORD returned = 0;
    if (!DeviceIoControl(disk.Get(), IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, answer.data(),
                         static_cast<DWORD>(answer.size()), &returned, nullptr) ||
        returned < offsetof(STORAGE_DEVICE_DESCRIPTOR, RemovableMedia) + 1)
        return std::nullopt;
    STORAGE_DEVICE_DESCRIPTOR descriptor;
    std::memcpy(&descriptor, answer.data(), sizeof descriptor);
    return descriptor.RemovableMedia != FALSE;
}

std::optional<DriveLayout> Win32Platform::QueryDriveLayout(uint32_t drive) {
    const UniqueHandle disk = OpenDriveForQueries(drive);
    if (!disk.Valid()) return std::nullopt;
    DWORD bytes = offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry) +
                  FirstLayoutEntries * sizeof(PARTITION_INFORMATION_EX);
    std::vector<unsigned char> answer;
    for (;;) {
        answer.assign(bytes, 0);
        DWORD returned = 0;
        if (DeviceIoControl(disk.Get(), IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, answer.data(), bytes,
                            &returned, nullptr))
            break;
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes >= MostLayoutBytes) return std::nullopt;
        bytes *= 2;
    }
    DRIVE_LAYOUT_INFORMATION_EX head;
    std::memcpy(&head, answer.data(), offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry));
    DriveLayout layout;
    layout.style = head.PartitionStyle == PARTITION_STYLE_MBR   ? PartitionStyle::Mbr
                   : head.PartitionStyle == PARTITION_STYLE_GPT ? PartitionStyle::Gpt
                                                                : PartitionStyle::Raw;
    const size_t room = (answer.size() - offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry)) /
                        sizeof(PARTITION_INFORMATION_EX);
    for (size_t i = 0; i < head.PartitionCount && i < room; ++i) {
        PARTITION_INFORMATION_EX partition;
        std::memcpy(&partition,
                    answer.data() + offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry) + i * sizeof partition,
                    sizeof partition);
        layout.entries.push_back(EntryOf(partition, layout.style));
    }
    return layout;
}

// The partition device of a partition without a letter is reached through
// the object manager's root ("\\?\GLOBALROOT\Device\HarddiskD\PartitionN");
// it leads to the volume mounted on it.
std::unique_ptr<SectorDevice> Win32Platform::OpenVolumeToLock(const VolumeName& name, VolumeOpenStatus& status) {
    const std::string path = name.letter != 0 ? std::string("\\\\.\\") + name.letter + ':'
                                              : "\\\\?\\GLOBALROOT\\Device\\Harddisk" + std::to_string(name.drive) +
                                                    "\\Partition" + std::to_string(name.partition);
    UniqueHandle volume(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
    if (!volume.Valid()) {
        const DWORD error = GetLastError();
        status = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? VolumeOpenStatus::NothingMounted
                                                                                : VolumeOpenStatus::Failed;
        return nullptr;
    }
    status = VolumeOpenStatus::Opened;
    return MakeWin32Device(std::move(volume));
}

void Win32Platform::Pause(uint32_t milliseconds) {
    Sleep(milliseconds);
}

std::string Win32Platform::WindowsDirectory() {
    wchar_t directory[MAX_PATH + 1] = {};
    const UINT length = GetWindowsDirectoryW(directory, MAX_PATH);
    if (length == 0 || length > MAX_PATH) return {};
    return GbkFromWide(directory);
}

std::vector<std::string> Win32Platform::PageFiles() {
    const wchar_t* key = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory Management";
    std::vector<std::string> files = RegistryTexts(key, L"ExistingPageFiles");
    if (files.empty()) files = RegistryTexts(key, L"PagingFiles");
    return files;
}

std::string Win32Platform::SystemPartition() {
    const std::vector<std::string> value = RegistryTexts(L"SYSTEM\\Setup", L"SystemPartition");
    return value.empty() ? std::string{} : value.front();
}

VolumeExtent Win32Platform::DeviceExtent(const std::string& ntDevice) {
    const std::optional<std::wstring> device = StrictWideFromGbk(ntDevice);
    if (!device) return {};
    const std::wstring path = L"\\\\?\\GLOBALROOT" + *device;
    // No access is needed to ask a volume for its extents.
    const UniqueHandle volume(
        CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!volume.Valid()) return {};
    return FirstExtentOfVolume(volume.Get());
}

}  // namespace quorvane
