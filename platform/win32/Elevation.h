// Whether the process runs elevated (an administrator's full token), which
// opening the physical disks for writing needs.
#pragma once

#include "platform/win32/WindowsApi.h"

namespace quorvane {

// TokenElevation of `token`; false when it cannot be asked.
bool TokenIsElevated(HANDLE token);
bool ProcessIsElevated();

}  // namespace quorvane
