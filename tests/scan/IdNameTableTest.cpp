// The ID name table: its shape (what the binary search relies on), every
// name against the published list, and lookups that must find nothing.
#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <sstream>

#include "scan/IdNameTable.h"
#include "tools/Utf8.h"

namespace quorvane {
namespace {

// The published table, as the user reads it (UTF-8), one "ID name" per line.
constexpr const char* PublishedTable = R"(00 空闲
01 FAT12
02 XENIX
03 XENIX
04 FAT16(<32M)
05 扩展
06 FAT16
07 NTFS
08 AIX
09 AIC
0A OS/2
0B FAT32
0C FAT32 LBA
0E FAT16
0F 扩展 LBA
10 OPUS
11 隐藏 FAT12
12 COMPAQ
14 隐藏 FAT16(<32M)
16 隐藏 FAT16
17 隐藏 NTFS
18 AST
1B 隐藏 FAT32
1C 隐藏 FAT32 LBA
1E 隐藏 LBA VFAT
24 NEC DOS
27 隐藏 NTFS
3C Partition Magic
40 Venix 80286
41 FPC PreP Boot
42 动态磁盘卷
4D QNX4.x
4E QNX4.x
4F QNX4.x
50 Ontrack
51 Ontrack
52 CP/M
53 Ontrack
54 Ontrack
55 EZ-Drive
56 Golden Bow
5C Priam Edisk
61 Speed Stor
63 GNU HURD 或 SYS
64 Novell Netware
65 Novell Netware
70 Disk Secure Mult
75 PC/IX
80 Old Minix
81 Minix/Old Linux
82 Linux Swap
83 Linux
84 隐藏 OS/2
85 Linux 扩展
86 FAT16 Volume Set
87 NTFS Volume Set
93 Amoeba
94 Amoeba BBT
A0 IBM Thinkpad 隐藏分区
A5 BSD/386
A6 Open BSD
A7 NextSTEP
B8 BSDI
B9 BSDI
BB Acronis 隐藏分区
BC Acronis 安全分区
BE Solaris
C0 DRDOS
C1 DRDOS
C4 DRDOS
C6 DRDOS
C7 Syrinx
DB COP/M/CTOS
DD DELL DIAG
DE DELL MEDIADIRECT
E1 SpeedStor FAT12
E3 SpeedStor R/O
E4 SpeedStor FAT16
EB BeOS
EE GPT
EF EFI
F0 Linux/Pa-RISC boot
F1 StorgeDimensions
F2 DOS 第二分区
F4 SpeedStor
FB Vmware native
FC Vmware swap
FD Linux raid
FE SpeedStor,LanStep,PS/2 IML
FF Xenix BBT)";

std::map<std::string, std::string> Published() {
    std::map<std::string, std::string> table;
    std::istringstream lines(PublishedTable);
    for (std::string line; std::getline(lines, line);) table[line.substr(0, 2)] = line.substr(3);
    return table;
}

std::string Name(std::string_view id) {
    return GbkToUtf8(LookupIdName(id));
}

bool IsUpperHexDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) || (c >= 'A' && c <= 'F');
}

TEST(IdNameTable, NinetyUpperCaseHexKeysStrictlyAscending) {
    ASSERT_EQ(IdNameTable.size(), 90u);
    for (size_t i = 0; i < IdNameTable.size(); ++i) {
        const std::string_view key = IdNameTable[i].key;
        ASSERT_EQ(key.size(), 2u) << i;
        EXPECT_TRUE(IsUpperHexDigit(key[0]) && IsUpperHexDigit(key[1])) << key;
        // Strictly ascending in byte order (digits before A-F) is what the
        // binary search needs, and it also rules out a duplicate key.
        if (i > 0) {
            EXPECT_LT(IdNameTable[i - 1].key, key) << "at " << i;
        }
    }
}

TEST(IdNameTable, EveryKeyFindsItsPublishedNameAndNoOtherIdHasOne) {
    const auto published = Published();
    ASSERT_EQ(published.size(), 90u);
    for (int value = 0; value < 256; ++value) {
        char id[3];
        std::snprintf(id, sizeof id, "%02X", value);
        const auto entry = published.find(id);
        // Found through the search, so a table out of order or a search that
        // stops one short shows here too.
        EXPECT_EQ(Name(id), entry == published.end() ? "" : entry->second) << id;
    }
}

TEST(IdNameTable, LookupTakesTheTextExactlyAsGiven) {
    EXPECT_EQ(Name("0B"), "FAT32");
    EXPECT_EQ(Name("0b"), "");
    EXPECT_EQ(Name("ee"), "");
    EXPECT_EQ(Name("7"), "");
    EXPECT_EQ(Name(""), "");
    EXPECT_EQ(Name(" 07"), "");
    EXPECT_EQ(Name("07 "), "");
    EXPECT_EQ(Name("007"), "");
    EXPECT_EQ(Name("0"), "");  // a prefix of "00" .. "0F"
    EXPECT_EQ(Name("FFF"), "");
    EXPECT_EQ(Name(std::string_view("0\0", 2)), "");
    for (const char* missing : {"0D", "13", "FA", "5A", "F3"}) EXPECT_EQ(Name(missing), "") << missing;
}

}  // namespace
}  // namespace quorvane
