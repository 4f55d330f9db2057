// Code page 936 text as UTF-8, for printing on Linux.
#pragma once

#include <string>
#include <string_view>

namespace quorvane {

// A byte sequence that is not valid GBK becomes U+FFFD.
std::string GbkToUtf8(std::string_view gbk);
std::string Utf8ToGbk(std::string_view utf8);

}  // namespace quorvane
