// The table the console companion and the image tool print: one line per
// row whatever a label holds, and double-byte characters left whole.
#include <gtest/gtest.h>

#include "app/RowsReport.h"

namespace quorvane {
namespace {

TEST(RowsReport, ControlCharactersAndBackslashesAreEscaped) {
    const struct {
        std::string cell;
        std::string printed;
    } cases[] = {
        {"DATA 1", "DATA 1"},
        {"A\tB\nC", "A\\tB\\nC"},
        {"\r\x01\x1F\x7F", "\\x0D\\x01\\x1F\\x7F"},
        {"C:\\X", "C:\\\\X"},
        // 誠 (D5 5C) and a backslash: only the lone backslash is doubled.
        {"\xD5\\\\", "\xD5\\\\\\"},
        // A lead byte without a second byte would join what follows it.
        {"AB\xB7", "AB\\xB7"},
        {"\xB7\t", "\\xB7\\t"},
        {"\x81\x7F", "\\x81\\x7F"},  // the mark of a character code page 936 lacks
        {"\x80\xFF", "\x80\xFF"},    // single bytes above 0x7F are no control characters
    };
    for (const auto& c : cases) EXPECT_EQ(OneLineText(c.cell), c.printed) << c.cell;
}

TEST(RowsReport, LabelWithTabAndLineFeedKeepsItsRowWhole) {
    PartitionRows rows;
    for (const char* label : {"ONE\tTWO\nTHREE", "PLAIN"}) {
        const int row = rows.AppendRow();
        rows.SetCell(row, ColumnLabel, label);
        rows.SetCell(row, ColumnDisk, "1");
    }
    const std::string table = RowsTable(rows);
    EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 3);
    EXPECT_EQ(std::count(table.begin(), table.end(), '\t'), 3 * (ColumnCount - 1));
    EXPECT_NE(table.find("\tONE\\tTWO\\nTHREE\t1\t"), std::string::npos) << table;
}

}  // namespace
}  // namespace quorvane
