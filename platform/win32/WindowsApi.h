// <windows.h> and <commctrl.h> for all of the Windows program's code, which
// includes them only through this header.
#pragma once

// <commctrl.h> needs the types of <windows.h>.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

// <windows.h> maps these names to their "A" functions, but they are also
// methods of the Platform seam, which must keep one name in every file. The
// Windows calls are written with their full "A" or "W" names.
#undef SetVolumeLabel
#undef DefineDosDevice
