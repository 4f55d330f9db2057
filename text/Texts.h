// The program's own texts, code page 936 (GBK) bytes, exactly as shown.
// Each literal holds the GBK bytes as escapes, so every compiler emits the
// same bytes; the comment beside it quotes the same text in UTF-8. Write new
// ones with scripts/gbk-literal; a test checks every comment against its bytes.
#pragma once

namespace quorvane::texts {

// One text per line, so each literal keeps its comment beside it.
// clang-format off

// Kinds of partition-table entries (column "分区类型")
inline constexpr char KindPrimary[] = "\xD6\xF7";  // "主"
inline constexpr char KindExtended[] = "\xC0\xA9\xD5\xB9";  // "扩展"
inline constexpr char KindLogical[] = "\xC2\xDF\xBC\xAD";  // "逻辑"
inline constexpr char ActiveSuffix[] = "\xA3\xAC\xBB\xEE\xB6\xAF";  // "，活动"

// Drive types (column "磁盘类型")
inline constexpr char DriveTypeFixed[] = "\xD3\xB2\xC5\xCC";  // "硬盘"
inline constexpr char DriveTypeRemovable[] = "\xBF\xC9\xD2\xC6\xB6\xAF\xB4\xC5\xC5\xCC";  // "可移动磁盘"
inline constexpr char DriveTypeCdrom[] = "\xB9\xE2\xC7\xFD";  // "光驱"
inline constexpr char DriveTypeRamdisk[] = "\xC4\xDA\xB4\xE6\xD0\xE9\xC4\xE2\xC5\xCC";  // "内存虚拟盘"
inline constexpr char DriveTypeRemote[] = "\xD4\xB6\xB3\xCC\xB4\xC5\xC5\xCC";  // "远程磁盘"

// Column headers of the partition list, in column order
inline constexpr char HeaderLetter[] = "\xC5\xCC\xB7\xFB";  // "盘符"
inline constexpr char HeaderLabel[] = "\xBE\xED\xB1\xEA";  // "卷标"
inline constexpr char HeaderDisk[] = "\xB4\xC5\xC5\xCC";  // "磁盘"
inline constexpr char HeaderPartition[] = "\xB7\xD6\xC7\xF8";  // "分区"
inline constexpr char HeaderId[] = "\xB7\xD6\xC7\xF8\xB1\xEA\xBC\xC7";  // "分区标记"
inline constexpr char HeaderIdName[] = "\xB7\xD6\xC7\xF8\xB8\xF1\xCA\xBD";  // "分区格式"
inline constexpr char HeaderKind[] = "\xB7\xD6\xC7\xF8\xC0\xE0\xD0\xCD";  // "分区类型"
inline constexpr char HeaderSizeMb[] = "\xC8\xDD\xC1\xBF\xA3\xA8M\xA3\xA9";  // "容量（M）"
inline constexpr char HeaderFreeMb[] = "\xCA\xA3\xD3\xE0\xBF\xD5\xBC\xE4\xA3\xA8M\xA3\xA9";  // "剩余空间（M）"
inline constexpr char HeaderDriveType[] = "\xB4\xC5\xC5\xCC\xC0\xE0\xD0\xCD";  // "磁盘类型"

// Main window
inline constexpr char WindowCaption[] = "Quorvane";  // "Quorvane"
inline constexpr char PropertiesCaption[] = "\xCA\xF4\xD0\xD4";  // "属性"
inline constexpr char LetterCaptionText[] = "\xC5\xCC\xB7\xFB:";  // "盘符:"
inline constexpr char IdCaptionText[] = "\xB7\xD6\xC7\xF8\xB1\xEA\xBC\xC7:";  // "分区标记:"
inline constexpr char LabelCaptionText[] = "\xBE\xED\xB1\xEA:";  // "卷标:"
inline constexpr char ModifyText[] = "\xD0\xDE\xB8\xC4";  // "修改"
inline constexpr char ConfirmText[] = "\xC8\xB7\xB6\xA8";  // "确定"
inline constexpr char ExitText[] = "\xCD\xCB\xB3\xF6";  // "退出"

// System menu and message boxes
inline constexpr char MenuHelpItem[] = "\xC3\xFC\xC1\xEE\xD0\xD0\xB2\xCE\xCA\xFD(&P)";  // "命令行参数(&P)"
inline constexpr char MenuAboutItem[] = "\xB9\xD8\xD3\xDA(&A)...";  // "关于(&A)..."
inline constexpr char HelpTitle[] = "\xC3\xFC\xC1\xEE\xD0\xD0\xB2\xCE\xCA\xFD";  // "命令行参数"
inline constexpr char AboutTitle[] = "\xB0\xE6\xB1\xBE\xD0\xC5\xCF\xA2";  // "版本信息"
inline constexpr char AboutText[] = "Quorvane 1.0\r\n\xB4\xC5\xC5\xCC\xB7\xD6\xC7\xF8\xB1\xEA\xBC\xC7\xD3\xEB\xBE\xED\xB1\xEA\xD0\xDE\xB8\xC4\xB9\xA4\xBE\xDF\r\n\xB0\xE6\xC8\xA8\xCB\xF9\xD3\xD0 (C) 2026 Quorvane \xBF\xAA\xB7\xA2\xD7\xE9";  // "Quorvane 1.0\r\n磁盘分区标记与卷标修改工具\r\n版权所有 (C) 2026 Quorvane 开发组"
inline constexpr char WriteFailedTitle[] = "\xD0\xB4\xC8\xEB\xCA\xA7\xB0\xDC";  // "写入失败"
inline constexpr char WriteFailedIntro[] = "\xD2\xD4\xCF\xC2\xB8\xFC\xB8\xC4\xCE\xB4\xC4\xDC\xCD\xEA\xD5\xFB\xD0\xB4\xC8\xEB\xB4\xC5\xC5\xCC\xA3\xBA";  // "以下更改未能完整写入磁盘："

// Pieces of the command-line help text, in order
inline constexpr char HelpHead[] = "\xC3\xFC\xC1\xEE\xD0\xD0\xB2\xCE\xCA\xFD\r/? \xBB\xF2 /H\t\xCF\xD4\xCA\xBE\xB4\xCB\xB0\xEF\xD6\xFA\r";  // "命令行参数\r/? 或 /H\t显示此帮助\r"
inline constexpr char HelpModifySwitch[] = "/M <disk> <part> <ID>";  // "/M <disk> <part> <ID>"
inline constexpr char HelpModifyText[] = "\xD0\xDE\xB8\xC4\xC4\xB3\xB4\xC5\xC5\xCC\xC9\xCF\xD6\xB8\xB6\xA8\xB7\xD6\xC7\xF8\xB5\xC4\xB7\xD6\xC7\xF8\xB1\xEA\xBC\xC7";  // "修改某磁盘上指定分区的分区标记"
inline constexpr char HelpFindSwitch[] = "/F <ID1> <ID2>";  // "/F <ID1> <ID2>"
inline constexpr char HelpFindText[] = "\xB2\xE9\xD5\xD2\xB7\xD6\xC7\xF8\xB1\xEA\xBC\xC7 <ID1>\xA3\xAC\xD5\xD2\xB5\xBD\xBA\xF3\xD3\xC3 <ID2> \xB4\xFA\xCC\xE6";  // "查找分区标记 <ID1>，找到后用 <ID2> 代替"
inline constexpr char HelpLabelSwitch[] = "/L <disk> <part> <label>";  // "/L <disk> <part> <label>"
inline constexpr char HelpLabelText[] = "\xD0\xDE\xB8\xC4\xC4\xB3\xB4\xC5\xC5\xCC\xC9\xCF\xD6\xB8\xB6\xA8\xB7\xD6\xC7\xF8\xB5\xC4\xBE\xED\xB1\xEA";  // "修改某磁盘上指定分区的卷标"
inline constexpr char HelpSetSwitch[] = "/S <ID> <label>";  // "/S <ID> <label>"
inline constexpr char HelpSetText[] = "\xB2\xE9\xD5\xD2\xB7\xD6\xC7\xF8\xB1\xEA\xBC\xC7 <ID1>\xA3\xAC\xD5\xD2\xB5\xBD\xBA\xF3\xD0\xDE\xB8\xC4\xBE\xED\xB1\xEA\xCE\xAA <label>";  // "查找分区标记 <ID1>，找到后修改卷标为 <label>"

// What a failed change names (one line per failure: the row, then the cause)
inline constexpr char FailureDisk[] = "\xB4\xC5\xC5\xCC ";  // "磁盘 "
inline constexpr char FailurePartition[] = " \xB7\xD6\xC7\xF8 ";  // " 分区 "
inline constexpr char FailureContainer[] = " \xC0\xA9\xD5\xB9\xB7\xD6\xC7\xF8";  // " 扩展分区"
inline constexpr char FailureColon[] = "\xA3\xBA";  // "："
inline constexpr char FailOpenDrive[] = "\xCE\xDE\xB7\xA8\xB4\xF2\xBF\xAA\xB4\xC5\xC5\xCC";  // "无法打开磁盘"
inline constexpr char FailSeek[] = "\xCE\xDE\xB7\xA8\xB6\xA8\xCE\xBB\xC9\xC8\xC7\xF8";  // "无法定位扇区"
inline constexpr char FailRead[] = "\xCE\xDE\xB7\xA8\xCD\xEA\xD5\xFB\xB6\xC1\xC8\xA1\xC9\xC8\xC7\xF8";  // "无法完整读取扇区"
inline constexpr char FailWrite[] = "\xD0\xB4\xC8\xEB\xC9\xC8\xC7\xF8\xCA\xA7\xB0\xDC";  // "写入扇区失败"
inline constexpr char FailStale[] = "\xB7\xD6\xC7\xF8\xB1\xED\xD2\xD1\xB1\xBB\xC6\xE4\xCB\xFB\xB3\xCC\xD0\xF2\xB8\xC4\xB6\xAF\xA3\xAC\xCE\xB4\xD0\xB4\xC8\xEB";  // "分区表已被其他程序改动，未写入"
inline constexpr char FailBadId[] = "\xB7\xD6\xC7\xF8\xB1\xEA\xBC\xC7\xB2\xBB\xCA\xC7\xD2\xBB\xB5\xBD\xC1\xBD\xCE\xBB\xCA\xAE\xC1\xF9\xBD\xF8\xD6\xC6\xCA\xFD\xA3\xAC\xCE\xB4\xD0\xB4\xC8\xEB";  // "分区标记不是一到两位十六进制数，未写入"
inline constexpr char FailSetLabel[] = "\xC9\xE8\xD6\xC3\xBE\xED\xB1\xEA\xCA\xA7\xB0\xDC";  // "设置卷标失败"
inline constexpr char FailNoLetter[] = "\xC3\xBB\xD3\xD0\xC5\xCC\xB7\xFB\xA3\xAC\xCE\xDE\xB7\xA8\xC9\xE8\xD6\xC3\xBE\xED\xB1\xEA";  // "没有盘符，无法设置卷标"
inline constexpr char FailOpenVolume[] = "\xCE\xDE\xB7\xA8\xB4\xF2\xBF\xAA\xBE\xED";  // "无法打开卷"
inline constexpr char FailBackupBoot[] = "\xB1\xB8\xB7\xDD\xD2\xFD\xB5\xBC\xC9\xC8\xC7\xF8\xD0\xB4\xC8\xEB\xCA\xA7\xB0\xDC";  // "备份引导扇区写入失败"
inline constexpr char FailReplaced[] = "\xB4\xC5\xC5\xCC\xD2\xD1\xB1\xBB\xB8\xFC\xBB\xBB\xBB\xF2\xB8\xC4\xB6\xAF\xA3\xAC\xCE\xB4\xD0\xB4\xC8\xEB";  // "磁盘已被更换或改动，未写入"
inline constexpr char FailNoSignature[] = "\xB7\xD6\xC7\xF8\xB1\xED\xC9\xC8\xC7\xF8\xC3\xBB\xD3\xD0 55 AA \xC7\xA9\xC3\xFB\xA3\xAC\xCE\xB4\xD0\xB4\xC8\xEB";  // "分区表扇区没有 55 AA 签名，未写入"
inline constexpr char FailVolumeReplaced[] = "\xBE\xED\xD2\xD1\xB1\xBB\xB8\xFC\xBB\xBB\xBB\xF2\xB8\xC4\xB6\xAF\xA3\xAC\xCE\xB4\xC9\xE8\xD6\xC3\xBE\xED\xB1\xEA";  // "卷已被更换或改动，未设置卷标"

// Changes the program refuses (a failure line, and the box of "修改")
inline constexpr char RefusedTitle[] = "\xCE\xDE\xB7\xA8\xD0\xDE\xB8\xC4";  // "无法修改"
inline constexpr char RefuseGptDisk[] = "GPT \xB4\xC5\xC5\xCC\xB5\xC4\xB7\xD6\xC7\xF8\xB1\xED\xCF\xEE\xB2\xBB\xC4\xDC\xD0\xDE\xB8\xC4";  // "GPT 磁盘的分区表项不能修改"
inline constexpr char RefuseToProtective[] = "\xB2\xBB\xC4\xDC\xB8\xC4\xCE\xAA EE\xA3\xA8GPT \xB1\xA3\xBB\xA4\xB7\xD6\xC7\xF8\xA3\xA9";  // "不能改为 EE（GPT 保护分区）"
inline constexpr char RefuseDynamic[] = "\xB6\xAF\xCC\xAC\xB4\xC5\xC5\xCC\xB7\xD6\xC7\xF8\xA3\xA8" "42\xA3\xA9\xB2\xBB\xC4\xDC\xD0\xDE\xB8\xC4\xA3\xAC\xD2\xB2\xB2\xBB\xC4\xDC\xB8\xC4\xCE\xAA 42";  // "动态磁盘分区（42）不能修改，也不能改为 42"
inline constexpr char RefuseContainerInUse[] = "\xC0\xA9\xD5\xB9\xB7\xD6\xC7\xF8\xC4\xDA\xD3\xD0\xC2\xDF\xBC\xAD\xB7\xD6\xC7\xF8\xA3\xAC\xD6\xBB\xC4\xDC\xB8\xC4\xCE\xAA 05 \xBB\xF2 0F";  // "扩展分区内有逻辑分区，只能改为 05 或 0F"
inline constexpr char RefuseSecondContainer[] = "\xB8\xC3\xB4\xC5\xC5\xCC\xD2\xD1\xD3\xD0\xC0\xA9\xD5\xB9\xB7\xD6\xC7\xF8\xA3\xAC\xB2\xBB\xC4\xDC\xD4\xD9\xB8\xC4\xCE\xAA 05 \xBB\xF2 0F";  // "该磁盘已有扩展分区，不能再改为 05 或 0F"

// clang-format on

}  // namespace quorvane::texts
