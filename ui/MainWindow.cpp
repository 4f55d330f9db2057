// How the main window is built: every control with its position, size and
// style, the list's columns, the image list, and which handler hears which
// event. What the handlers do is in MainWindowHandlers.cpp.
#include "ui/MainWindow.h"

#include <cwchar>
#include <initializer_list>

#include "text/Texts.h"
#include "ui/ControlIds.h"
#include "ui/Dpi.h"
#include "ui/MessageBox.h"
#include "ui/SystemMenu.h"

namespace quorvane {

namespace {

constexpr COLORREF ImageTransparent = RGB(200, 200, 200);

FrameOptions MainFrameOptions() {
    FrameOptions options;
    options.className = L"QuorvaneMainWindow";
    options.caption = texts::WindowCaption;
    // No maximise box: the controls keep their places whatever the size.
    options.style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX |
                    WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
    options.iconResource = "FORM_ICON1";
    return options;
}

// Tahoma, ANSI_CHARSET, at the layout's height; everything else the default.
LOGFONTW WindowFont(const WindowLayout& layout) {
    LOGFONTW font{};
    font.lfHeight = -layout.fontHeight;
    font.lfCharSet = ANSI_CHARSET;
    std::wcscpy(font.lfFaceName, L"Tahoma");
    return font;
}

// The frame's client size and font for its DPI, set before the first control
// is created, since each control copies the font of its parent.
WindowLayout FitFrame(Frame& frame) {
    const WindowLayout layout = LayoutForDpi(frame.Dpi());
    frame.SetClientSize(layout.clientWidth, layout.clientHeight);
    frame.ChangeFont(WindowFont(layout));
    return layout;
}

struct ColumnSpec {
    const char* header;
    ColumnAlignment alignment;
};

constexpr ColumnSpec Columns[ColumnCount] = {
    {texts::HeaderLetter, ColumnAlignment::Center}, {texts::HeaderLabel, ColumnAlignment::Center},
    {texts::HeaderDisk, ColumnAlignment::Center},   {texts::HeaderPartition, ColumnAlignment::Center},
    {texts::HeaderId, ColumnAlignment::Center},     {texts::HeaderIdName, ColumnAlignment::Center},
    {texts::HeaderKind, ColumnAlignment::Center},   {texts::HeaderSizeMb, ColumnAlignment::Right},
    {texts::HeaderFreeMb, ColumnAlignment::Right},  {texts::HeaderDriveType, ColumnAlignment::Left},
};

}  // namespace

MainWindow::MainWindow(HINSTANCE instance, Platform& platform)
    : frame_(instance, MainFrameOptions()),
      layout_(FitFrame(frame_)),
      partitionImages_(LoadImageList(instance, "FORM1_IMAGELIST1", layout_.imageSize, ImageTransparent)),
      partitionList_(frame_, control_id::PartitionList, texts::ListName, layout_.list,
                     LVS_SINGLESEL | LVS_SHOWSELALWAYS, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT),
      propertiesGroup_(frame_, control_id::PropertiesGroup, texts::PropertiesCaption, layout_.group),
      letterCaption_(propertiesGroup_, control_id::LetterCaption, texts::LetterCaptionText,
                     layout_.letterCaption),
      letterEdit_(propertiesGroup_, control_id::LetterEdit, layout_.letterEdit,
                  ES_READONLY | ES_UPPERCASE | ES_CENTER),
      labelCaption_(propertiesGroup_, control_id::LabelCaption, texts::LabelCaptionText,
                    layout_.labelCaption),
      labelEdit_(propertiesGroup_, control_id::LabelEdit, layout_.labelEdit, 0),
      idCaption_(propertiesGroup_, control_id::IdCaption, texts::IdCaptionText, layout_.idCaption),
      idEdit_(propertiesGroup_, control_id::IdEdit, layout_.idEdit, ES_UPPERCASE),
      modifyButton_(propertiesGroup_, control_id::ModifyButton, texts::ModifyText, layout_.modify),
      confirmButton_(frame_, control_id::ConfirmButton, texts::ConfirmText, layout_.confirm),
      exitButton_(frame_, control_id::ExitButton, texts::ExitText, layout_.exit),
      session_(platform, *this),
      highContrast_(HighContrastOn()) {
    partitionList_.SetSmallImages(partitionImages_.Get());
    partitionList_.SetBackground(GetSysColor(COLOR_WINDOW));
    for (int column = 0; column < ColumnCount; ++column)
        partitionList_.AddColumn(Columns[column].header, Columns[column].alignment,
                                 layout_.columnWidths[column]);
    idEdit_.SetBackground(GetSysColor(COLOR_WINDOW));
    labelEdit_.SetBackground(GetSysColor(COLOR_WINDOW));
    AttachHandlers();
    // Esc anywhere presses "退出"; there is no default button: Enter in a
    // field does what "修改" does, and elsewhere presses nothing.
    frame_.SetCancelButton(exitButton_);
    frame_.CenterOnScreen();
    // Centred on the main screen, the window may have left the screen it
    // was created on, without a WM_DPICHANGED while it is hidden.
    if (frame_.AdoptScreenDpi()) frame_.CenterOnScreen();
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
    frame_.EnableTabNavigation();
    frame_.AddMessageHook([this](const Message& message) { return OnKeyboardHook(message); });
    frame_.AddMessageHook([this](const Message& message) { return OnThemeHook(message); });
    frame_.SetCloseHandler([this](bool& accept) { OnCloseRequest(accept); });
    frame_.SetDpiChangedHandler([this](int dpi) { OnDpiChanged(dpi); });
    idEdit_.onChar = [this](WPARAM& character) { OnIdEditChar(character); };
    idEdit_.onChange = [this] { OnIdEditChange(); };
    idEdit_.onEnter = [this] { OnModifyClick(); };
    partitionList_.onClick = [this] { OnListClick(); };
    partitionList_.onRowStateChange = [this](const RowStateChange& change) {
        OnRowStateChange(change.firstRow);
    };
    partitionList_.onCustomDraw = [this](CustomDraw& draw) { return OnListCustomDraw(draw); };
    partitionList_.onContextMenu = [this](const ContextMenuRequest& request) { OnListContextMenu(request); };
    labelEdit_.onChange = [this] { OnLabelEditChange(); };
    labelEdit_.onEnter = [this] { OnModifyClick(); };
    modifyButton_.onClick = [this] { OnModifyClick(); };
    confirmButton_.onClick = [this] { OnConfirmClick(); };
    exitButton_.onClick = [this] { OnExitClick(); };
}

bool MainWindow::OnKeyboardHook(const Message& message) {
    // F5 anywhere in the window; a held key repeats its key-down with bit 30
    // of lParam set, which rescans only once.
    if (message.message != WM_KEYDOWN || message.wParam != VK_F5) return false;
    if ((message.lParam & (LPARAM{1} << 30)) == 0) OnRescanKey();
    return true;
}

bool MainWindow::OnThemeHook(const Message& message) {
    // A theme chosen while the program runs (high contrast on or off): the
    // colours taken from the system at start are taken again. Only top-level
    // windows hear of it; the list, a common control, hears from its parent.
    const bool contrastSwitched =
        message.message == WM_SETTINGCHANGE && message.wParam == SPI_SETHIGHCONTRAST;
    if (message.message != WM_SYSCOLORCHANGE && !contrastSwitched) return false;
    highContrast_ = HighContrastOn();
    for (Window* field : std::initializer_list<Window*>{&partitionList_, &idEdit_, &labelEdit_})
        field->SetBackground(GetSysColor(COLOR_WINDOW));
    for (Window* control :
         std::initializer_list<Window*>{&propertiesGroup_, &letterCaption_, &letterEdit_, &labelCaption_,
                                        &idCaption_, &modifyButton_, &confirmButton_, &exitButton_})
        control->SetBackground(GetSysColor(COLOR_BTNFACE));
    if (message.message == WM_SYSCOLORCHANGE)
        SendMessageW(partitionList_.Handle(), WM_SYSCOLORCHANGE, message.wParam, message.lParam);
    return false;
}

void MainWindow::OnDpiChanged(int dpi) {
    const WindowLayout old = layout_;
    layout_ = LayoutForDpi(dpi);
    const LOGFONTW font = WindowFont(layout_);
    frame_.ChangeFont(font);
    frame_.SetClientSize(layout_.clientWidth, layout_.clientHeight);
    partitionList_.ChangeFont(font);
    partitionList_.SetBounds(layout_.list);
    // A column as laid out takes its width at the new DPI; one the user
    // dragged keeps its share.
    for (int column = 0; column < ColumnCount; ++column) {
        const int width = partitionList_.ColumnWidth(column);
        partitionList_.SetColumnWidth(column, width == old.columnWidths[column]
                                                  ? layout_.columnWidths[column]
                                                  : MulDiv(width, dpi, old.dpi));
    }
    // The list holds the new pictures before the old ones are destroyed.
    UniqueImageList images =
        LoadImageList(frame_.Instance(), "FORM1_IMAGELIST1", layout_.imageSize, ImageTransparent);
    partitionList_.SetSmallImages(images.Get());
    partitionImages_ = std::move(images);
    propertiesGroup_.ChangeFont(font);
    propertiesGroup_.SetBounds(layout_.group);
    const struct {
        StaticText& caption;
        Position position;
    } captions[] = {{letterCaption_, layout_.letterCaption},
                    {labelCaption_, layout_.labelCaption},
                    {idCaption_, layout_.idCaption}};
    for (const auto& caption : captions) {
        caption.caption.ChangeFont(font);
        caption.caption.SetPosition(caption.position.x, caption.position.y);
    }
    const struct {
        Window& control;
        Bounds bounds;
    } controls[] = {{letterEdit_, layout_.letterEdit}, {labelEdit_, layout_.labelEdit},
                    {idEdit_, layout_.idEdit},         {modifyButton_, layout_.modify},
                    {confirmButton_, layout_.confirm}, {exitButton_, layout_.exit}};
    for (const auto& control : controls) {
        control.control.ChangeFont(font);
        control.control.SetBounds(control.bounds);
    }
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
    frame_.ShowFocusCues();
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
