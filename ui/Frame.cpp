#include "ui/Frame.h"

#include "platform/win32/WideText.h"
#include "ui/Controls.h"
#include "ui/Dpi.h"

namespace quorvane {

Frame::Frame(HINSTANCE instance, const FrameOptions& options) : instance_(instance) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = options.iconResource ? LoadIconA(instance, options.iconResource) : nullptr;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    windowClass.lpszClassName = options.className;
    RegisterClassExW(&windowClass);

    // A window made with the W calls takes and reports UTF-16 text, and its
    // controls send it UTF-16 notifications (WM_NOTIFYFORMAT).
    const std::wstring caption = WideFromGbk(options.caption);
    CreateWindowExW(0, options.className, caption.c_str(), options.style, CW_USEDEFAULT, CW_USEDEFAULT,
                    CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, this);
    dpi_ = DpiOfWindow(hwnd_);
    if (options.iconResource) SetIcon(options.iconResource);
}

Frame::~Frame() {
    Destroy();
}

void Frame::Destroy() {
    // Nothing of the owner may run while the window is torn down.
    hooks_.clear();
    closeHandler_ = nullptr;
    if (hwnd_ != nullptr) DestroyWindow(hwnd_);
}

void Frame::AddMessageHook(MessageHook hook) {
    hooks_.push_back(std::move(hook));
}

void Frame::SetCancelButton(Button& button) {
    const HWND buttonWindow = button.Handle();
    AddMessageHook([buttonWindow](const Message& message) {
        if ((message.message != WM_KEYDOWN && message.message != WM_KEYUP) || message.wParam != VK_ESCAPE)
            return false;
        if (!IsWindowVisible(buttonWindow) || !IsWindowEnabled(buttonWindow)) return false;
        // A push button is pressed by the space bar going down and clicked by
        // it coming up, exactly as if the user had used the space bar on it.
        if (message.message == WM_KEYDOWN) {
            ::SetFocus(buttonWindow);
            SendMessageW(buttonWindow, WM_KEYDOWN, VK_SPACE, 0);
        } else {
            SendMessageW(buttonWindow, WM_KEYUP, VK_SPACE, 0xC0000001);
        }
        return true;
    });
}

void Frame::EnableTabNavigation() {
    AddMessageHook([this](const Message& message) { return OnTabKey(message); });
}

bool Frame::OnTabKey(const Message& message) {
    if (message.message != WM_KEYDOWN || message.wParam != VK_TAB) return false;
    if ((GetKeyState(VK_CONTROL) & 0x8000) != 0 || (GetKeyState(VK_MENU) & 0x8000) != 0) return false;
    const bool backwards = (GetKeyState(VK_SHIFT) & 0x8000) != 0;
    // The next visible, enabled control with WS_TABSTOP in z-order; a
    // WS_EX_CONTROLPARENT group is walked into.
    const HWND next = GetNextDlgTabItem(hwnd_, GetFocus(), backwards ? TRUE : FALSE);
    if (next == nullptr) return true;
    ::SetFocus(next);
    // As a dialog does: a field reached by Tab has its whole text selected,
    // so typing replaces it.
    if ((SendMessageW(next, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) != 0) SendMessageW(next, EM_SETSEL, 0, -1);
    return true;
}

void Frame::SetClientSize(int width, int height) {
    RECT client{};
    GetClientRect(hwnd_, &client);
    const SIZE outer =
        OuterSizeForClient(width > 0 ? width : client.right, height > 0 ? height : client.bottom,
                           static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_STYLE)),
                           static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_EXSTYLE)), dpi_);
    SetSize(outer.cx, outer.cy);
}

