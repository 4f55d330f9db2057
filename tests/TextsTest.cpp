// The program's texts are GBK escapes with the UTF-8 text quoted beside them;
// a slip in either shows here. Also the help text, byte for byte.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "app/HelpText.h"
#include "scan/IdNameTable.h"
#include "text/Gbk.h"
#include "text/Texts.h"
#include "tools/Utf8.h"

namespace quorvane {
namespace {

// The bytes a C string literal body stands for (the escapes used by the sources).
std::string Unescape(const std::string& body) {
    std::string bytes;
    for (size_t i = 0; i < body.size(); ++i) {
        if (body[i] != '\\') {
            bytes += body[i];
            continue;
        }
        const char kind = body[++i];
        if (kind == 'x') {
            bytes += static_cast<char>(std::stoi(body.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            bytes += kind == 'r' ? '\r' : kind == 't' ? '\t' : kind == 'n' ? '\n' : kind;
        }
    }
    return bytes;
}

// Every line `... "literal" ...;  // "utf-8 text"` of a source file: the literal
// (adjacent pieces joined) must be the GBK form of the comment.
int CheckQuotedLiterals(const std::string& relativePath) {
    std::ifstream in(std::string(QUORVANE_SOURCE_DIR) + "/" + relativePath);
    EXPECT_TRUE(in) << relativePath;
    const std::regex line(R"re(^(.*")[},;]*  // "(.*)"$)re");
    const std::regex piece(R"re("((?:[^"\\]|\\.)*)")re");
    int checked = 0;
    for (std::string text; std::getline(in, text);) {
        std::smatch match;
        if (!std::regex_match(text, match, line)) continue;
        std::string code = match[1];
        // In the ID table the first literal is the key.
        if (code.find("{\"") != std::string::npos) code = code.substr(code.find(',') + 1);
        std::string bytes;
        for (auto it = std::sregex_iterator(code.begin(), code.end(), piece); it != std::sregex_iterator();
             ++it)
            bytes += Unescape((*it)[1]);
        std::string comment = Unescape(match[2]);  // \r, \t, \n are written as escapes there too
        EXPECT_EQ(bytes, Utf8ToGbk(comment)) << relativePath << ": " << text;
        ++checked;
    }
    return checked;
}

TEST(Texts, EveryLiteralMatchesTheTextQuotedBesideIt) {
    // Every text constant carries its comment.
    std::ifstream texts(std::string(QUORVANE_SOURCE_DIR) + "/text/Texts.h");
    int constants = 0;
    for (std::string text; std::getline(texts, text);)
        constants += text.rfind("inline constexpr char", 0) == 0;
    EXPECT_EQ(CheckQuotedLiterals("text/Texts.h"), constants);
    EXPECT_EQ(CheckQuotedLiterals("scan/IdNameTable.cpp"), 19);  // the names with Chinese in them
}

TEST(Texts, HelpTextListsEverySwitchWithTheListedTabs) {
    const std::string expected = Utf8ToGbk(
        "命令行参数\r/? 或 /H\t显示此帮助\r"
        "/M <disk> <part> <ID>\t修改某磁盘上指定分区的分区标记\r"
        "/F <ID1> <ID2>\t\t查找分区标记 <ID1>，找到后用 <ID2> 代替\r"
        "/L <disk> <part> <label>\t修改某磁盘上指定分区的卷标\r"
        "/S <ID> <label>\t\t查找分区标记 <ID1>，找到后修改卷标为 <label>\r"
        "/U <file>\t\t撤销某次更改：恢复撤销文件中记录的扇区和卷标\r"
        "/HIDE <disk> <part>\t隐藏分区：MBR 分区改为其隐藏类型（07 改为 17 等），GPT 基本数据分区设置属性位 62、63；例：/HIDE 1 2\r"
        "/SHOW <disk> <part>\t显示被隐藏的分区；例：/SHOW 1 2\r"
        "/A <disk> <part> <value>\t设置 GPT 分区属性：0x 加 1 到 16 位十六进制数，或以逗号分隔的 +位号/-位号；例：/A 1 4 +62,+63\r"
        "/N <命令>\t\t只列出命令将写入的字节、卷标和将锁定的卷，什么也不写入；例：/N /F 07 17");
    EXPECT_EQ(BuildHelpText(), expected);
    EXPECT_EQ(BuildHelpText().find('\n'), std::string::npos);
}

TEST(Gbk, UpperCasingLeavesDoubleByteCharactersAlone) {
    // "說" is D5 66 in GBK: its second byte is the letter f.
    const std::string chinese = Utf8ToGbk("說");
    ASSERT_EQ(chinese, "\xD5\x66");
    EXPECT_EQ(UpperCaseAscii("/s 0b data"), "/S 0B DATA");
    EXPECT_EQ(UpperCaseAscii(chinese + "ab"), chinese + "AB");
}

TEST(Gbk, CuttingNeverSplitsACharacter) {
    const std::string five = Utf8ToGbk("五个汉字啊");  // 10 bytes
    EXPECT_EQ(CutToBytes(five + "x", 11), five + "x");
    EXPECT_EQ(CutToBytes("x" + five, 11), "x" + five);
    EXPECT_EQ(CutToBytes("xy" + five, 11), "xy" + five.substr(0, 8));  // the fifth would need bytes 11-12
    EXPECT_EQ(CutToBytes("ABCDEFGHIJKLMNOP", 11), "ABCDEFGHIJK");
    EXPECT_EQ(CutToBytes("", 11), "");
}

}  // namespace
}  // namespace quorvane
