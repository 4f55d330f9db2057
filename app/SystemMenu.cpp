#include "app/SystemMenu.h"

#include "text/Texts.h"

namespace quorvane {

void AddSystemMenuItems(HWND window) {
    // FALSE: the window gets its own copy of the system menu to change.
    const HMENU menu = GetSystemMenu(window, FALSE);
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING, HelpCommand, texts::MenuHelpItem);
    AppendMenuA(menu, MF_STRING | MF_CHECKED, AboutCommand, texts::MenuAboutItem);
}

bool OnSystemMenuCommand(const Message& message, Shell& shell, const std::string& helpText) {
    if (message.message != WM_SYSCOMMAND) return false;
    if (message.wParam == AboutCommand)
        MessageBoxA(GetActiveWindow(), texts::AboutText, texts::AboutTitle, MB_OK | MB_ICONINFORMATION);
    else if (message.wParam == HelpCommand)
        shell.ShowHelp(helpText);
    return false;
}

}  // namespace quorvane
