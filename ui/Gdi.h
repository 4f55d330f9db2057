// Owning wrappers for GDI objects and image lists: each is released exactly
// once, by the object that created it.
#pragma once

#include "platform/win32/WindowsApi.h"

namespace quorvane {

template <typename Handle>
class GdiObject {
 public:
    GdiObject() = default;
    explicit GdiObject(Handle handle) : handle_(handle) {}
    ~GdiObject() { Reset(); }
    GdiObject(GdiObject&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    GdiObject& operator=(GdiObject&& other) noexcept {
        if (this != &other) {
            Reset();
            handle_ = other.handle_;
            other.handle_ = nullptr;
        }
        return *this;
    }
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;

    Handle Get() const { return handle_; }
    void Reset() {
        if (handle_ != nullptr) DeleteObject(handle_);
        handle_ = nullptr;
    }

 private:
    Handle handle_ = nullptr;
};

using UniqueFont = GdiObject<HFONT>;
using UniqueBrush = GdiObject<HBRUSH>;
using UniqueBitmap = GdiObject<HBITMAP>;

class UniqueImageList {
 public:
    UniqueImageList() = default;
    explicit UniqueImageList(HIMAGELIST list) : list_(list) {}
    ~UniqueImageList() {
        if (list_ != nullptr) ImageList_Destroy(list_);
    }
    UniqueImageList(UniqueImageList&& other) noexcept : list_(other.list_) { other.list_ = nullptr; }
    UniqueImageList& operator=(UniqueImageList&& other) noexcept {
        if (this != &other) {
            if (list_ != nullptr) ImageList_Destroy(list_);
            list_ = other.list_;
            other.list_ = nullptr;
        }
        return *this;
    }
    UniqueImageList(const UniqueImageList&) = delete;
    UniqueImageList& operator=(const UniqueImageList&) = delete;

    HIMAGELIST Get() const { return list_; }

 private:
    HIMAGELIST list_ = nullptr;
};

// A window's device context, released on every path.
class WindowDc {
 public:
    explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
    ~WindowDc() {
        if (dc_ != nullptr) ReleaseDC(window_, dc_);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;

    HDC Get() const { return dc_; }

 private:
    HWND window_;
    HDC dc_;
};

// Selects an object into a device context and puts the old one back.
class SelectedObject {
 public:
    SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), old_(SelectObject(dc, object)) {}
    ~SelectedObject() {
        if (old_ != nullptr) SelectObject(dc_, old_);
    }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

 private:
    HDC dc_;
    HGDIOBJ old_;
};

}  // namespace quorvane

namespace quorvane {

// An image list of 24-bit pictures of `size` × `size` pixels, filled from a
// bitmap resource of the program (stretched to that size) with `transparent`
// masked out.
UniqueImageList LoadImageList(HINSTANCE instance, const char* bitmapResource, int size, COLORREF transparent);

}  // namespace quorvane
