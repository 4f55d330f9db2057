#include "platform/win32/Win32Platform.h"

#include <shlobj.h>
#include <winioctl.h>

#include <array>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <algorithm>

#include "platform/win32/UniqueHandle.h"
#include "platform/win32/WideText.h"
#include "platform/win32/WindowsApi.h"

namespace quorvane {

namespace {

// The logical sector size a disk or volume reports; 512 where the query
// fails (older systems; Wine answers ERROR_NOT_SUPPORTED to disk IOCTLs).
uint32_t QuerySectorSize(HANDLE handle) {
    alignas(8) std::array<unsigned char, sizeof(DISK_GEOMETRY_EX) + 64> answer{};
    DWORD returned = 0;
    if (!DeviceIoControl(handle, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, answer.data(),
                         static_cast<DWORD>(answer.size()), &returned, nullptr) ||
        returned < sizeof(DISK_GEOMETRY))
        return SectorSize;
    DISK_GEOMETRY geometry;
    std::memcpy(&geometry, answer.data() + offsetof(DISK_GEOMETRY_EX, Geometry), sizeof geometry);
    return geometry.BytesPerSector != 0 ? geometry.BytesPerSector : SectorSize;
}

// Raw reads and writes go through page-aligned memory: unbuffered device I/O
// wants a buffer aligned to the sector size.
struct PageMemoryFree {
    void operator()(uint8_t* memory) const { VirtualFree(memory, 0, MEM_RELEASE); }
};
using PageMemory = std::unique_ptr<uint8_t, PageMemoryFree>;

// A raw physical drive or volume opened with CreateFileA.
class Win32Device : public SectorDevice {
 public:
    explicit Win32Device(UniqueHandle handle)
        : handle_(std::move(handle)), sectorSize_(QuerySectorSize(handle_.Get())) {}

    uint32_t LogicalSectorSize() const override { return sectorSize_; }

    bool Seek(uint64_t position) override {
        LONG high = static_cast<LONG>(position >> 32);
        // A low half of 0xFFFFFFFF is also INVALID_SET_FILE_POINTER, so only
        // the error code tells a failure.
        SetLastError(NO_ERROR);
        const DWORD low =
            SetFilePointer(handle_.Get(), static_cast<LONG>(position & 0xFFFFFFFFu), &high, FILE_BEGIN);
        return !(low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR);
    }

    bool Read(std::span<uint8_t> buffer, uint32_t& transferred) override {
        DWORD count = 0;
        transferred = 0;
        uint8_t* aligned = Aligned(buffer.size());
        if (!aligned) return false;
        const BOOL ok = ReadFile(handle_.Get(), aligned, static_cast<DWORD>(buffer.size()), &count, nullptr);
        std::memcpy(buffer.data(), aligned, std::min<size_t>(count, buffer.size()));
        transferred = count;
        if (!ok) {
            const DWORD error = GetLastError();
            noMedium_ = error == ERROR_NOT_READY || error == ERROR_NO_MEDIA_IN_DRIVE;
        }
        return ok != FALSE;
    }

    bool NoMedium() const override { return noMedium_; }

    // IOCTL_DISK_GET_LENGTH_INFO answers for disks and volumes; where it is
    // not supported (Wine answers ERROR_NOT_SUPPORTED to every disk IOCTL), a
    // seek to the end tells the size. The file pointer is put back.
    std::optional<uint64_t> Size() override {
        GET_LENGTH_INFORMATION length{};
        DWORD returned = 0;
        if (DeviceIoControl(handle_.Get(), IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length,
                            &returned, nullptr))
            return static_cast<uint64_t>(length.Length.QuadPart);
        LARGE_INTEGER here{}, end{}, zero{};
        if (!SetFilePointerEx(handle_.Get(), zero, &here, FILE_CURRENT) ||
            !SetFilePointerEx(handle_.Get(), zero, &end, FILE_END))
            return std::nullopt;
        SetFilePointerEx(handle_.Get(), here, nullptr, FILE_BEGIN);
        return static_cast<uint64_t>(end.QuadPart);
    }

    bool Write(std::span<const uint8_t> buffer, uint32_t& transferred) override {
        DWORD count = 0;
        transferred = 0;
        uint8_t* aligned = Aligned(buffer.size());
        if (!aligned) return false;
        std::memcpy(aligned, buffer.data(), buffer.size());
        const BOOL ok = WriteFile(handle_.Get(), aligned, static_cast<DWORD>(buffer.size()), &count, nullptr);
        transferred = count;
        return ok != FALSE;
    }

    bool RefreshLayout() override { return Control(IOCTL_DISK_UPDATE_PROPERTIES); }
    bool LockVolume() override { return Control(FSCTL_LOCK_VOLUME); }
    bool DismountVolume() override { return Control(FSCTL_DISMOUNT_VOLUME); }

 private:
    bool Control(DWORD code) {
        DWORD returned = 0;
        return DeviceIoControl(handle_.Get(), code, nullptr, 0, nullptr, 0, &returned, nullptr) != FALSE;
    }

