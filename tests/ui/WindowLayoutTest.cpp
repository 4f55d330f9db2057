// The main window at the DPIs of today's screens (100 % to 300 %): every
// edge is the 96-DPI one scaled (so edges that line up still line up), the
// columns still fill the list without a scroll bar, and no text grows more
// than its column. Whether the texts fit
// their controls in the font of each DPI is measured under Wine, with the
// system's own text metrics (tests/wine/LayoutTextTest.cpp).
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <vector>

#include "ui/WindowLayout.h"

namespace quorvane {
namespace {

constexpr int Dpis[] = {96, 120, 144, 168, 192, 240, 288};

struct NamedBox {
    const char* name;
    Bounds bounds;
};

// Every rectangle of the layout; a caption is a point (its size is its text's).
std::vector<NamedBox> Boxes(const WindowLayout& l) {
    const auto point = [](Position p) { return Bounds{p.x, p.y, 0, 0}; };
    return {{"client", {0, 0, l.clientWidth, l.clientHeight}},
            {"list", l.list},
            {"group", l.group},
            {"confirm", l.confirm},
            {"exit", l.exit},
            {"letter caption", point(l.letterCaption)},
            {"label caption", point(l.labelCaption)},
            {"id caption", point(l.idCaption)},
            {"letter field", l.letterEdit},
            {"label field", l.labelEdit},
            {"id field", l.idEdit},
            {"modify", l.modify},
            {"drive picture", {0, 0, l.imageSize, l.imageSize}}};
}

// Scaling sizes instead would put the bottom of 修改 a pixel off at 144 DPI.
TEST(WindowLayout, EveryEdgeIsTheDesignOneScaledToTheNearestPixel) {
    const std::vector<NamedBox> design = Boxes(LayoutForDpi(96));
    for (const int dpi : Dpis) {
        const std::vector<NamedBox> scaled = Boxes(LayoutForDpi(dpi));
        const double factor = dpi / 96.0;
        for (size_t i = 0; i < design.size(); ++i) {
            const Bounds& d = design[i].bounds;
            const Bounds& s = scaled[i].bounds;
            const int edges[4][2] = {
                {d.x, s.x}, {d.y, s.y}, {d.x + d.width, s.x + s.width}, {d.y + d.height, s.y + s.height}};
            for (const auto& edge : edges)
                EXPECT_LE(std::abs(edge[1] - edge[0] * factor), 0.5) << design[i].name << " at " << dpi;
        }
    }
}

TEST(WindowLayout, ColumnsFillTheListWithoutScrolling) {
    for (const int dpi : Dpis) {
        const WindowLayout l = LayoutForDpi(dpi);
        const int columns = std::accumulate(l.columnWidths.begin(), l.columnWidths.end(), 0);
        // The list's sunken edge is 2 pixels at 96 DPI; it may be drawn
        // scaled, or not.
        const int narrowest = l.list.width - 2 * ScaleToDpi(2, dpi);
        const int widest = l.list.width - 2 * 2;
        EXPECT_LE(columns, narrowest) << dpi;
        EXPECT_GE(columns, widest - ScaleToDpi(6, dpi)) << dpi;  // no wide empty band at the right
    }
}

// The font and the columns are rounded down, never up: a text that fits its
// column at 96 DPI grows no more than the column and fits at any DPI.
TEST(WindowLayout, TextGrowsNoMoreThanItsColumn) {
    const WindowLayout design = LayoutForDpi(96);
    for (const int dpi : Dpis) {
        const WindowLayout l = LayoutForDpi(dpi);
        const double factor = dpi / 96.0;
        EXPECT_LE(l.fontHeight, design.fontHeight * factor) << dpi;
        EXPECT_GT(l.fontHeight, design.fontHeight * factor - 1) << dpi;
        for (int column = 0; column < ColumnCount; ++column) {
            EXPECT_LE(l.columnWidths[column], design.columnWidths[column] * factor)
                << column << " at " << dpi;
            EXPECT_GT(l.columnWidths[column], design.columnWidths[column] * factor - 1)
                << column << " at " << dpi;
        }
    }
}

}  // namespace
}  // namespace quorvane
