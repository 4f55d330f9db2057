// The command line: how a Windows command line splits into parameters, which
// rows each switch chooses and what it puts into their cells, and which
// command lines ask for nothing valid.
#include <gtest/gtest.h>

#include "app/CommandLine.h"
#include "tests/apply/ApplyFixtures.h"
#include "text/Texts.h"
#include "tools/Utf8.h"

namespace quorvane::test {
namespace {

using Parameters = std::vector<std::string>;

TEST(SplitCommandLine, SeparatorsQuotesAndEmptyPairs) {
    const struct {
        std::string line;
        Parameters expected;
    } cases[] = {
        // Every character from 1 to 32 separates; 33 and bytes past 127 do not.
        {"q.exe /M\t1\x01"
         "2\x1F"
         "0b\r\n",
         {"q.exe", "/M", "1", "2", "0b"}},
        {"q.exe !a \xD5\x66\xA0x", {"q.exe", "!a", "\xD5\x66\xA0x"}},
        // A quoted stretch keeps its blanks; the outer quotes go only when
        // the parameter both starts and ends with one.
        {"\"C:\\Program Files\\q.exe\" /L 1 1 \"MY DATA\"",
         {"C:\\Program Files\\q.exe", "/L", "1", "1", "MY DATA"}},
        {"q a\"b c\"d \"ef\"g h\"i\"", {"q", "a\"b c\"d", "\"ef\"g", "h\"i\""}},
        {"q \"unclosed stretch", {"q", "\"unclosed stretch"}},
        {"q \" x", {"q", "\" x"}},
        // Empty pairs before a parameter are skipped: no empty parameter.
        {"q \"\" \"\"\"\"x \"\"", {"q", "x"}},
        {"  \t q  ", {"q"}},
        {"", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(SplitCommandLine(c.line), c.expected) << "line: " << c.line;
    EXPECT_EQ(SplitCommandLine("q \"\"\"a b\""), (Parameters{"q", "a b"}));  // "" skipped, then "a b"
}

// Rows as a scan leaves them: disk, partition, ID, label.
PartitionRows Rows(const std::vector<std::array<std::string, 4>>& rows) {
    PartitionRows result;
    for (const auto& [disk, partition, id, label] : rows) {
        const int row = result.AppendRow();
        result.SetCell(row, ColumnDisk, disk);
        result.SetCell(row, ColumnPartition, partition);
        result.SetCell(row, ColumnId, id);
        result.SetCell(row, ColumnLabel, label);
        result.MutableSide(row).scannedId = id;
        result.MutableSide(row).scannedLabel = label;
    }
    return result;
}

PartitionRows TwoDisks() {
    return Rows({{"1", "1", "0B", "A"},
                 {"1", "2", "07", "B"},
                 {"1", "", "05", ""},
                 {"1", "3", "0B", "C"},
                 {"2", "1", "07", "D"},
                 {"2", "1", "0C", "E"}});  // a second row with the same numbers: never chosen
}

std::vector<std::string> Column(const PartitionRows& rows, int column) {
    std::vector<std::string> cells;
    for (int row = 0; row < rows.Count(); ++row) cells.push_back(rows.Cell(row, column));
    return cells;
}

struct Expect {
    CommandVerdict verdict;
    bool apply;
    std::vector<std::string> ids;
    std::vector<std::string> labels;
};

const std::vector<std::string> Ids{"0B", "07", "05", "0B", "07", "0C"};
const std::vector<std::string> Labels{"A", "B", "", "C", "D", "E"};

void Check(const Parameters& parameters, const Expect& expect) {
    PartitionRows rows = TwoDisks();
    const CommandOutcome outcome = ProcessCommandLine(parameters, rows);
    std::string line;
    for (const std::string& parameter : parameters) line += " [" + parameter + "]";
    EXPECT_EQ(outcome.verdict, expect.verdict) << line;
    EXPECT_EQ(outcome.runApplyPass, expect.apply) << line;
    EXPECT_EQ(Column(rows, ColumnId), expect.ids) << line;
    EXPECT_EQ(Column(rows, ColumnLabel), expect.labels) << line;
}

TEST(ProcessCommandLine, SwitchesChooseRowsAndSetCells) {
    using V = CommandVerdict;
    // /M: the first row with both numbers; the ID as given, 1 or 2 characters.
    Check({"/M", "1", "1", "b"}, {V::Valid, true, {"b", "07", "05", "0B", "07", "0C"}, Labels});
    Check({"/m", "2", "1", "83"}, {V::Valid, true, {"0B", "07", "05", "0B", "83", "0C"}, Labels});
    // /F: every row, switch and both IDs upper-cased; an ID that matches no
    // cell still runs the (empty) pass.
    Check({"/f", "0b", "0c"}, {V::Valid, true, {"0C", "07", "05", "0C", "07", "0C"}, Labels});
    Check({"/F", "7", "0C"}, {V::Valid, true, Ids, Labels});
    // /L: the first 11 bytes, case kept.
    Check({"/l", "1", "3", "abcdefghijKLMNOP"},
          {V::Valid, true, Ids, {"A", "B", "", "abcdefghijK", "D", "E"}});
    Check({"/L", "2", "1", "x y"}, {V::Valid, true, Ids, {"A", "B", "", "C", "x y", "E"}});
    // /S: every row with the ID, the label upper-cased, then cut as /L cuts it.
    Check({"/s", "0b", "twelve bytes"},
          {V::Valid, true, Ids, {"TWELVE BYTE", "B", "", "TWELVE BYTE", "D", "E"}});
    Check({"/S", "83", "x"}, {V::Valid, true, Ids, Labels});
}

TEST(ProcessCommandLine, CommandLinesThatAskNothingValidChangeNothing) {
    using V = CommandVerdict;
    Check({}, {V::WindowMode, false, Ids, Labels});
    Check({"/?"}, {V::Valid, false, Ids, Labels});
    Check({"/h"}, {V::Valid, false, Ids, Labels});
    for (const Parameters& invalid : std::vector<Parameters>{
             {"/X"},
             {"/?", "/H"},
             {"/M", "1"},
             {"/M", "1", "1", "0B7"},  // three characters
             {"/M", "0", "1", "07"},   // disks count from 1
             {"/M", "01", "1", "07"},  // texts, not numbers
             {"/M", "1", "9", "07"},
             {"/L", "1", "", "X"},  // the container has no number and is never chosen, even by ""
             {"/M", "1", "", "0F"},
             {"/L", "3", "1", "X"},
             {"/S", "05", "X"},
             {"/s", "0f", "X"},
             {"/M", "1", "1"},
             {"/F", "0B", "0C", "X"},
             {"/S", "0B", "X", "Y", "Z"},
             {"/L", "1", "1", "X", "Y"},
             {"/X", "1", "1", "X"},
             {"M", "0B", "0C"},
         })
        Check(invalid, {V::Invalid, false, Ids, Labels});
}

// Each row's label is cut where its own file system's limit lies, and each
// cut is one line of information naming the row and the label it got.
TEST(ProcessCommandLine, LabelsAreCutPerRowAndEachCutIsSaid) {
    const std::string shuo = "\xD5\x66";                            // 說: its second byte is the letter f
    const std::string given = "ABCDEFGHIJ" + shuo + "KLMNOPQRSTU";  // 22 characters, 23 bytes
    PartitionRows rows =
        Rows({{"1", "1", "0B", ""}, {"1", "2", "0B", ""}, {"1", "3", "0B", ""}, {"2", "1", "0B", ""}});
    rows.MutableSide(0).fileSystem = "FAT32";  // 11 bytes: the character would be split
    rows.MutableSide(1).fileSystem = "exFAT";  // 11 characters
    rows.MutableSide(2).fileSystem = "NTFS";   // 32 characters: it fits
    rows.MutableSide(3).fileSystem = "NTFS";
    const CommandOutcome set = ProcessCommandLine({"/S", "0B", given}, rows);
    EXPECT_EQ(Column(rows, ColumnLabel),
              (std::vector<std::string>{"ABCDEFGHIJ", "ABCDEFGHIJ" + shuo, given, given}));
    const auto said = [](const std::string& partition, const std::string& label) {
        return std::string(texts::FailureDisk) + "1" + texts::FailurePartition + partition +
               texts::FailureColon + texts::NoteLabelCut + label + texts::NoteLabelCutEnd;
    };
    EXPECT_EQ(set.information,
              (std::vector<std::string>{said("1", "ABCDEFGHIJ"), said("2", "ABCDEFGHIJ" + shuo)}));

    // /L says it the same way; a label that fits is not mentioned.
    EXPECT_EQ(ProcessCommandLine({"/L", "1", "1", "A\tB\\" + given}, rows).information,
              (std::vector<std::string>{said("1", "A\\tB\\\\ABCDEFG")}));
    EXPECT_TRUE(ProcessCommandLine({"/L", "1", "1", "ABCDEFGHIJK"}, rows).information.empty());
}

// The cut and the upper-casing are byte-wise yet never split or change a
// double-byte character: seen end to end, on the disk.
TEST(ProcessCommandLine, DoubleByteCharactersSurviveCutAndUpperCase) {
    const std::string shuo = Utf8ToGbk("說");  // D5 66: its second byte is the letter f
    ASSERT_EQ(shuo, "\xD5\x66");
    TempDir dir;
    const StandardDisk disk(dir, "disk.img");
    const auto before = ImageBytes(disk.image);
    const Fat32Places p1(before, StandardDisk::P1), p5(before, StandardDisk::P5);

    ProgramRun cut({disk.image});
    EXPECT_EQ(cut.Command({"/L", "1", "1", "ABCDEFGHIJ" + shuo}),
              ExitDone);  // 12 bytes: the character goes whole
    EXPECT_EQ(cut.Rows().Cell(0, ColumnLabel), "ABCDEFGHIJ");
    const auto afterCut = ImageBytes(disk.image);
    ExpectImage(before, disk.image,
                {{p1.rootEntry, LabelField("ABCDEFGHIJ")},
                 {p1.bootLabel, LabelField("ABCDEFGHIJ")},
                 {p1.backupLabel, LabelField("ABCDEFGHIJ")}});

    ProgramRun upper({disk.image});
    EXPECT_EQ(upper.Command({"/S", "0c", shuo + "data"}), ExitDone);
    const std::string label = shuo + "DATA";
    EXPECT_EQ(upper.Rows().Cell(0, ColumnLabel), label);
    ExpectImage(afterCut, disk.image,
                {{p1.rootEntry, LabelField(label)},
                 {p1.bootLabel, LabelField(label)},
                 {p1.backupLabel, LabelField(label)},
                 {p5.rootEntry, LabelField(label)},
                 {p5.bootLabel, LabelField(label)},
                 {p5.backupLabel, LabelField(label)}});

    // /S cuts as /L does: 12 bytes are set as the 10 before the character,
    // on both FAT32 volumes, and the run says so for each.
    const auto afterUpper = ImageBytes(disk.image);
    ProgramRun tooLong({disk.image});
    EXPECT_EQ(tooLong.Command({"/S", "0C", "ABCDEFGHIJ" + shuo}), ExitDone);
    EXPECT_EQ(tooLong.session.Information().size(), 2u);
    EXPECT_TRUE(tooLong.session.Failures().empty());
    ExpectImage(afterUpper, disk.image,
                {{p1.rootEntry, LabelField("ABCDEFGHIJ")},
                 {p1.bootLabel, LabelField("ABCDEFGHIJ")},
                 {p1.backupLabel, LabelField("ABCDEFGHIJ")},
                 {p5.rootEntry, LabelField("ABCDEFGHIJ")},
                 {p5.bootLabel, LabelField("ABCDEFGHIJ")},
                 {p5.backupLabel, LabelField("ABCDEFGHIJ")}});
}

}  // namespace
}  // namespace quorvane::test
