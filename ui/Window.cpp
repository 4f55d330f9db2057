#include "ui/Window.h"

#include <vector>

#include "platform/win32/WideText.h"

namespace quorvane {

namespace {
// The window property that leads from a handle to its toolkit object.
constexpr char ObjectProperty[] = "Quorvane.Window";
}  // namespace

std::string Window::Text() const {
    const int length = GetWindowTextLengthW(hwnd_);
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(hwnd_, buffer.data(), length + 1);
    return GbkFromWide(std::wstring_view(buffer.data(), copied > 0 ? static_cast<size_t>(copied) : 0));
}

void Window::SetText(std::string_view text) {
    const std::wstring wide = WideFromGbk(text);
    SendMessageW(hwnd_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()));
}

bool Window::Enabled() const {
    return IsWindowEnabled(hwnd_) != FALSE;
}

// EnableWindow keeps the WS_DISABLED bit of the window style in step.
void Window::SetEnabled(bool enabled) {
    EnableWindow(hwnd_, enabled ? TRUE : FALSE);
}

void Window::SetPosition(int x, int y) {
    SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Window::SetSize(int width, int height) {
    RECT rect{};
    GetWindowRect(hwnd_, &rect);
    if (width <= 0) width = rect.right - rect.left;
    if (height <= 0) height = rect.bottom - rect.top;
    SetWindowPos(hwnd_, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Window::SetBounds(const Bounds& bounds) {
    SetWindowPos(hwnd_, nullptr, bounds.x, bounds.y, bounds.width, bounds.height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

void Window::SetBackground(COLORREF colour) {
    background_ = colour;
    brush_.Reset();
    if (hwnd_ != nullptr) InvalidateRect(hwnd_, nullptr, TRUE);
}

void Window::AdoptFont(const LOGFONTW& logFont) {
    fontDescription_ = logFont;
    font_ = UniqueFont(CreateFontIndirectW(&logFont));
    if (hwnd_ != nullptr) SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), TRUE);
}

Window* Window::FromHandle(HWND window) {
    if (window == nullptr) return nullptr;
    return static_cast<Window*>(GetPropA(window, ObjectProperty));
}

void Window::Register() {
    SetPropA(hwnd_, ObjectProperty, this);
}

void Window::Unregister() {
    RemovePropA(hwnd_, ObjectProperty);
}

HBRUSH Window::BackgroundBrush(HDC dc) {
    if (brush_.Get() == nullptr) brush_ = UniqueBrush(CreateSolidBrush(background_));
    SetBkColor(dc, background_);
    return brush_.Get();
}

bool Window::RouteToChild(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
        case WM_COMMAND: {
            // lParam is 0 for menu and accelerator commands.
            Window* child = FromHandle(reinterpret_cast<HWND>(lParam));
            if (child == nullptr || !child->OnCommand(HIWORD(wParam))) return false;
            result = 0;
            return true;
        }
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            Window* child = FromHandle(header->hwndFrom);
            return child != nullptr && child->OnNotify(*header, lParam, result);
        }
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORLISTBOX: {
            Window* child = FromHandle(reinterpret_cast<HWND>(lParam));
            if (child == nullptr) return false;
            result = reinterpret_cast<LRESULT>(child->BackgroundBrush(reinterpret_cast<HDC>(wParam)));
            return true;
        }
        default: return false;
    }
}

}  // namespace quorvane
