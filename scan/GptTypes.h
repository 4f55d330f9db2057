// GPT partition types: the four-digit code shown in column "分区标记", the
// type GUID stored in the entry, and a short name for column "分区格式".
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

// A GUID as GPT stores it (16 bytes, the first three fields little-endian).
using Guid = std::array<uint8_t, 16>;

struct GptType {
    std::string_view code;  // four upper-case hexadecimal digits
    std::string_view guid;  // canonical upper-case text
    std::string_view name;  // code page 936
};

inline constexpr int GptTypeCount = 30;
extern const std::array<GptType, GptTypeCount> GptTypeTable;

// The codes of basic data, hidden or not, and of Windows' dynamic disks.
inline constexpr std::string_view BasicDataCode = "0700";
inline constexpr std::string_view LdmDataCode = "4200";
inline constexpr std::string_view LdmMetadataCode = "4201";
inline constexpr std::string_view StorageSpacesCode = "4202";
// Shown for a type GUID the table does not hold.
inline constexpr std::string_view UnknownGptCode = "----";

const GptType* FindGptTypeByCode(std::string_view code);
const GptType* FindGptTypeByGuid(const Guid& guid);

// "C12A7328-F81F-11D2-BA4B-00A0C93EC93B" and back.
std::string GuidText(const Guid& guid);
std::optional<Guid> ParseGuid(std::string_view text);

}  // namespace quorvane