void Frame::ShowFocusCues() {
    // A top-level window passes the new state on to all its controls.
    SendMessageW(hwnd_, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
}

void Frame::CenterOnScreen() {
    // The whole screen, not the work area: the task bar does not move it.
    RECT outer{};
    GetWindowRect(hwnd_, &outer);
    const int width = outer.right - outer.left;
    const int height = outer.bottom - outer.top;
    SetPosition((GetSystemMetrics(SM_CXSCREEN) - width) / 2, (GetSystemMetrics(SM_CYSCREEN) - height) / 2);
}

void Frame::SetIcon(const char* resourceName) {
    iconResource_ = resourceName;
    const HICON icon = LoadIconA(instance_, resourceName);
    SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    // The caption and the task bar want the 16-pixel picture of the same group,
    // not the large one scaled down. Shared icons are never destroyed.
    const HANDLE small =
        LoadImageA(instance_, resourceName, IMAGE_ICON, SystemMetricForDpi(SM_CXSMICON, dpi_),
                   SystemMetricForDpi(SM_CYSMICON, dpi_), LR_SHARED);
    SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
}

void Frame::SetCursor(HCURSOR cursor) {
    cursor_ = cursor;
    ::SetCursor(cursor != nullptr ? cursor : LoadCursor(nullptr, IDC_ARROW));
}

void Frame::RequestClose() {
    PostMessageW(hwnd_, WM_CLOSE, 0, 0);
}

void Frame::NoteControlCreated(HWND control, bool tabStop) {
    if (tabStop && firstTabStop_ == nullptr) firstTabStop_ = control;
}

void Frame::RunMessageLoop() {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        // Without a desktop (Wine without a display) the window cannot be
        // created and a close request arrives as a thread message; the close
        // path still runs.
        if (message.hwnd == nullptr && message.message == WM_CLOSE) {
            OnCloseMessage();
            continue;
        }
        // The window's own messages meet the hooks in HandleMessage; those of
        // its controls meet them here, before the control sees them.
        if (hwnd_ != nullptr && IsChild(hwnd_, message.hwnd) &&
            RunHooks({message.hwnd, message.message, message.wParam, message.lParam}))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

bool Frame::RunHooks(const Message& message) {
    for (const MessageHook& hook : hooks_)
        if (hook(message)) return true;
    return false;
}

LRESULT CALLBACK Frame::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* frame = static_cast<Frame*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        frame->hwnd_ = window;
        frame->Register();
    }
    auto* frame = static_cast<Frame*>(FromHandle(window));
    if (frame == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    return frame->HandleMessage(message, wParam, lParam);
}

LRESULT Frame::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (RunHooks({hwnd_, message, wParam, lParam})) return 0;
    LRESULT result = 0;
    if (RouteToChild(message, wParam, lParam, result)) return result;
    switch (message) {
        case WM_CLOSE: OnCloseMessage(); return 0;
        case WM_DESTROY:
            // This is the program's main window: closing it ends the loop.
            PostQuitMessage(0);
            return 0;
        case WM_NCDESTROY: {
            const HWND window = hwnd_;
            Unregister();
            hwnd_ = nullptr;
            return DefWindowProcW(window, message, wParam, lParam);
        }
        case WM_SETFOCUS: {
            // The window passes the focus on to the control that had it last,
            // at first to the first control created with a tab stop.
            const HWND target = lastFocus_ != nullptr && IsWindow(lastFocus_) ? lastFocus_ : firstTabStop_;
            if (target != nullptr) ::SetFocus(target);
            return 0;
        }
        // https://learn.microsoft.com/windows/win32/hidpi/wm-dpichanged
        case WM_DPICHANGED: OnDpiChanged(LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam)); return 0;
        case WM_SETCURSOR:
            if (cursor_ != nullptr && LOWORD(lParam) == HTCLIENT) {
                ::SetCursor(cursor_);
                return TRUE;
            }
            break;
        default: break;
    }
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}

bool Frame::AdoptScreenDpi() {
    const int dpi = DpiOfWindow(hwnd_);
    if (dpi == dpi_) return false;
    dpi_ = dpi;
    if (dpiChangedHandler_) dpiChangedHandler_(dpi);
    if (iconResource_ != nullptr) SetIcon(iconResource_);
    return true;
}

void Frame::OnDpiChanged(int dpi, const RECT& suggested) {
    dpi_ = dpi;
    if (dpiChangedHandler_) dpiChangedHandler_(dpi);
    // Windows suggests where the window keeps its place on the new screen.
    SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    // The caption's small picture at the size of the new screen.
    if (iconResource_ != nullptr) SetIcon(iconResource_);
}

void Frame::OnCloseMessage() {
    bool accept = true;
    if (closeHandler_) closeHandler_(accept);
    if (!accept) return;
    // The handler runs for the first accepted close only; a WM_CLOSE already
    // queued behind this one finds the window gone.
    closeHandler_ = nullptr;
    if (hwnd_ != nullptr)
        DestroyWindow(hwnd_);
    else
        PostQuitMessage(0);
}

}  // namespace quorvane
