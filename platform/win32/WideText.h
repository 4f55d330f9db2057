// Code page 936 at the edge of the Windows program. The program's texts and
// its row model are GBK bytes; the system is asked and told through its
// UTF-16 ("W") calls, so what it shows and reads does not depend on the
// code page the user's Windows runs in. The conversions happen here and
// only at that edge.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

// What a character code page 936 has no bytes for becomes: a lead byte
// followed by 0x7F, which no GBK text holds (0x7F is never a second byte).
// The text rules count it as one double-byte character, so cuts never split
// it, and every strict conversion back fails on it: a label holding it is
// refused by the label call instead of being written as '?'.
inline constexpr char UnrepresentableMark[] = "\x81\x7F";

// For showing: invalid GBK (the mark included) shows as the system's
// replacement character.
std::wstring WideFromGbk(std::string_view gbk);
// For telling the system: nullopt when `gbk` is not valid GBK or holds the
// mark, so nothing is ever passed on altered.
std::optional<std::wstring> StrictWideFromGbk(std::string_view gbk);

// Never best-fit ("ä" is not "a"), never '?': each character 936 cannot hold
// becomes UnrepresentableMark.
std::string GbkFromWide(std::wstring_view wide);

// Whether GbkFromWide had to put in the mark anywhere in `gbk`.
bool HoldsUnrepresentable(std::string_view gbk);

// Code page 936 to another code page (UTF-8 is CP_UTF8), for the console
// and for files; characters the other code page lacks are its default
// character there, as every console program writes them.
std::string GbkToCodePage(std::string_view gbk, unsigned codePage);

}  // namespace quorvane
