// Code page 936 text as UTF-8 and back, for printing on Linux and for the
// image tool's edge with Linux (where the Windows program has UTF-16 calls).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

// A byte sequence that is not valid GBK becomes U+FFFD.
std::string GbkToUtf8(std::string_view gbk);
// Throws std::runtime_error for text GBK cannot hold.
std::string Utf8ToGbk(std::string_view utf8);

// As the Windows program reads a parameter: each character GBK lacks becomes
// UnrepresentableMark (platform/win32/WideText.h), never '?'. Text that is
// not UTF-8 is taken to be code page 936 already and kept as it is.
std::string GbkFromUtf8(std::string_view utf8);
// nullopt for text that is not valid GBK, the mark included: what the
// Windows program cannot tell the system, the image tool does not either.
std::optional<std::string> StrictUtf8FromGbk(std::string_view gbk);

}  // namespace quorvane
