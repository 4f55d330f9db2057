#include "ui/WindowLayout.h"

namespace quorvane {

namespace {

// The window as drawn for 96 DPI. The column widths add up to 652, one less
// than the list's inner width (657 minus its two 2-pixel edges), so every
// column shows while no vertical scroll bar does.
constexpr WindowLayout Design{
    DesignDpi,
    689,
    374,
    11,
    16,
    {16, 16, 657, 225},
    {16, 256, 657, 65},
    {440, 336, 81, 25},
    {592, 336, 81, 25},
    // The captions stand 4 pixels lower than the tops of their fields.
    {32, 32},
    {152, 32},
    {376, 32},
    // 22 pixels: the height an edit field is created with in this font.
    {72, 28, 25, 22},
    {192, 28, 113, 22},
    {440, 28, 41, 22},  // wide enough for a GPT type code's four digits
    {552, 27, 81, 25},
    {40, 80, 40, 40, 65, 75, 70, 72, 95, 75},
};

Bounds Scale(const Bounds& bounds, int dpi) {
    const int left = ScaleToDpi(bounds.x, dpi);
    const int top = ScaleToDpi(bounds.y, dpi);
    return {left, top, ScaleToDpi(bounds.x + bounds.width, dpi) - left,
            ScaleToDpi(bounds.y + bounds.height, dpi) - top};
}

Position Scale(const Position& position, int dpi) {
    return {ScaleToDpi(position.x, dpi), ScaleToDpi(position.y, dpi)};
}

}  // namespace

int ScaleToDpi(int value, int dpi) {
    const long long scaled = static_cast<long long>(value) * dpi;
    // Rounded half away from zero, as MulDiv does.
    return static_cast<int>(scaled >= 0 ? (scaled + DesignDpi / 2) / DesignDpi
                                        : (scaled - DesignDpi / 2) / DesignDpi);
}

WindowLayout LayoutForDpi(int dpi) {
    if (dpi <= 0) dpi = DesignDpi;
    WindowLayout layout;
    layout.dpi = dpi;
    layout.clientWidth = ScaleToDpi(Design.clientWidth, dpi);
    layout.clientHeight = ScaleToDpi(Design.clientHeight, dpi);
    // Rounded down, as the columns are: a text that fits its control at 96
    // DPI grows no more than the control does, and still fits.
    layout.fontHeight = Design.fontHeight * dpi / DesignDpi;
    layout.imageSize = ScaleToDpi(Design.imageSize, dpi);
    layout.list = Scale(Design.list, dpi);
    layout.group = Scale(Design.group, dpi);
    layout.confirm = Scale(Design.confirm, dpi);
    layout.exit = Scale(Design.exit, dpi);
    layout.letterCaption = Scale(Design.letterCaption, dpi);
    layout.labelCaption = Scale(Design.labelCaption, dpi);
    layout.idCaption = Scale(Design.idCaption, dpi);
    layout.letterEdit = Scale(Design.letterEdit, dpi);
    layout.labelEdit = Scale(Design.labelEdit, dpi);
    layout.idEdit = Scale(Design.idEdit, dpi);
    layout.modify = Scale(Design.modify, dpi);
    // Rounded down: the columns still fit the list however its edges round.
    for (int column = 0; column < ColumnCount; ++column)
        layout.columnWidths[column] = Design.columnWidths[column] * dpi / DesignDpi;
    return layout;
}

}  // namespace quorvane
