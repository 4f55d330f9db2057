// Where every control of the main window goes, at any screen density. The
// window was drawn for 96 DPI; at another DPI each edge, size, column width,
// the font and the drive picture grow by DPI / 96, so the window looks the
// same at 125 %, 150 % or 200 % and stays pixel for pixel as drawn at 96.
// Portable (no <windows.h>): the tests check it on Linux for every DPI.
#pragma once

#include <array>

#include "scan/PartitionRows.h"

namespace quorvane {

inline constexpr int DesignDpi = 96;

struct Bounds {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const Bounds&) const = default;
};

struct Position {
    int x = 0;
    int y = 0;
    bool operator==(const Position&) const = default;
};

struct WindowLayout {
    int dpi = DesignDpi;
    int clientWidth = 0;
    int clientHeight = 0;
    int fontHeight = 0;  // character height in pixels (a LOGFONT height of -fontHeight)
    int imageSize = 0;   // the drive picture, square
    // In the window's client area.
    Bounds list, group, confirm, exit;
    // In the group's client area, which starts at its top-left corner. The
    // captions are as wide and high as their text in the window's font.
    Position letterCaption, labelCaption, idCaption;
    Bounds letterEdit, labelEdit, idEdit, modify;
    std::array<int, ColumnCount> columnWidths{};
};

// `value` pixels at 96 DPI, at `dpi` (rounded to the nearest pixel, a half up).
int ScaleToDpi(int value, int dpi);

// The window at `dpi`. Rectangles are scaled by their edges, so edges that
// line up at 96 DPI (the right edges of the list, the group and "退出") line
// up at every DPI.
WindowLayout LayoutForDpi(int dpi);

}  // namespace quorvane
