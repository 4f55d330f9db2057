// The two items the program adds to its window's system menu: the
// command-line help and the version box.
#pragma once

#include <string>

#include "app/Session.h"
#include "platform/win32/WindowsApi.h"
#include "ui/Frame.h"

namespace quorvane {

inline constexpr UINT AboutCommand = 0x401;
inline constexpr UINT HelpCommand = 0x402;

// A separator, "命令行参数(&P)" and "关于(&A)..." (with a check mark) after the
// standard items of the window's own copy of its system menu.
void AddSystemMenuItems(HWND window);

// The window's message hook: WM_SYSCOMMAND with one of the two ids opens its
// box. It never consumes a message, so the default handling still runs.
bool OnSystemMenuCommand(const Message& message, Shell& shell, const std::string& helpText);

}  // namespace quorvane
