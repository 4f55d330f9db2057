// The command line: /M, /F, /L, /S and the help switch. It only puts texts
// into row cells, exactly as an edit in the window would; the apply pass does
// the rest.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "scan/PartitionRows.h"

namespace quorvane {

// Splits a process command line into parameters; parameter 0 is the program.
// Separators are the characters 1 to 32; separators and empty quote pairs
// before a parameter are skipped; a parameter ends at the first separator
// outside double quotes; a parameter that starts and ends with a quote loses
// those two quotes.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// A command line that SplitCommandLine turns back into `program` and
// `parameters` (an empty parameter cannot be given and is dropped).
std::string JoinCommandLine(std::string_view program, const std::vector<std::string>& parameters);

bool IsHelpSwitch(const std::vector<std::string>& parameters);

enum class CommandVerdict {
    WindowMode,  // no parameters
    Valid,       // a help switch, or changes put into the cells
    Invalid,     // asks for nothing valid: nothing was changed
};

struct CommandOutcome {
    CommandVerdict verdict = CommandVerdict::WindowMode;
    bool runApplyPass = false;
    // /F and /S change every row with an ID, so they rely on every partition
    // having been read.
    bool changesEveryMatch = false;
    // /U: the undo file to restore.
    std::string restoreFile;
    // What the run says besides (code page 936): each label /L or /S cut
    // to its row's file-system limit, one line per row.
    std::vector<std::string> information;
};

// `parameters` excludes the program itself.
CommandOutcome ProcessCommandLine(const std::vector<std::string>& parameters, PartitionRows& rows);

}  // namespace quorvane
