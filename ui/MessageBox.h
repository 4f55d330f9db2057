// The system's message box, with the program's code page 936 texts shown
// through MessageBoxW, so they read right whatever code page Windows runs in.
#pragma once

#include <string>
#include <string_view>

#include "platform/win32/WideText.h"
#include "platform/win32/WindowsApi.h"

namespace quorvane {

inline int ShowMessageBox(HWND owner, std::string_view text, std::string_view title, UINT style) {
    return MessageBoxW(owner, WideFromGbk(text).c_str(), WideFromGbk(title).c_str(), style);
}

}  // namespace quorvane
