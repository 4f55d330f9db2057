// The top-level window: its own window class, the message loop, the message
// hooks that see every message first, the close handler, the cancel button,
// the focus rule and Tab, the cursor, and the DPI it is drawn at. Controls
// are created inside it (ui/Controls.h).
#pragma once

#include <functional>
#include <string_view>
#include <vector>

#include "ui/Window.h"

namespace quorvane {

class Button;

// One message as the window received it.
struct Message {
    HWND hwnd = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

// Returns true when it consumed the message.
using MessageHook = std::function<bool(const Message&)>;
// Called on WM_CLOSE with `accept` true; leaving it true lets the close go on.
using CloseHandler = std::function<void(bool& accept)>;
// Called when the window has come to a screen of another DPI, before it
// takes its new size.
using DpiChangedHandler = std::function<void(int dpi)>;

struct FrameOptions {
    const wchar_t* className = nullptr;
    std::string_view caption;
    DWORD style = 0;  // without WS_VISIBLE: the window is created hidden
    const char* iconResource = nullptr;
};

class Frame : public Window {
 public:
    Frame(HINSTANCE instance, const FrameOptions& options);
    ~Frame() override;

    Frame& Root() override { return *this; }
    HINSTANCE Instance() const { return instance_; }

    // Runs after the hooks added before it; the first one that consumes a
    // message ends the chain.
    void AddMessageHook(MessageHook hook);
    void SetCloseHandler(CloseHandler handler) { closeHandler_ = std::move(handler); }
    void SetDpiChangedHandler(DpiChangedHandler handler) { dpiChangedHandler_ = std::move(handler); }
    // Tab and Shift+Tab move the focus to the next and the previous visible,
    // enabled control with a tab stop, in z-order, as in a dialog.
    void EnableTabNavigation();
    // Esc anywhere in the window presses `button`: focus and a space key-down
    // when Esc goes down, a space key-up (the click) when it comes up.
    void SetCancelButton(Button& button);

    // The DPI the window is drawn at: that of its screen.
    int Dpi() const { return dpi_; }
    // The client area at the window's DPI (0 keeps that dimension).
    void SetClientSize(int width, int height);
    void CenterOnScreen();
    // The focus rectangle and the caret show from the start, not only once
    // the keyboard has been used.
    void ShowFocusCues();
    // Takes the DPI of the screen the window is on now, after a move Windows
    // reports to no hidden window; true (after the DPI-changed handler ran)
    // when it differs.
    bool AdoptScreenDpi();
    void SetIcon(const char* resourceName);
    // nullptr: the usual cursor of whatever is under the mouse.
    void SetCursor(HCURSOR cursor);
    void RequestClose();
    void Destroy();

    // Processes messages until the window has been closed.
    void RunMessageLoop();

    // For the controls created inside the window.
    void NoteControlCreated(HWND control, bool tabStop);
    void NoteFocus(HWND control) { lastFocus_ = control; }

 private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    bool RunHooks(const Message& message);
    bool OnTabKey(const Message& message);
    void OnCloseMessage();
    void OnDpiChanged(int dpi, const RECT& suggested);

    HINSTANCE instance_;
    std::vector<MessageHook> hooks_;
    CloseHandler closeHandler_;
    DpiChangedHandler dpiChangedHandler_;
    int dpi_ = USER_DEFAULT_SCREEN_DPI;
    const char* iconResource_ = nullptr;
    HCURSOR cursor_ = nullptr;
    HWND lastFocus_ = nullptr;
    HWND firstTabStop_ = nullptr;
};

}  // namespace quorvane
