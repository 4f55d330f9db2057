// The Windows program: builds the main window hidden, runs the start
// sequence, then the message loop until the single close path has run.
#include "app/Session.h"
#include "ui/SystemMenu.h"
#include "programs/Win32Start.h"
#include "platform/win32/Win32Platform.h"
#include "platform/win32/WindowsApi.h"
#include "ui/MainWindow.h"

using namespace quorvane;

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    Win32Platform platform;
    MainWindow window(instance, platform);
    Session& session = window.GetSession();

    window.GetFrame().SetIcon("FORM_ICON1");
    AddSystemMenuItems(window.GetFrame().Handle());

    session.Start(ProgramParameters());
    window.ShowPlan();  // /N: what the command would do
    // A window that could not be created (no desktop) cannot be closed by
    // the user: the run ends as if it had been.
    if (window.GetFrame().Handle() == nullptr) window.RequestClose();

    window.GetFrame().RunMessageLoop();
    return session.ExitCode();
}
