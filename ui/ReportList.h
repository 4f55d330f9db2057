// A report-style list view ("SysListView32"): columns, rows of text cells,
// one small image per row, the selection, and its notifications unpacked
// into typed events.
#pragma once

#include <functional>
#include <string_view>

#include "ui/Controls.h"

namespace quorvane {

enum class ColumnAlignment { Left = LVCFMT_LEFT, Right = LVCFMT_RIGHT, Center = LVCFMT_CENTER };

struct RowStateChange {
    int firstRow = -1;
    int lastRow = -1;
    UINT oldState = 0;
    UINT newState = 0;
};

// One NM_CUSTOMDRAW request. The handler may change the colours; what it
// returns is the list's answer (CDRF_*).
struct CustomDraw {
    HDC dc = nullptr;
    DWORD stage = 0;
    int row = -1;     // -1 unless the stage is a row or cell stage
    int column = -1;  // -1 unless the stage is a cell stage
    RECT cell{};
    UINT itemState = 0;
    COLORREF& textColour;
    COLORREF& backgroundColour;
};

// A context menu asked for on the list, with the right button or from the
// keyboard (the menu key, Shift+F10).
struct ContextMenuRequest {
    int row = -1;    // the selected row, which a right click has just selected
    POINT screen{};  // where the menu belongs: the click, or below the row
    bool fromKeyboard = false;
};

class ReportList : public Control {
 public:
    // `listStyle`: LVS_* flags besides LVS_REPORT; `extendedStyle`: LVS_EX_*
    // flags, set with the mask 0x3FFF so every other one is off. `name` is
    // its window text, which the list does not show but screen readers read.
    ReportList(Window& parent, int id, std::string_view name, const Bounds& bounds, DWORD listStyle,
               DWORD extendedStyle);

    void SetSmallImages(HIMAGELIST images);
    void SetBackground(COLORREF colour) override;
    void AddColumn(std::string_view header, ColumnAlignment alignment, int width);
    int ColumnWidth(int column) const;
    void SetColumnWidth(int column, int width);

    int RowCount() const;
    void AppendRow(std::string_view firstCell, int image);
    void RemoveAllRows();
    // Rows that do not exist are left alone.
    void SetCellText(int row, int column, std::string_view text);
    void SetRowImage(int row, int image);
    void RedrawRow(int row);

    // The first selected row, -1 when none is.
    int SelectedRow() const;
    // Clears the selection and focus of every row, then selects and focuses
    // `row` (none for -1); nothing happens when `row` is the selected one.
    void SelectRow(int row);

    std::function<void()> onClick;  // left or right button, after the list handled it
    std::function<void(const RowStateChange&)> onRowStateChange;
    std::function<LRESULT(CustomDraw&)> onCustomDraw;
    std::function<void(const ContextMenuRequest&)> onContextMenu;

 protected:
    bool OnNotify(const NMHDR& header, LPARAM lParam, LRESULT& result) override;
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
    ContextMenuRequest MenuRequest(LPARAM lParam) const;

    int columnCount_ = 0;
};

}  // namespace quorvane
