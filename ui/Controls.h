// The child controls the main window is made of: one small class per kind.
// Each is a system control class, subclassed once so that its messages are
// unpacked into typed events handed to std::function handlers.
#pragma once

#include <functional>
#include <string_view>

#include "ui/Window.h"

namespace quorvane {

class Control : public Window {
 public:
    ~Control() override;
    Frame& Root() override { return root_; }

 protected:
    // Created inside `parent` with its font (a separate copy) and background;
    // every control also gets WS_CHILD, WS_VISIBLE, WS_CLIPSIBLINGS and
    // WS_CLIPCHILDREN. `id` is its control identifier (ui/ControlIds.h).
    Control(Window& parent, int id, const wchar_t* className, std::string_view text, DWORD style,
            DWORD extendedStyle, const Bounds& bounds);

    virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT DefaultHandling(UINT message, WPARAM wParam, LPARAM lParam);

 private:
    static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                         DWORD_PTR object);
    void Detach();

    Frame& root_;
};

class StaticText : public Control {
 public:
    // Left-aligned, no word wrap, "&" shown as is; sized to fit its text.
    StaticText(Window& parent, int id, std::string_view text, Position position);
    // Sized anew to fit its text in the new font.
    void ChangeFont(const LOGFONTW& logFont) override;

 private:
    void FitToText();
};

class GroupBox : public Control {
 public:
    // A parent for the controls inside it; not a tab stop.
    GroupBox(Window& parent, int id, std::string_view text, const Bounds& bounds);

 protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
};

class Button : public Control {
 public:
    Button(Window& parent, int id, std::string_view text, const Bounds& bounds);

    std::function<void()> onClick;

 protected:
    bool OnCommand(WORD code) override;
};

class Edit : public Control {
 public:
    // A single-line field with a sunken edge; `options` are further ES_*
    // styles (without ES_READONLY it is a tab stop).
    Edit(Window& parent, int id, const Bounds& bounds, DWORD options);

    // Setting the text raises the change event once, as typing does.
    void SetText(std::string_view text) override;
    // The start of the current selection.
    int CaretPosition() const;
    // An empty selection at `position`; the field moves a position beyond the
    // end to the end.
    void SetCaretPosition(int position);

    std::function<void()> onChange;
    // Sees every typed character first; setting it to 0 drops it.
    std::function<void(WPARAM& character)> onChar;
    // Enter pressed in the field; while it is set the field never sees Enter.
    std::function<void()> onEnter;

 protected:
    bool OnCommand(WORD code) override;
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
    bool settingText_ = false;
};

}  // namespace quorvane
