#include "scan/GptTypes.h"

#include <cstdio>

namespace quorvane {

// The codes are the four-digit convention of GPT partitioning tools; the
// type GUIDs are those UEFI, Microsoft's partition documentation and the
// Discoverable Partitions list give.
// clang-format off
constinit const std::array<GptType, GptTypeCount> GptTypeTable{{
    {"0700", "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", "\xBB\xF9\xB1\xBE\xCA\xFD\xBE\xDD"},  // "基本数据"
    {"0C01", "E3C9E316-0B5C-4DB8-817D-F92DF00215AE", "\xCE\xA2\xC8\xED\xB1\xA3\xC1\xF4"},  // "微软保留"
    {"2700", "DE94BBA4-06D1-4D40-A16A-BFD50179D6AC", "Windows \xBB\xD6\xB8\xB4\xBB\xB7\xBE\xB3"},  // "Windows 恢复环境"
    {"4200", "AF9B60A0-1431-4F62-BC68-3311714A69AD", "LDM \xCA\xFD\xBE\xDD"},  // "LDM 数据"
    {"4201", "5808C8AA-7E8F-42E0-85D2-E1E90434CFB3", "LDM \xD4\xAA\xCA\xFD\xBE\xDD"},  // "LDM 元数据"
    {"4202", "E75CAF8F-F680-4CEE-AFA3-B001E56EFC2D", "\xB4\xE6\xB4\xA2\xBF\xD5\xBC\xE4"},  // "存储空间"
    {"7501", "37AFFC90-EF7D-4E96-91C3-2D7AE055B174", "IBM GPFS"},  // "IBM GPFS"
    {"8200", "0657FD6D-A4AB-43C4-84E5-0933C84B4F4F", "Linux \xBD\xBB\xBB\xBB"},  // "Linux 交换"
    {"8300", "0FC63DAF-8483-4772-8E79-3D69D8477DE4", "Linux \xCE\xC4\xBC\xFE\xCF\xB5\xCD\xB3"},  // "Linux 文件系统"
    {"8301", "8DA63339-0007-60C0-C436-083AC8230908", "Linux \xB1\xA3\xC1\xF4"},  // "Linux 保留"
    {"8302", "933AC7E1-2EB4-4F13-B844-0E14E2AEF915", "Linux /home"},  // "Linux /home"
    {"8303", "44479540-F297-41B2-9AF7-D131D5F0458A", "Linux \xB8\xF9 (x86)"},  // "Linux 根 (x86)"
    {"8304", "4F68BCE3-E8CD-4DB1-96E7-FBCAF984B709", "Linux \xB8\xF9 (x86-64)"},  // "Linux 根 (x86-64)"
    {"8305", "B921B045-1DF0-41C3-AF44-4C6F280D3FAE", "Linux \xB8\xF9 (ARM64)"},  // "Linux 根 (ARM64)"
    {"8306", "3B8F8425-20E0-4F3B-907F-1A25A76F98E8", "Linux /srv"},  // "Linux /srv"
    {"8307", "69DAD710-2CE4-4E3C-B16C-21A1D49ABED3", "Linux \xB8\xF9 (ARM)"},  // "Linux 根 (ARM)"
    {"8310", "4D21B016-B534-45C2-A9FB-5C16E091FD2D", "Linux /var"},  // "Linux /var"
    {"8311", "7EC6F557-3BC5-4ACA-B293-16EF5DF639D1", "Linux /var/tmp"},  // "Linux /var/tmp"
    {"8E00", "E6D6D379-F507-44C2-A23C-238F2A3DF928", "Linux LVM"},  // "Linux LVM"
    {"A500", "516E7CB4-6ECF-11D6-8FF8-00022D09712B", "FreeBSD \xCA\xFD\xBE\xDD"},  // "FreeBSD 数据"
    {"A502", "516E7CB5-6ECF-11D6-8FF8-00022D09712B", "FreeBSD \xBD\xBB\xBB\xBB"},  // "FreeBSD 交换"
    {"A503", "516E7CB6-6ECF-11D6-8FF8-00022D09712B", "FreeBSD UFS"},  // "FreeBSD UFS"
    {"A504", "516E7CBA-6ECF-11D6-8FF8-00022D09712B", "FreeBSD ZFS"},  // "FreeBSD ZFS"
    {"AF00", "48465300-0000-11AA-AA11-00306543ECAC", "Apple HFS+"},  // "Apple HFS+"
    {"AF0A", "7C3457EF-0000-11AA-AA11-00306543ECAC", "Apple APFS"},  // "Apple APFS"
    {"EA00", "BC13C2FF-59E6-4262-A352-B275FD6F7172", "\xC0\xA9\xD5\xB9\xD2\xFD\xB5\xBC"},  // "扩展引导"
    {"EF00", "C12A7328-F81F-11D2-BA4B-00A0C93EC93B", "EFI \xCF\xB5\xCD\xB3"},  // "EFI 系统"
    {"EF01", "024DEE41-33E7-11D3-9D69-0008C781F39F", "MBR \xB7\xD6\xC7\xF8\xB7\xBD\xB0\xB8"},  // "MBR 分区方案"
    {"EF02", "21686148-6449-6E6F-744E-656564454649", "BIOS \xD2\xFD\xB5\xBC"},  // "BIOS 引导"
    {"FD00", "A19D880F-05FC-4D3B-A006-743F0F84911E", "Linux RAID"},  // "Linux RAID"
}};
// clang-format on

const GptType* FindGptTypeByCode(std::string_view code) {
    for (const GptType& type : GptTypeTable)
        if (type.code == code) return &type;
    return nullptr;
}

const GptType* FindGptTypeByGuid(const Guid& guid) {
    const std::string text = GuidText(guid);
    for (const GptType& type : GptTypeTable)
        if (type.guid == text) return &type;
    return nullptr;
}

std::string GuidText(const Guid& guid) {
    // The first three fields are stored little-endian, the last two as bytes.
    char text[40];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", guid[3],
                  guid[2], guid[1], guid[0], guid[5], guid[4], guid[7], guid[6], guid[8], guid[9], guid[10],
                  guid[11], guid[12], guid[13], guid[14], guid[15]);
    return text;
}

std::optional<Guid> ParseGuid(std::string_view text) {
    static constexpr int Order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    if (text.size() != 36) return std::nullopt;
    Guid guid{};
    int byte = 0;
    for (size_t i = 0; i < text.size();) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i++] != '-') return std::nullopt;
            continue;
        }
        int value = 0;
        for (int k = 0; k < 2; ++k, ++i) {
            const char c = text[i];
            const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
            if (digit < 0) return std::nullopt;
            value = value * 16 + digit;
        }
        guid[static_cast<size_t>(Order[byte++])] = static_cast<uint8_t>(value);
    }
    return guid;
}

}  // namespace quorvane