    uint8_t* Aligned(size_t size) {
        if (size > alignedSize_) {
            memory_.reset(static_cast<uint8_t*>(VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)));
            alignedSize_ = memory_ ? size : 0;
        }
        return memory_.get();
    }

    UniqueHandle handle_;
    uint32_t sectorSize_;
    bool noMedium_ = false;
    PageMemory memory_;
    size_t alignedSize_ = 0;
};

DWORD DesiredAccess(Access access) {
    return access == Access::Read ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
}

UniqueHandle OpenDevice(const std::string& path, Access access) {
    return UniqueHandle(CreateFileA(path.c_str(), DesiredAccess(access), FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
}

std::string VolumeDevicePath(char letter) {
    return std::string("\\\\.\\") + letter + ':';
}
std::string DrivePath(char letter) {
    return std::string(1, letter) + ':';
}
std::string RootPath(char letter) {
    return std::string(1, letter) + ":\\";
}
std::wstring WideRootPath(char letter) {
    return std::wstring(1, static_cast<wchar_t>(letter)) + L":\\";
}

using GetDiskFreeSpaceExAFunction = BOOL(WINAPI*)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);

// GetDiskFreeSpaceExA is missing from the first releases of Windows 95, so it
// is looked up at run time.
GetDiskFreeSpaceExAFunction FindGetDiskFreeSpaceEx() {
    const HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    if (kernel32 == nullptr) return nullptr;
    const FARPROC proc = GetProcAddress(kernel32, "GetDiskFreeSpaceExA");
    // Through void(*)(), the one function type GCC lets any other convert to.
    return reinterpret_cast<GetDiskFreeSpaceExAFunction>(reinterpret_cast<void (*)()>(proc));
}

}  // namespace

std::unique_ptr<SectorDevice> MakeWin32Device(UniqueHandle handle) {
    return std::make_unique<Win32Device>(std::move(handle));
}

std::optional<int32_t> Win32Platform::DiskCount() {
    UniqueRegistryKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\Disk\\Enum", 0, KEY_READ,
                      key.Put()) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExA(key.Get(), "Count", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD)
        return std::nullopt;
    return static_cast<int32_t>(value);
}

std::unique_ptr<SectorDevice> Win32Platform::OpenPhysicalDrive(uint32_t drive, Access access) {
    UniqueHandle handle = OpenDevice("\\\\.\\PHYSICALDRIVE" + std::to_string(drive), access);
    if (!handle.Valid()) return nullptr;
    return std::make_unique<Win32Device>(std::move(handle));
}

// Since Windows Vista a physical-drive handle may not write into the sectors
// of a mounted volume, but the volume's own handle may write its boot sectors.
std::unique_ptr<SectorDevice> Win32Platform::OpenVolume(char letter, Access access) {
    UniqueHandle handle = OpenDevice(VolumeDevicePath(letter), access);
    if (!handle.Valid()) return nullptr;
    return std::make_unique<Win32Device>(std::move(handle));
}

uint32_t Win32Platform::DriveType(char letter) {
    return GetDriveTypeA(DrivePath(letter).c_str());
}

VolumeExtent FirstExtentOfVolume(HANDLE volume) {
    VolumeExtent extent;
    // VOLUME_DISK_EXTENTS: a 32-bit count, alignment, then 24-byte DISK_EXTENT
    // entries; 260 bytes hold ten. A volume with more makes the call fail.
    alignas(8) std::array<unsigned char, 260> answer{};
    DWORD returned = 0;
    if (!DeviceIoControl(volume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, answer.data(),
                         static_cast<DWORD>(answer.size()), &returned, nullptr))
        return extent;
    DWORD count = 0;
    std::memcpy(&count, answer.data(), sizeof count);
    if (count == 0) return extent;
    DISK_EXTENT first;
    std::memcpy(&first, answer.data() + offsetof(VOLUME_DISK_EXTENTS, Extents), sizeof first);
    extent.diskNumber = first.DiskNumber;
    extent.startingOffset = first.StartingOffset.QuadPart;
    extent.extentLength = first.ExtentLength.QuadPart;
    return extent;
}

VolumeExtent Win32Platform::FirstDiskExtent(char letter) {
    const UniqueHandle volume = OpenDevice(VolumeDevicePath(letter), Access::ReadWrite);
    if (!volume.Valid()) return {};
    return FirstExtentOfVolume(volume.Get());
}

std::optional<VolumeInformation> Win32Platform::QueryVolume(char letter) {
    // Both buffers hold 256 characters and are announced as 255, so the text
    // always ends in a NUL even if the system fills the announced size.
    wchar_t label[256] = {};
    wchar_t fileSystem[256] = {};
    DWORD serial = 0;
    DWORD maxComponentLength = 0;
    DWORD flags = 0;
    if (!GetVolumeInformationW(WideRootPath(letter).c_str(), label, 255, &serial, &maxComponentLength, &flags,
                               fileSystem, 255))
        return std::nullopt;
    // The label in code page 936 whatever code page Windows runs in; a
    // character 936 lacks stays marked, so it is never set back as '?'.
    return VolumeInformation{GbkFromWide(label), serial, GbkFromWide(fileSystem)};
}

