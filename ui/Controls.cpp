#include "ui/Controls.h"

#include <string>

#include "platform/win32/WideText.h"
#include "ui/Frame.h"

namespace quorvane {

namespace {

constexpr UINT_PTR SubclassId = 1;
constexpr DWORD ChildStyle = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;

bool KeyDown(int key) {
    return (GetKeyState(key) & 0x8000) != 0;
}

}  // namespace

Control::Control(Window& parent, int id, const wchar_t* className, std::string_view text, DWORD style,
                 DWORD extendedStyle, const Bounds& bounds)
    : root_(parent.Root()) {
    const std::wstring caption = WideFromGbk(text);
    hwnd_ = CreateWindowExW(extendedStyle, className, caption.c_str(), style | ChildStyle, bounds.x, bounds.y,
                            bounds.width, bounds.height, parent.Handle(),
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), root_.Instance(), nullptr);
    Register();
    SetWindowSubclass(hwnd_, SubclassProc, SubclassId, reinterpret_cast<DWORD_PTR>(this));
    AdoptFont(parent.FontDescription());
    SetBackground(parent.Background());
    root_.NoteControlCreated(hwnd_, (style & WS_TABSTOP) != 0);
}

Control::~Control() {
    if (hwnd_ == nullptr) return;
    const HWND window = hwnd_;
    Detach();
    DestroyWindow(window);
}

void Control::Detach() {
    RemoveWindowSubclass(hwnd_, SubclassProc, SubclassId);
    Unregister();
    hwnd_ = nullptr;
}

LRESULT CALLBACK Control::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                       DWORD_PTR object) {
    auto* control = reinterpret_cast<Control*>(object);
    if (message == WM_NCDESTROY) {
        control->Detach();
        return DefSubclassProc(window, message, wParam, lParam);
    }
    return control->HandleMessage(message, wParam, lParam);
}

LRESULT Control::DefaultHandling(UINT message, WPARAM wParam, LPARAM lParam) {
    return DefSubclassProc(hwnd_, message, wParam, lParam);
}

LRESULT Control::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    // A group box is the parent of the fields inside it.
    if (RouteToChild(message, wParam, lParam, result)) return result;
    switch (message) {
        case WM_CHAR:
            // Tab moves the focus (Frame); a typed Tab character is dropped.
            if (wParam == '\t' && !KeyDown(VK_CONTROL) && !KeyDown(VK_MENU)) return 0;
            break;
        case WM_SETFOCUS: root_.NoteFocus(hwnd_); break;
        default: break;
    }
    return DefaultHandling(message, wParam, lParam);
}

StaticText::StaticText(Window& parent, int id, std::string_view text, Position position)
    : Control(parent, id, L"STATIC", text, SS_LEFTNOWORDWRAP | SS_NOPREFIX | SS_NOTIFY, 0,
              {position.x, position.y, 0, 0}) {
    FitToText();
}

void StaticText::ChangeFont(const LOGFONTW& logFont) {
    Control::ChangeFont(logFont);
    FitToText();
}

void StaticText::FitToText() {
    const std::wstring text = WideFromGbk(Text());
    const WindowDc dc(hwnd_);
    const SelectedObject font(dc.Get(), Font());
    SIZE size{};
    GetTextExtentPoint32W(dc.Get(), text.c_str(), static_cast<int>(text.size()), &size);
    SetSize(size.cx, size.cy);
}

GroupBox::GroupBox(Window& parent, int id, std::string_view text, const Bounds& bounds)
    : Control(parent, id, L"BUTTON", text, BS_GROUPBOX, WS_EX_CONTROLPARENT, bounds) {}

LRESULT GroupBox::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_ERASEBKGND) return Control::HandleMessage(message, wParam, lParam);
    // A group box draws only its frame and caption, and the window does not
    // paint under its children (WS_CLIPCHILDREN): the inside is painted here.
    const auto dc = reinterpret_cast<HDC>(wParam);
    RECT client{};
    GetClientRect(hwnd_, &client);
    FillRect(dc, &client, BackgroundBrush(dc));
    return 1;
}

Button::Button(Window& parent, int id, std::string_view text, const Bounds& bounds)
    : Control(parent, id, L"BUTTON", text, BS_PUSHBUTTON | BS_PUSHLIKE | BS_NOTIFY | BS_CENTER | WS_TABSTOP,
              0, bounds) {}

bool Button::OnCommand(WORD code) {
    if (code != BN_CLICKED) return false;
    if (onClick) onClick();
    return true;
}

Edit::Edit(Window& parent, int id, const Bounds& bounds, DWORD options)
    : Control(parent, id, L"EDIT", "",
              ((options & ES_READONLY) != 0 ? 0 : WS_TABSTOP) | ES_AUTOHSCROLL | ES_AUTOVSCROLL | options,
              WS_EX_CLIENTEDGE, bounds) {}

void Edit::SetText(std::string_view text) {
    // Whether the system itself reports WM_SETTEXT as a change differs between
    // versions; the handler runs exactly once either way.
    settingText_ = true;
    Control::SetText(text);
    settingText_ = false;
    if (onChange) onChange();
}

int Edit::CaretPosition() const {
    DWORD start = 0;
    SendMessageW(hwnd_, EM_GETSEL, reinterpret_cast<WPARAM>(&start), 0);
    return static_cast<int>(start);
}

void Edit::SetCaretPosition(int position) {
    SendMessageW(hwnd_, EM_SETSEL, position, position);
}

bool Edit::OnCommand(WORD code) {
    if (code != EN_CHANGE) return false;
    if (!settingText_ && onChange) onChange();
    return true;
}

LRESULT Edit::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (onEnter && wParam == VK_RETURN) {
        // The key-down acts; its character would only make the field beep.
        if (message == WM_KEYDOWN) onEnter();
        if (message == WM_KEYDOWN || message == WM_CHAR) return 0;
    }
    if (message == WM_CHAR && onChar) {
        onChar(wParam);
        if (wParam == 0) return 0;
    }
    return Control::HandleMessage(message, wParam, lParam);
}

}  // namespace quorvane
