// What both Windows entry points (the window program and the console
// companion) do before the run starts.
#pragma once

#include <string>
#include <vector>

namespace quorvane {

// The process's parameters, program excluded, in code page 936. They are
// read as UTF-16 (GetCommandLineW): the "A" command line of a Windows that
// does not run in code page 936 already has '?' for every Chinese character.
// A character 936 cannot hold is marked (platform/win32/WideText.h), so a
// label holding it is refused, not set.
std::vector<std::string> ProgramParameters();

}  // namespace quorvane
