// The part every window and control shares: its handle, its text, position,
// enabled state, font and background, and the routing of the notifications
// that Windows sends to a parent (WM_COMMAND, WM_NOTIFY, WM_CTLCOLOR*) on to
// the child object they are about.
#pragma once

#include <string>
#include <string_view>

#include "platform/win32/WindowsApi.h"
#include "ui/Gdi.h"
#include "ui/WindowLayout.h"

namespace quorvane {

class Frame;

class Window {
 public:
    virtual ~Window() = default;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    HWND Handle() const { return hwnd_; }
    virtual Frame& Root() = 0;

    // Code page 936 (the program's texts); the window itself holds UTF-16.
    // A character 936 has no bytes for reads back as UnrepresentableMark
    // (platform/win32/WideText.h).
    std::string Text() const;
    virtual void SetText(std::string_view text);
    bool Enabled() const;
    void SetEnabled(bool enabled);
    void SetPosition(int x, int y);
    // 0 (or less) keeps that dimension.
    void SetSize(int width, int height);
    void SetBounds(const Bounds& bounds);
    // A separate font made from `logFont` replaces the window's own.
    virtual void ChangeFont(const LOGFONTW& logFont) { AdoptFont(logFont); }
    // The parent paints the control with this colour.
    virtual void SetBackground(COLORREF colour);
    COLORREF Background() const { return background_; }
    const LOGFONTW& FontDescription() const { return fontDescription_; }

 protected:
    Window() = default;

    // Makes a separate font from `logFont` and gives it to the window.
    void AdoptFont(const LOGFONTW& logFont);
    HFONT Font() const { return font_.Get(); }

    // Finds the object of a window made by this toolkit, or nullptr.
    static Window* FromHandle(HWND window);
    void Register();
    void Unregister();

    // A notification about a child, already unpacked: the child's own code.
    virtual bool OnCommand(WORD /*code*/) { return false; }
    virtual bool OnNotify(const NMHDR& /*header*/, LPARAM /*lParam*/, LRESULT& /*result*/) { return false; }

    // Delivers a notification that a parent received to the child it names;
    // true when the child handled it, with the answer in `result`.
    static bool RouteToChild(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

    // A brush of the background colour, which is also set as the text
    // background of `dc`.
    HBRUSH BackgroundBrush(HDC dc);

    HWND hwnd_ = nullptr;

 private:
    LOGFONTW fontDescription_{};
    UniqueFont font_;
    COLORREF background_ = GetSysColor(COLOR_BTNFACE);
    UniqueBrush brush_;
};

}  // namespace quorvane
