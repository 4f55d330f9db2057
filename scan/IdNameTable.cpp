#include "scan/IdNameTable.h"

namespace quorvane {

// Several IDs share one name. The names are GBK bytes; the comments quote
// them in UTF-8.
// clang-format off
constinit const std::array<IdName, IdNameCount> IdNameTable{{
    {"00", "\xBF\xD5\xCF\xD0"},  // "空闲"
    {"01", "FAT12"},
    {"02", "XENIX"},
    {"03", "XENIX"},
    {"04", "FAT16(<32M)"},
    {"05", "\xC0\xA9\xD5\xB9"},  // "扩展"
    {"06", "FAT16"},
    {"07", "NTFS"},
    {"08", "AIX"},
    {"09", "AIC"},
    {"0A", "OS/2"},
    {"0B", "FAT32"},
    {"0C", "FAT32 LBA"},
    {"0E", "FAT16"},
    {"0F", "\xC0\xA9\xD5\xB9 LBA"},  // "扩展 LBA"
    {"10", "OPUS"},
    {"11", "\xD2\xFE\xB2\xD8 FAT12"},  // "隐藏 FAT12"
    {"12", "COMPAQ"},
    {"14", "\xD2\xFE\xB2\xD8 FAT16(<32M)"},  // "隐藏 FAT16(<32M)"
    {"16", "\xD2\xFE\xB2\xD8 FAT16"},  // "隐藏 FAT16"
    {"17", "\xD2\xFE\xB2\xD8 NTFS"},  // "隐藏 NTFS"
    {"18", "AST"},
    {"1B", "\xD2\xFE\xB2\xD8 FAT32"},  // "隐藏 FAT32"
    {"1C", "\xD2\xFE\xB2\xD8 FAT32 LBA"},  // "隐藏 FAT32 LBA"
    {"1E", "\xD2\xFE\xB2\xD8 LBA VFAT"},  // "隐藏 LBA VFAT"
    {"24", "NEC DOS"},
    {"27", "\xD2\xFE\xB2\xD8 NTFS"},  // "隐藏 NTFS"
    {"3C", "Partition Magic"},
    {"40", "Venix 80286"},
    {"41", "FPC PreP Boot"},
    {"42", "\xB6\xAF\xCC\xAC\xB4\xC5\xC5\xCC\xBE\xED"},  // "动态磁盘卷"
    {"4D", "QNX4.x"},
    {"4E", "QNX4.x"},
    {"4F", "QNX4.x"},
    {"50", "Ontrack"},
    {"51", "Ontrack"},
    {"52", "CP/M"},
    {"53", "Ontrack"},
    {"54", "Ontrack"},
    {"55", "EZ-Drive"},
    {"56", "Golden Bow"},
    {"5C", "Priam Edisk"},
    {"61", "Speed Stor"},
    {"63", "GNU HURD \xBB\xF2 SYS"},  // "GNU HURD 或 SYS"
    {"64", "Novell Netware"},
    {"65", "Novell Netware"},
    {"70", "Disk Secure Mult"},
    {"75", "PC/IX"},
    {"80", "Old Minix"},
    {"81", "Minix/Old Linux"},
    {"82", "Linux Swap"},
    {"83", "Linux"},
    {"84", "\xD2\xFE\xB2\xD8 OS/2"},  // "隐藏 OS/2"
    {"85", "Linux \xC0\xA9\xD5\xB9"},  // "Linux 扩展"
    {"86", "FAT16 Volume Set"},
    {"87", "NTFS Volume Set"},
    {"93", "Amoeba"},
    {"94", "Amoeba BBT"},
    {"A0", "IBM Thinkpad \xD2\xFE\xB2\xD8\xB7\xD6\xC7\xF8"},  // "IBM Thinkpad 隐藏分区"
    {"A5", "BSD/386"},
    {"A6", "Open BSD"},
    {"A7", "NextSTEP"},
    {"B8", "BSDI"},
    {"B9", "BSDI"},
    {"BB", "Acronis \xD2\xFE\xB2\xD8\xB7\xD6\xC7\xF8"},  // "Acronis 隐藏分区"
    {"BC", "Acronis \xB0\xB2\xC8\xAB\xB7\xD6\xC7\xF8"},  // "Acronis 安全分区"
    {"BE", "Solaris"},
    {"C0", "DRDOS"},
    {"C1", "DRDOS"},
    {"C4", "DRDOS"},
    {"C6", "DRDOS"},
    {"C7", "Syrinx"},
    {"DB", "COP/M/CTOS"},
    {"DD", "DELL DIAG"},
    {"DE", "DELL MEDIADIRECT"},
    {"E1", "SpeedStor FAT12"},
    {"E3", "SpeedStor R/O"},
    {"E4", "SpeedStor FAT16"},
    {"EB", "BeOS"},
    {"EE", "GPT"},
    {"EF", "EFI"},
    {"F0", "Linux/Pa-RISC boot"},
    {"F1", "StorgeDimensions"},
    {"F2", "DOS \xB5\xDA\xB6\xFE\xB7\xD6\xC7\xF8"},  // "DOS 第二分区"
    {"F4", "SpeedStor"},
    {"FB", "Vmware native"},
    {"FC", "Vmware swap"},
    {"FD", "Linux raid"},
    {"FE", "SpeedStor,LanStep,PS/2 IML"},
    {"FF", "Xenix BBT"},
}};
// clang-format on

// Binary search in the byte order of the keys, in which the digits sort
// before A to F. Equal only when the texts hold the same bytes.
std::string_view LookupIdName(std::string_view idText) {
    int low = 0;
    int high = IdNameCount - 1;
    bool found = false;
    while (low <= high) {
        const int middle = (low + high) / 2;
        const int order = IdNameTable[middle].key.compare(idText);
        if (order < 0) {
            low = middle + 1;
        } else {
            high = middle - 1;
            if (order == 0) {
                found = true;
                low = middle;
            }
        }
    }
    return found ? IdNameTable[low].name : std::string_view{};
}

}  // namespace quorvane
