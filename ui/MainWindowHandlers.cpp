// What the main window does when the user works in it. The handlers keep no
// state: they read the row cells when the event comes and write new texts
// into the cells; the list follows the cells by itself.
#include <string>
#include <utility>
#include <vector>

#include "app/PlanReport.h"
#include "app/RowEdit.h"
#include "platform/win32/WideText.h"
#include "scan/DiskFormat.h"
#include "text/Gbk.h"
#include "text/Texts.h"
#include "ui/MainWindow.h"
#include "ui/MessageBox.h"

namespace quorvane {

namespace {

constexpr COLORREF Red = RGB(255, 0, 0);
constexpr COLORREF ExtendedRowGrey = RGB(128, 128, 128);
// Asks the list for a notification per row before painting and per cell at
// the row stage (the two flags share one bit; each stage reads its own).
constexpr LRESULT CustomDrawAnswer = CDRF_NOTIFYITEMDRAW | CDRF_NOTIFYSUBITEMDRAW;
// The context menu's items (any non-zero numbers: the menu answers inline).
constexpr UINT HideRowCommand = 1;
constexpr UINT ShowRowCommand = 2;
// A plan box shows this many lines, then how many more there are.
constexpr size_t PlanBoxLines = 30;

// A popup menu, destroyed on every way out.
class UniqueMenu {
 public:
    explicit UniqueMenu(HMENU menu) : menu_(menu) {}
    ~UniqueMenu() {
        if (menu_) DestroyMenu(menu_);
    }
    UniqueMenu(const UniqueMenu&) = delete;
    UniqueMenu& operator=(const UniqueMenu&) = delete;
    HMENU Get() const { return menu_; }

