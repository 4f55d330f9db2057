// The rows as text for a program without a window: the console companion
// (Quorvane.com) and the image tool print them the same way.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "scan/PartitionRows.h"

namespace quorvane {

// Code page 936 text to UTF-8; each program brings its own conversion.
using Utf8FromGbk = std::function<std::string(std::string_view gbk)>;

// A code page 936 text kept on one line for printing: TAB and line feed as
// \t and \n, every other control character (and DEL) as \xNN, a backslash
// doubled. A double-byte character stays whole, whatever its second byte (it
// can be a backslash); a lead byte without a second byte is written as \xNN,
// so no printed byte joins the next into a character that was not there.
std::string OneLineText(std::string_view gbk);

// The window's columns with their headers, one line per row, cells
// separated by TAB, "\n" after each line; code page 936. Each cell is
// OneLineText, so a label holding a TAB or a line feed keeps its row whole.
std::string RowsTable(const PartitionRows& rows);

// A JSON array of one object per row: the cells under fixed keys, a GPT
// entry's type GUID and attributes, which GPT header a protective entry's
// disk was read from, then where the row's ID byte is on the disk, its start
// and its Windows partition number. UTF-8, "\n" line ends.
std::string RowsJson(const PartitionRows& rows, const Utf8FromGbk& toUtf8);

}  // namespace quorvane
