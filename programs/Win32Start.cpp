#include "programs/Win32Start.h"

#include "app/CommandLine.h"
#include "platform/win32/WideText.h"
#include "platform/win32/WindowsApi.h"

namespace quorvane {

std::vector<std::string> ProgramParameters() {
    std::vector<std::string> parameters = SplitCommandLine(GbkFromWide(GetCommandLineW()));
    // Parameter 0 is the program itself and is never looked at.
    if (!parameters.empty()) parameters.erase(parameters.begin());
    return parameters;
}

}  // namespace quorvane