std::optional<uint64_t> Win32Platform::FreeBytes(char letter) {
    static const GetDiskFreeSpaceExAFunction getDiskFreeSpaceEx = FindGetDiskFreeSpaceEx();
    if (getDiskFreeSpaceEx != nullptr) {
        ULARGE_INTEGER available{};
        ULARGE_INTEGER total{};
        ULARGE_INTEGER totalFree{};
        if (!getDiskFreeSpaceEx(DrivePath(letter).c_str(), &available, &total, &totalFree))
            return std::nullopt;
        return totalFree.QuadPart;
    }
    DWORD sectorsPerCluster = 0;
    DWORD bytesPerSector = 0;
    DWORD freeClusters = 0;
    DWORD clusters = 0;
    // The old call wants the root directory, with its backslash.
    if (!GetDiskFreeSpaceA(RootPath(letter).c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters,
                           &clusters))
        return std::nullopt;
    return uint64_t{sectorsPerCluster} * bytesPerSector * freeClusters;
}

// A label that is not plain code page 936 (a character marked as having no
// bytes there, or invalid bytes) is refused rather than passed on altered.
bool Win32Platform::SetVolumeLabel(char letter, const std::string& label) {
    const std::optional<std::wstring> wide = StrictWideFromGbk(label);
    if (!wide) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return false;
    }
    return SetVolumeLabelW(WideRootPath(letter).c_str(), wide->c_str()) != FALSE;
}

uint32_t Win32Platform::LogicalDriveMask() {
    return GetLogicalDrives();
}

bool Win32Platform::DefineDosDevice(char letter, const std::string& targetPath) {
    return DefineDosDeviceA(DDD_RAW_TARGET_PATH, DrivePath(letter).c_str(), targetPath.c_str()) != FALSE;
}

bool Win32Platform::RemoveDosDevice(char letter, const std::string& targetPath) {
    return DefineDosDeviceA(DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE | DDD_RAW_TARGET_PATH,
                            DrivePath(letter).c_str(), targetPath.c_str()) != FALSE;
}

// GetVersion is deprecated, but only it reports the Windows 95/98/Me platform bit.
#ifdef _MSC_VER
#pragma warning(push)
#pragma warning(disable : 4996)
#endif
uint32_t Win32Platform::Version() {
    return GetVersion();
}
#ifdef _MSC_VER
#pragma warning(pop)
#endif

// %ProgramData%\Quorvane\undo (the common application-data folder), made
// when first needed; each file named by local date and time plus a counter
// and created with CREATE_NEW, so two runs never share one. The path is
// returned in code page 936, as /U takes it back; a folder whose name 936
// cannot hold could not be named there, so no file is written in it.
std::optional<std::string> Win32Platform::SaveUndoFile(std::span<const uint8_t> content) {
    wchar_t common[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common)))
        return std::nullopt;
    std::wstring folder = std::wstring(common) + L"\\Quorvane";
    if (HoldsUnrepresentable(GbkFromWide(folder))) return std::nullopt;
    CreateDirectoryW(folder.c_str(), nullptr);  // an existing folder is fine
    folder += L"\\undo";
    CreateDirectoryW(folder.c_str(), nullptr);
    SYSTEMTIME now{};
    GetLocalTime(&now);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04u%02u%02u-%02u%02u%02u", now.wYear, now.wMonth, now.wDay,
                  now.wHour, now.wMinute, now.wSecond);
    for (int counter = 1; counter < 1000; ++counter) {
        const std::wstring path =
            folder + L"\\" + WideFromGbk(stamp) + L"-" + std::to_wstring(counter) + L".qvundo";
        UniqueHandle file(
            CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.Valid()) {
            if (GetLastError() == ERROR_FILE_EXISTS) continue;
            return std::nullopt;
        }
        DWORD written = 0;
        const bool whole =
            WriteFile(file.Get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
            written == content.size() && FlushFileBuffers(file.Get());
        file = UniqueHandle();
        if (!whole) {
            DeleteFileW(path.c_str());
            return std::nullopt;
        }
        return GbkFromWide(path);
    }
    return std::nullopt;
}

std::optional<std::vector<uint8_t>> Win32Platform::ReadUndoFile(const std::string& path) {
    const std::optional<std::wstring> widePath = StrictWideFromGbk(path);
    if (!widePath) return std::nullopt;
    UniqueHandle file(CreateFileW(widePath->c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) return std::nullopt;
    LARGE_INTEGER size{};
    // Undo files are small; anything large is no undo file.
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart > (16 << 20)) return std::nullopt;
    std::vector<uint8_t> content(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!content.empty() &&
        (!ReadFile(file.Get(), content.data(), static_cast<DWORD>(content.size()), &read, nullptr) ||
         read != content.size()))
        return std::nullopt;
    return content;
}

}  // namespace quorvane
