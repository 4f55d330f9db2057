// The identifiers of the main window's controls. Tools outside the program
// find the controls by them (the Wine tests: tests/wine/WindowDriver.cpp and
// tests/wine/lib.sh), so each control keeps its number whatever order the
// window creates them in. A new control takes a new number; none is reused.
#pragma once

namespace quorvane::control_id {

inline constexpr int PartitionList = 0x8000;
inline constexpr int PropertiesGroup = 0x8001;
inline constexpr int LetterCaption = 0x8002;
inline constexpr int IdCaption = 0x8003;
inline constexpr int LabelCaption = 0x8004;
inline constexpr int IdEdit = 0x8005;
inline constexpr int LabelEdit = 0x8006;
inline constexpr int ModifyButton = 0x8007;
inline constexpr int LetterEdit = 0x8008;
inline constexpr int ConfirmButton = 0x8009;
inline constexpr int ExitButton = 0x800A;

}  // namespace quorvane::control_id
