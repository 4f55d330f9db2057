// The command-line help shown by /? and /H and by the system menu.
#pragma once

#include <string>

namespace quorvane {

// Five lines separated by single CR bytes, no CR at the end; code page 936.
std::string BuildHelpText();

}  // namespace quorvane
