#include "ui/ReportList.h"

#include <string>

#include "platform/win32/WideText.h"

namespace quorvane {

namespace {
// The state bits the selection is made of.
constexpr UINT SelectionStateMask = LVIS_SELECTED | LVIS_FOCUSED | LVIS_CUT | LVIS_DROPHILITED;
constexpr DWORD ExtendedStyleMask = 0x3FFF;
}  // namespace

ReportList::ReportList(Window& parent, int id, std::string_view name, const Bounds& bounds, DWORD listStyle,
                       DWORD extendedStyle)
    : Control(parent, id, WC_LISTVIEWW, name, LVS_REPORT | LVS_SHAREIMAGELISTS | WS_TABSTOP | listStyle,
              WS_EX_CLIENTEDGE, bounds) {
    SendMessageW(hwnd_, LVM_SETEXTENDEDLISTVIEWSTYLE, ExtendedStyleMask, extendedStyle);
}

void ReportList::SetSmallImages(HIMAGELIST images) {
    SendMessageW(hwnd_, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images));
}

void ReportList::SetBackground(COLORREF colour) {
    Control::SetBackground(colour);
    SendMessageW(hwnd_, LVM_SETBKCOLOR, 0, static_cast<LPARAM>(colour));
}

void ReportList::AddColumn(std::string_view header, ColumnAlignment alignment, int width) {
    std::wstring text = WideFromGbk(header);
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = static_cast<int>(alignment);
    column.cx = width;
    column.pszText = text.data();
    column.iSubItem = columnCount_;
    SendMessageW(hwnd_, LVM_INSERTCOLUMNW, columnCount_, reinterpret_cast<LPARAM>(&column));
    ++columnCount_;
}

int ReportList::ColumnWidth(int column) const {
    return static_cast<int>(SendMessageW(hwnd_, LVM_GETCOLUMNWIDTH, column, 0));
}

void ReportList::SetColumnWidth(int column, int width) {
    SendMessageW(hwnd_, LVM_SETCOLUMNWIDTH, column, MAKELPARAM(width, 0));
}

int ReportList::RowCount() const {
    return static_cast<int>(SendMessageW(hwnd_, LVM_GETITEMCOUNT, 0, 0));
}

void ReportList::AppendRow(std::string_view firstCell, int image) {
    std::wstring text = WideFromGbk(firstCell);
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = RowCount();
    item.pszText = text.data();
    item.iImage = image;
    SendMessageW(hwnd_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
}

void ReportList::RemoveAllRows() {
    SendMessageW(hwnd_, LVM_DELETEALLITEMS, 0, 0);
}

void ReportList::SetCellText(int row, int column, std::string_view text) {
    if (row < 0 || row >= RowCount()) return;
    std::wstring copy = WideFromGbk(text);
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = copy.data();
    SendMessageW(hwnd_, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
}

void ReportList::SetRowImage(int row, int image) {
    if (row < 0 || row >= RowCount()) return;
    LVITEMW item{};
    item.mask = LVIF_IMAGE;
    item.iItem = row;
    SendMessageW(hwnd_, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    item.iImage = image;
    SendMessageW(hwnd_, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
}

void ReportList::RedrawRow(int row) {
    SendMessageW(hwnd_, LVM_REDRAWITEMS, row, row);
}

int ReportList::SelectedRow() const {
    return static_cast<int>(SendMessageW(hwnd_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void ReportList::SelectRow(int row) {
    if (row == SelectedRow()) return;
    LVITEMW state{};
    state.stateMask = SelectionStateMask;
    state.state = 0;
    // Row -1 addresses every row.
    SendMessageW(hwnd_, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state));
    if (row < 0) return;
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(hwnd_, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
}

LRESULT ReportList::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    // The one place a context menu of the list is asked for: the list sends
    // it after a right click (after NM_RCLICK), and the system's default
    // handling of the menu key and of Shift+F10 sends it with lParam -1.
    // https://learn.microsoft.com/windows/win32/menurc/wm-contextmenu
    if (message == WM_CONTEXTMENU) {
        if (onContextMenu) onContextMenu(MenuRequest(lParam));
        return 0;
    }
    return Control::HandleMessage(message, wParam, lParam);
}

ContextMenuRequest ReportList::MenuRequest(LPARAM lParam) const {
    ContextMenuRequest request;
    request.row = SelectedRow();
    request.fromKeyboard = lParam == -1;
    if (!request.fromKeyboard) {
        // Signed: a screen left of or above the main one has negative coordinates.
        request.screen = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        return request;
    }
    // From the keyboard: below the selected row's first cell, brought into
    // view; without one, at the list's top-left corner.
    RECT place{};
    place.left = LVIR_LABEL;
    if (request.row >= 0) {
        SendMessageW(hwnd_, LVM_ENSUREVISIBLE, request.row, FALSE);
        SendMessageW(hwnd_, LVM_GETITEMRECT, request.row, reinterpret_cast<LPARAM>(&place));
    } else {
        place = {};
    }
    POINT point{place.left, place.bottom};
    ClientToScreen(hwnd_, &point);
    request.screen = point;
    return request;
}

bool ReportList::OnNotify(const NMHDR& header, LPARAM lParam, LRESULT& result) {
    switch (header.code) {
        case NM_CLICK:
        case NM_RCLICK:
            if (onClick) onClick();
            result = 0;
            return true;
        case LVN_ITEMCHANGED: {
            // The list also reports a changed text or image of a row this way;
            // only a change of its state (selection, focus) is an event here.
            const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
            if (onRowStateChange && (change->uChanged & LVIF_STATE) != 0)
                onRowStateChange({change->iItem, change->iItem, change->uOldState, change->uNewState});
            result = 0;
            return true;
        }
        case LVN_ODSTATECHANGED: {
            const auto* change = reinterpret_cast<const NMLVODSTATECHANGE*>(lParam);
            if (onRowStateChange)
                onRowStateChange({change->iFrom, change->iTo, change->uOldState, change->uNewState});
            result = 0;
            return true;
        }
        case NM_CUSTOMDRAW: {
            if (!onCustomDraw) return false;
            // https://learn.microsoft.com/windows/win32/controls/nm-customdraw-list-view
            auto* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(lParam);
            const DWORD stage = draw->nmcd.dwDrawStage;
            const bool rowStage = (stage & CDDS_ITEM) != 0;
            const bool cellStage = (stage & CDDS_SUBITEM) != 0;
            CustomDraw request{draw->nmcd.hdc,
                               stage,
                               rowStage ? static_cast<int>(draw->nmcd.dwItemSpec) : -1,
                               cellStage ? draw->iSubItem : -1,
                               draw->nmcd.rc,
                               draw->nmcd.uItemState,
                               draw->clrText,
                               draw->clrTextBk};
            result = onCustomDraw(request);
            return true;
        }
        default: return false;
    }
}

}  // namespace quorvane
