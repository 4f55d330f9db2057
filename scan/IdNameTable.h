// The names of the 90 partition IDs the program knows, shown in column
// "分区格式". Keys are two upper-case hexadecimal digits in ascending order.
#pragma once

#include <array>
#include <string_view>

namespace quorvane {

struct IdName {
    std::string_view key;
    std::string_view name;  // code page 936
};

inline constexpr int IdNameCount = 90;
extern const std::array<IdName, IdNameCount> IdNameTable;

// The name of exactly this ID text, or the empty text. The text is used as
// given: "0b", "7" or " 07" find nothing.
std::string_view LookupIdName(std::string_view idText);

}  // namespace quorvane
