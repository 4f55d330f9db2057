#include "ui/SystemMenu.h"

#include "platform/win32/WideText.h"
#include "text/Texts.h"
#include "ui/MessageBox.h"

namespace quorvane {

void AddSystemMenuItems(HWND window) {
    // FALSE: the window gets its own copy of the system menu to change.
    const HMENU menu = GetSystemMenu(window, FALSE);
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, HelpCommand, WideFromGbk(texts::MenuHelpItem).c_str());
    AppendMenuW(menu, MF_STRING | MF_CHECKED, AboutCommand, WideFromGbk(texts::MenuAboutItem).c_str());
}

bool OnSystemMenuCommand(const Message& message, Shell& shell, const std::string& helpText) {
    if (message.message != WM_SYSCOMMAND) return false;
    if (message.wParam == AboutCommand)
        ShowMessageBox(GetActiveWindow(), std::string("Quorvane " QUORVANE_VERSION "\r\n") + texts::AboutBody,
                       texts::AboutTitle, MB_OK | MB_ICONINFORMATION);
    else if (message.wParam == HelpCommand)
        shell.ShowHelp(helpText);
    return false;
}

}  // namespace quorvane
