// The console companion's run (Quorvane.com): the same Session and the same
// parameters as the window program, with a Shell that prints. What it
// prints and which exit code it ends with are decided here, portably; how
// text reaches a console, file or pipe is the entry point's business.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/RowsReport.h"
#include "platform/Platform.h"

namespace quorvane {

// The process is not elevated: it cannot open the disks, so nothing is tried.
inline constexpr int ExitNotElevated = 3;

class ConsoleSink {
 public:
    virtual ~ConsoleSink() = default;
    // Code page 936 text with "\n" line ends, for standard output and error.
    virtual void Out(std::string_view gbk) = 0;
    virtual void Err(std::string_view gbk) = 0;
    // UTF-8 for standard output, passed on as UTF-8 (the JSON listing).
    virtual void OutUtf8(std::string_view utf8) = 0;
};

// `parameters` exclude the program. Without parameters the rows are printed
// as a table, with "/J" alone as JSON; "/?" and "/H" print the help and
// touch no disk, so they need no elevation. Anything else is the window
// program's command line: the undo file it saved goes to standard output,
// each failure (one line per row, as the failure box words it) and each
// restore problem to standard error. Returns the exit code.
int RunConsole(Platform& platform, const std::vector<std::string>& parameters, bool elevated,
               ConsoleSink& sink, const Utf8FromGbk& toUtf8);

}  // namespace quorvane
