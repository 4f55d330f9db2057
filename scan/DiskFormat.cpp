#include "scan/DiskFormat.h"

#include "text/Gbk.h"

namespace quorvane {

bool IsFat32Id(std::string_view idText) {
    return idText == "0B" || idText == "0C" || idText == "1B" || idText == "1C" || idText == "BC";
}

bool IsExtendedId(std::string_view idText) {
    return idText == "05" || idText == "0F";
}

LabelLimit LabelLimitOf(std::string_view fileSystem) {
    if (fileSystem == "NTFS") return {32, true};
    if (fileSystem == "exFAT") return {11, true};
    return {11, false};
}

std::string_view CutLabel(std::string_view label, const LabelLimit& limit) {
    return limit.characters ? CutToCharacters(label, limit.count) : CutToBytes(label, limit.count);
}

}  // namespace quorvane
