// How the main window is built: every control with its position, size and
// style, the list's columns, the image list, and which handler hears which
// event. What the handlers do is in MainWindowHandlers.cpp.
#include "ui/MainWindow.h"

#include <cwchar>

#include "ui/SystemMenu.h"
#include "text/Texts.h"
#include "ui/ControlIds.h"
#include "ui/MessageBox.h"

namespace quorvane {

namespace {

constexpr int ClientWidth = 689;
constexpr int ClientHeight = 374;
constexpr COLORREF ImageTransparent = RGB(200, 200, 200);
constexpr int ImageSize = 16;

FrameOptions MainFrameOptions() {
    FrameOptions options;
    options.className = L"QuorvaneMainWindow";
    options.caption = texts::WindowCaption;
    // No maximise box: the controls keep their places whatever the size.
    options.style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX |
                    WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
    options.clientWidth = ClientWidth;
    options.clientHeight = ClientHeight;
    options.iconResource = "FORM_ICON1";
    // Tahoma, 11 pixels high, ANSI_CHARSET; everything else the default.
    options.font.lfHeight = -11;
    options.font.lfCharSet = ANSI_CHARSET;
    std::wcscpy(options.font.lfFaceName, L"Tahoma");
    return options;
}

struct ColumnSpec {
    const char* header;
    ColumnAlignment alignment;
    int width;
};

// The widths add up to 652, one less than the list's inner width, so all
// columns fit while no vertical scroll bar shows.
constexpr ColumnSpec Columns[ColumnCount] = {
    {texts::HeaderLetter, ColumnAlignment::Center, 40}, {texts::HeaderLabel, ColumnAlignment::Center, 80},
    {texts::HeaderDisk, ColumnAlignment::Center, 40},   {texts::HeaderPartition, ColumnAlignment::Center, 40},
    {texts::HeaderId, ColumnAlignment::Center, 65},     {texts::HeaderIdName, ColumnAlignment::Center, 75},
    {texts::HeaderKind, ColumnAlignment::Center, 70},   {texts::HeaderSizeMb, ColumnAlignment::Right, 72},
    {texts::HeaderFreeMb, ColumnAlignment::Right, 95},  {texts::HeaderDriveType, ColumnAlignment::Left, 75},
};

}  // namespace

MainWindow::MainWindow(HINSTANCE instance, Platform& platform)
    : frame_(instance, MainFrameOptions()),
      partitionImages_(LoadImageList(instance, "FORM1_IMAGELIST1", ImageSize, ImageTransparent)),
      partitionList_(frame_, control_id::PartitionList, {16, 16, 657, 225}, LVS_SINGLESEL | LVS_SHOWSELALWAYS,
                     LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT),
      propertiesGroup_(frame_, control_id::PropertiesGroup, texts::PropertiesCaption, {16, 256, 657, 65}),
      letterCaption_(propertiesGroup_, control_id::LetterCaption, texts::LetterCaptionText, 32, 32),
      idCaption_(propertiesGroup_, control_id::IdCaption, texts::IdCaptionText, 376, 32),
      labelCaption_(propertiesGroup_, control_id::LabelCaption, texts::LabelCaptionText, 152, 32),
      // Wide enough for a GPT type code's four digits.
      idEdit_(propertiesGroup_, control_id::IdEdit, 440, 28, 41, ES_UPPERCASE),
      labelEdit_(propertiesGroup_, control_id::LabelEdit, 192, 28, 113, 0),
      modifyButton_(propertiesGroup_, control_id::ModifyButton, texts::ModifyText, {552, 27, 81, 25}),
      letterEdit_(propertiesGroup_, control_id::LetterEdit, 72, 28, 25,
                  ES_READONLY | ES_UPPERCASE | ES_CENTER),
      confirmButton_(frame_, control_id::ConfirmButton, texts::ConfirmText, {440, 336, 81, 25}),
      exitButton_(frame_, control_id::ExitButton, texts::ExitText, {592, 336, 81, 25}),
      session_(platform, *this) {
    partitionList_.SetSmallImages(partitionImages_.Get());
    partitionList_.SetBackground(GetSysColor(COLOR_WINDOW));
    for (const ColumnSpec& column : Columns)
        partitionList_.AddColumn(column.header, column.alignment, column.width);
    idEdit_.SetBackground(GetSysColor(COLOR_WINDOW));
    labelEdit_.SetBackground(GetSysColor(COLOR_WINDOW));
    AttachHandlers();
    // Esc anywhere presses "退出"; there is no default button, so Enter
    // presses nothing.
    frame_.SetCancelButton(exitButton_);
    frame_.CenterOnScreen();
    Rows().SetObserver(this);
}

MainWindow::~MainWindow() {
    Rows().SetObserver(nullptr);
    frame_.Destroy();
}

void MainWindow::AttachHandlers() {
    // The system menu's items see every message of the window first.
    frame_.AddMessageHook(
        [this](const Message& message) { return OnSystemMenuCommand(message, *this, session_.HelpText()); });
    frame_.SetCloseHandler([this](bool& accept) { OnCloseRequest(accept); });
    idEdit_.onChar = [this](WPARAM& character) { OnIdEditChar(character); };
    idEdit_.onChange = [this] { OnIdEditChange(); };
    partitionList_.onClick = [this] { OnListClick(); };
    partitionList_.onRowStateChange = [this](const RowStateChange& change) {
        OnRowStateChange(change.firstRow);
    };
    partitionList_.onCustomDraw = [this](CustomDraw& draw) { return OnListCustomDraw(draw); };
    labelEdit_.onChange = [this] { OnLabelEditChange(); };
    modifyButton_.onClick = [this] { OnModifyClick(); };
    confirmButton_.onClick = [this] { OnConfirmClick(); };
    exitButton_.onClick = [this] { OnExitClick(); };
}

void MainWindow::ShowHelp(const std::string& helpText) {
    // At start there is no active window yet, so the box has no owner.
    ShowMessageBox(GetActiveWindow(), helpText, texts::HelpTitle, MB_OK | MB_ICONQUESTION);
}

void MainWindow::RequestClose() {
    if (holdCloseRequests_)
        closeRequested_ = true;
    else
        frame_.RequestClose();
}

void MainWindow::ShowMainWindow() {
    const HWND window = frame_.Handle();
    ShowWindow(window, SW_SHOW);
    // Paint the frame now: the scans that follow keep the loop from running.
    UpdateWindow(window);
    SetForegroundWindow(window);
    SetFocus(window);
}

void MainWindow::SelectRow(int row) {
    partitionList_.SelectRow(row);
}

void MainWindow::SetWaitCursor(bool wait) {
    frame_.SetCursor(wait ? LoadCursor(nullptr, IDC_WAIT) : nullptr);
}

void MainWindow::OnRowsCleared() {
    partitionList_.RemoveAllRows();
}

void MainWindow::OnRowAppended(int row) {
    partitionList_.AppendRow(Rows().Cell(row, ColumnLetter), Rows().Image(row));
}

void MainWindow::OnCellChanged(int row, int column) {
    partitionList_.SetCellText(row, column, Rows().Cell(row, column));
    // The colour of the whole row follows its ID and kind cells.
    if (column == ColumnId || column == ColumnKind) partitionList_.RedrawRow(row);
}

void MainWindow::OnImageChanged(int row) {
    partitionList_.SetRowImage(row, Rows().Image(row));
}

}  // namespace quorvane
