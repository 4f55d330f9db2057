// The program's only window: the partition list, the "属性" group with the
// three fields and "修改", and "确定" and "退出". It owns the run (Session):
// the rows are the model, the list mirrors them through RowObserver, and the
// handlers change the model and read it back, never the list. It is laid out
// for the DPI of its screen (ui/WindowLayout.h) and again when it moves to a
// screen of another DPI.
#pragma once

#include <string>

#include "app/Session.h"
#include "ui/Controls.h"
#include "ui/Frame.h"
#include "ui/Gdi.h"
#include "ui/ReportList.h"
#include "ui/WindowLayout.h"

namespace quorvane {

class MainWindow : public Shell, public RowObserver {
 public:
    MainWindow(HINSTANCE instance, Platform& platform);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    Frame& GetFrame() { return frame_; }
    Session& GetSession() { return session_; }

    // Shell
    void ShowHelp(const std::string& helpText) override;
    void RequestClose() override;
    void ShowMainWindow() override;
    void SelectRow(int row) override;
    void SetWaitCursor(bool wait) override;

    // RowObserver: the list follows the rows.
    void OnRowsCleared() override;
    void OnRowAppended(int row) override;
    void OnCellChanged(int row, int column) override;
    void OnImageChanged(int row) override;

 private:
    void AttachHandlers();
    bool OnKeyboardHook(const Message& message);
    bool OnThemeHook(const Message& message);
    void OnDpiChanged(int dpi);

    // What the user does in the window.
    void OnRowStateChange(int row);
    void OnListClick();
    void OnListContextMenu(const ContextMenuRequest& request);
    LRESULT OnListCustomDraw(CustomDraw& draw);
    void OnIdEditChar(WPARAM& character);
    void OnIdEditChange();
    void OnLabelEditChange();
    void OnModifyClick();
    void OnConfirmClick();
    void OnExitClick();
    void OnRescanKey();
    void OnCloseRequest(bool& accept);
    void ShowWriteFailures();
    void ShowNotices();

 public:
    // /N: the plan of the command line, in a box (the window stays hidden).
    void ShowPlan();

 private:

    PartitionRows& Rows() { return session_.Rows(); }

    Frame frame_;
    WindowLayout layout_;  // for the frame's DPI, which is set before any control copies its font
    UniqueImageList partitionImages_;
    // Created in this order, which is their z-order: each field right after
    // its caption, so a screen reader names the field after it (Windows
    // names a field after the nearest static text before it), and Tab walks
    // list, 卷标, 分区标记, 修改, 确定, 退出 (the read-only letter field is
    // no tab stop).
    ReportList partitionList_;
    GroupBox propertiesGroup_;
    StaticText letterCaption_;
    Edit letterEdit_;
    StaticText labelCaption_;
    Edit labelEdit_;
    StaticText idCaption_;
    Edit idEdit_;
    Button modifyButton_;
    Button confirmButton_;
    Button exitButton_;
    Session session_;
    bool highContrast_ = false;
    // What the selected row put into the label field, and the field's limit.
    std::string labelShown_;
    LabelLimit labelLimit_;
    size_t idDigits_ = 2;  // four on a GPT row
    // While "确定" runs, a close request waits until the failures are shown.
    bool holdCloseRequests_ = false;
    bool closeRequested_ = false;
};

}  // namespace quorvane
