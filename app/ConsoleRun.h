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

class Session;

// What a run without a window says once it is over, one line each (code
// page 936, no line ends); the console companion and the image tool print
// the same lines. `out`, for standard output, is the session's information
// (a label that was cut); `err`, for standard error, names what was not done
// and why: each failed or refused change as the failure box words it, each
// restore problem, an /F or /S that could not look everywhere, what the scan
// could not read, a command line that asks for nothing valid. Every run
// that ends with ExitNotApplied has at least one `err` line.
struct RunReport {
    std::vector<std::string> out;
    std::vector<std::string> err;
};
RunReport ReportRun(const Session& session);

// `parameters` exclude the program. Without parameters the rows are printed
// as a table, with "/J" alone as JSON; "/?" and "/H" print the help and
// touch no disk, so they need no elevation. Anything else is the window
// program's command line: its information and the undo file it saved go to
// standard output, the ReportRun lines of `err` to standard error. Returns
// the exit code.
int RunConsole(Platform& platform, const std::vector<std::string>& parameters, bool elevated,
               ConsoleSink& sink, const Utf8FromGbk& toUtf8);

}  // namespace quorvane
