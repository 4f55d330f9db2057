// Quorvane.com, the console companion: the window program's run with a
// Shell that prints. cmd and PowerShell find it before Quorvane.exe when a
// user types "Quorvane" (PATHEXT lists .COM first) and wait for it.
#include "app/ConsoleRun.h"
#include "programs/Win32Start.h"
#include "platform/win32/ConsoleStream.h"
#include "platform/win32/Elevation.h"
#include "platform/win32/WideText.h"
#include "platform/win32/Win32Platform.h"

using namespace quorvane;

namespace {

class StandardStreams : public ConsoleSink {
 public:
    void Out(std::string_view gbk) override { out_.WriteGbk(gbk); }
    void Err(std::string_view gbk) override { err_.WriteGbk(gbk); }
    void OutUtf8(std::string_view utf8) override { out_.WriteUtf8(utf8); }

 private:
    ConsoleStream out_{STD_OUTPUT_HANDLE};
    ConsoleStream err_{STD_ERROR_HANDLE};
};

}  // namespace

int main() {
    Win32Platform platform;
    StandardStreams streams;
    return RunConsole(platform, ProgramParameters(), ProcessIsElevated(), streams,
                      [](std::string_view gbk) { return GbkToCodePage(gbk, CP_UTF8); });
}
