// Owning wrappers for kernel32 and advapi32 handles: each is closed exactly
// once, on every path out of the function that opened it.
#pragma once

#include "platform/win32/WindowsApi.h"

namespace quorvane {

// A file or device handle from CreateFileA; INVALID_HANDLE_VALUE is "none".
class UniqueHandle {
 public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
    ~UniqueHandle() { Reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            Reset();
            handle_ = other.Release();
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    HANDLE Get() const { return handle_; }
    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    HANDLE Release() {
        HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return handle;
    }
    void Reset() {
        if (Valid()) CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

 private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

class UniqueRegistryKey {
 public:
    UniqueRegistryKey() = default;
    ~UniqueRegistryKey() {
        if (key_ != nullptr) RegCloseKey(key_);
    }
    UniqueRegistryKey(const UniqueRegistryKey&) = delete;
    UniqueRegistryKey& operator=(const UniqueRegistryKey&) = delete;

    HKEY Get() const { return key_; }
    HKEY* Put() { return &key_; }

 private:
    HKEY key_ = nullptr;
};

}  // namespace quorvane
