// What the window asks Windows about the screen's density. The calls that
// give each monitor its own DPI came with Windows 10 (1607); they are looked
// up at run time, never imported, so the program still starts on Windows 7.
// Where they are missing every window has the system's DPI, which does not
// change while the program runs: the window is scaled once, at start.
#pragma once

#include "platform/win32/WindowsApi.h"

namespace quorvane {

// The DPI the window is drawn at (96 at 100 %, 144 at 150 %).
int DpiOfWindow(HWND window);

// The outer size of a window of this style whose client area is
// `width` × `height` at `dpi`.
SIZE OuterSizeForClient(int width, int height, DWORD style, DWORD extendedStyle, int dpi);

// GetSystemMetrics for a window drawn at `dpi`.
int SystemMetricForDpi(int index, int dpi);

// Whether the user chose a high-contrast theme.
bool HighContrastOn();

}  // namespace quorvane
