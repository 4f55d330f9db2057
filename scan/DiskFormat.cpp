#include "scan/DiskFormat.h"

#include <algorithm>
#include <iterator>

#include "text/Gbk.h"

namespace quorvane {

bool IsFat32Id(std::string_view idText) {
    return idText == "0B" || idText == "0C" || idText == "1B" || idText == "1C" || idText == "BC";
}

std::optional<uint8_t> VisibilityTwin(uint8_t id, bool hide) {
    for (const uint8_t shown : {0x01, 0x04, 0x06, 0x07, 0x0B, 0x0C, 0x0E}) {
        const auto hidden = static_cast<uint8_t>(shown | 0x10);
        if (id == shown || id == hidden) return hide ? hidden : shown;
    }
    return std::nullopt;
}

bool IsHiddenMbrId(std::string_view idText) {
    for (const char* hidden :
         {"11", "14", "16", "17", "1B", "1C", "1E", "12", "27", "A0", "BB", "BC", "DD", "DE"})
        if (idText == hidden) return true;
    return false;
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

bool IsBitLockerBootSector(const Sector& sector) {
    static constexpr uint8_t ToGoGuid[16] = {0x3B, 0xD6, 0x67, 0x49, 0x29, 0x2E, 0xD8, 0x4A,
                                             0x83, 0x99, 0xF6, 0xA3, 0x39, 0xE3, 0xD0, 0x01};
    const bool jump = sector[0] == 0xEB && (sector[1] == 0x52 || sector[1] == 0x58) && sector[2] == 0x90;
    const auto oem = [&sector](const char* name) {
        return std::equal(name, name + 8, sector.begin() + BitLockerOemOffset);
    };
    return jump && (oem("-FVE-FS-") ||
                    (oem("MSWIN4.1") && std::equal(std::begin(ToGoGuid), std::end(ToGoGuid),
                                                   sector.begin() + BitLockerToGoGuidOffset)));
}

}  // namespace quorvane