 private:
    HMENU menu_;
};

}  // namespace

void MainWindow::OnRowStateChange(int row) {
    const std::string id = Rows().Cell(row, ColumnId);
    labelEdit_.SetEnabled(RowTakesLabel(Rows(), row));
    idDigits_ = IdDigitsOfRow(Rows(), row);
    labelCaption_.SetEnabled(labelEdit_.Enabled());
    letterEdit_.SetText(Rows().Cell(row, ColumnLetter));
    labelLimit_ = RowLabelLimit(Rows(), row);
    labelEdit_.SetText(Rows().Cell(row, ColumnLabel));
    // As the field holds it after its own limit: only a label that differs
    // from this was typed.
    labelShown_ = labelEdit_.Text();
    idEdit_.SetText(id);
}

void MainWindow::OnListClick() {
    // A click below the last row clears the selection; the last row takes it.
    if (partitionList_.SelectedRow() >= 0 || partitionList_.RowCount() == 0) return;
    partitionList_.SelectRow(partitionList_.RowCount() - 1);
}

// The row's context menu: 隐藏分区 and 显示分区 where they apply. The change
// becomes pending as a typed ID does; a refused one says why at once.
void MainWindow::OnListContextMenu(const ContextMenuRequest& request) {
    const int row = request.row;
    if (!Rows().Exists(row)) return;
    const UniqueMenu menu(CreatePopupMenu());
    if (!menu.Get()) return;
    for (const auto& [hide, text] : {std::pair{true, texts::MenuHideRow}, std::pair{false, texts::MenuShowRow}}) {
        const UINT state = RowOffersVisibility(Rows(), row, hide) ? MF_ENABLED : MF_GRAYED;
        AppendMenuW(menu.Get(), MF_STRING | state, hide ? HideRowCommand : ShowRowCommand, WideFromGbk(text).c_str());
    }
    // TPM_RETURNCMD: the choice comes back here instead of as WM_COMMAND.
    const UINT chosen = static_cast<UINT>(TrackPopupMenu(menu.Get(), TPM_RETURNCMD | TPM_RIGHTBUTTON, request.screen.x,
                                                         request.screen.y, 0, frame_.Handle(), nullptr));
    if (chosen != HideRowCommand && chosen != ShowRowCommand) return;
    if (const auto refusal = SetRowHidden(Rows(), row, chosen == HideRowCommand)) {
        ShowMessageBox(frame_.Handle(), DescribeCause(*refusal), texts::RefusedTitle, MB_OK | MB_ICONWARNING);
        return;
    }
    OnRowStateChange(row);  // the ID field shows the row's new ID
}

LRESULT MainWindow::OnListCustomDraw(CustomDraw& draw) {
    // Before painting the row is -1 and every cell reads empty.
    switch (TintOfRow(Rows(), draw.row, highContrast_)) {
        case RowTint::Grey: draw.textColour = ExtendedRowGrey; break;
        case RowTint::Red: draw.textColour = Red; break;
        case RowTint::Normal: break;
    }
    return CustomDrawAnswer;
}

void MainWindow::OnIdEditChar(WPARAM& character) {
    // Hexadecimal digits and backspace pass; everything else, including Tab,
    // Enter, the control characters of the clipboard shortcuts and every
    // Chinese character, is dropped before the field sees it.
    const bool digit = character >= '0' && character <= '9';
    const bool hexLetter = (character >= 'A' && character <= 'F') || (character >= 'a' && character <= 'f');
    if (!digit && !hexLetter && character != '\b') character = 0;
}

void MainWindow::OnIdEditChange() {
    const int caret = idEdit_.CaretPosition();
    const std::string text = idEdit_.Text();
    if (text.size() <= idDigits_) return;
    // Pasted text can hold Chinese characters: the cut never splits one.
    idEdit_.SetText(CutToBytes(text, idDigits_));
    idEdit_.SetCaretPosition(caret);
}

void MainWindow::OnLabelEditChange() {
    const std::string text = labelEdit_.Text();
    // Counted as the row's file system counts (bytes of code page 936 on
    // FAT); the cut never splits a character.
    const std::string_view cut = CutLabel(text, labelLimit_);
    if (cut.size() < text.size()) labelEdit_.SetText(cut);
    // Beyond the end: the field puts the caret at the end of the text.
    labelEdit_.SetCaretPosition(static_cast<int>(text.size()));
}

void MainWindow::OnModifyClick() {
    const int row = partitionList_.SelectedRow();
    if (!Rows().Exists(row)) return;
    // Read every field before the first cell changes: the list redraws and
    // may report the row again, which refills the fields from the cells.
    const RowEdit edit{idEdit_.Text(), labelEdit_.Text(), labelShown_, labelEdit_.Enabled()};
    // A typed character code page 936 has no bytes for cannot become a
    // label: refused here, before it is a pending change.
    if (edit.labelEnabled && edit.label != edit.labelShown && HoldsUnrepresentable(edit.label)) {
        ShowMessageBox(frame_.Handle(), texts::RefuseLabelCharacters, texts::RefusedTitle,
                       MB_OK | MB_ICONWARNING);
        return;
    }
    if (const auto refusal = ModifyRow(Rows(), row, edit))
        ShowMessageBox(frame_.Handle(), DescribeCause(*refusal), texts::RefusedTitle, MB_OK | MB_ICONWARNING);
}

void MainWindow::OnConfirmClick() {
    // The pass ends with a close request; it waits until the user has read
    // what did not reach the disks, while the window still shows the rows.
    holdCloseRequests_ = true;
    session_.ApplyAndClose();
    holdCloseRequests_ = false;
    ShowWriteFailures();
    ShowNotices();
    if (closeRequested_) {
        closeRequested_ = false;
        frame_.RequestClose();
    }
}

void MainWindow::ShowWriteFailures() {
    const ChangeFailures& failures = session_.Failures();
    if (failures.empty()) return;
    std::string text = texts::WriteFailedIntro;
    for (const ChangeFailure& failure : failures) {
        text += "\r\n";
        text += DescribeFailure(Rows(), failure);
    }
    ShowMessageBox(frame_.Handle(), text, texts::WriteFailedTitle, MB_OK | MB_ICONERROR);
}

void MainWindow::ShowNotices() {
    std::string text;
    for (const std::string& notice : session_.Notices()) text += (text.empty() ? "" : "\r\n") + notice;
    if (!text.empty()) ShowMessageBox(frame_.Handle(), text, texts::NoticeTitle, MB_OK | MB_ICONINFORMATION);
}

void MainWindow::ShowPlan() {
    if (!session_.Plan()) return;
    const std::vector<std::string> lines = PlanLines(*session_.Plan(), Rows());
    std::string text;
    for (size_t i = 0; i < lines.size() && i < PlanBoxLines; ++i) text += (i ? "\r\n" : "") + lines[i];
    if (lines.size() > PlanBoxLines)
        text += "\r\n" + (texts::PlanMoreLines + std::to_string(lines.size() - PlanBoxLines)) + texts::PlanMoreLinesEnd;
    for (const ChangeFailure& failure : session_.Failures()) text += "\r\n" + DescribeFailure(Rows(), failure);
    // At start there is no active window: the box has no owner.
    ShowMessageBox(GetActiveWindow(), text, texts::PlanTitle, MB_OK | MB_ICONINFORMATION);
}

void MainWindow::OnExitClick() {
    frame_.RequestClose();
}

void MainWindow::OnRescanKey() {
    // The rows anew as a fresh start would read them; changes not yet
    // written would be lost, so the user is asked first (No is the default).
    if (AnyPendingChange(Rows()) &&
        ShowMessageBox(frame_.Handle(), texts::RescanDropsChanges, texts::RescanTitle,
                       MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
        return;
    session_.Rescan();
}

void MainWindow::OnCloseRequest(bool& accept) {
    // Removing the temporary drive names never refuses the close.
    session_.OnClose();
    accept = true;
}

}  // namespace quorvane
