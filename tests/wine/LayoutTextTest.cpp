// layout-text-test: whether every text of the main window fits its control
// at 96, 120, 144 and 192 DPI, measured with the system's own text metrics
// in the window's font at that DPI (ui/WindowLayout.h): the column headers
// in their columns, the captions before their fields, the button texts in
// their buttons, a line of text and four type-code digits in the fields, and
// every name, kind and drive type a cell can show that fits its column at
// 96 DPI in that column at the other DPIs. Prints one line per text that
// does not fit; exit code 0 when all fit.
// clang-format off
#include <windows.h>
// clang-format on

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "scan/GptTypes.h"
#include "scan/IdNameTable.h"
#include "text/Texts.h"
#include "ui/WindowLayout.h"

using namespace quorvane;

namespace {

int failures = 0;

std::wstring Wide(std::string_view gbk) {
    wchar_t wide[256] = {};
    MultiByteToWideChar(936, 0, gbk.data(), static_cast<int>(gbk.size()), wide, 255);
    return wide;
}

class Measure {
 public:
    explicit Measure(const WindowLayout& layout) : dc_(CreateCompatibleDC(nullptr)) {
        LOGFONTW font{};
        font.lfHeight = -layout.fontHeight;
        font.lfCharSet = ANSI_CHARSET;
        lstrcpyW(font.lfFaceName, L"Tahoma");
        font_ = CreateFontIndirectW(&font);
        old_ = SelectObject(dc_, font_);
        GetTextMetricsW(dc_, &metrics_);
    }
    ~Measure() {
        SelectObject(dc_, old_);
        DeleteObject(font_);
        DeleteDC(dc_);
    }
    Measure(const Measure&) = delete;
    Measure& operator=(const Measure&) = delete;

    int Width(const std::wstring& text) const {
        SIZE size{};
        GetTextExtentPoint32W(dc_, text.c_str(), static_cast<int>(text.size()), &size);
        return size.cx;
    }
    int LineHeight() const { return metrics_.tmHeight; }

 private:
    HDC dc_;
    HFONT font_;
    HGDIOBJ old_;
    TEXTMETRICW metrics_{};
};

void Fits(int dpi, const char* what, int needed, int room) {
    if (needed <= room) return;
    ++failures;
    std::printf("%d DPI: %s needs %d pixels, has %d\n", dpi, what, needed, room);
}

// The texts a cell of these columns can hold, from the program's tables.
std::vector<std::pair<int, std::string>> CellTexts() {
    std::vector<std::pair<int, std::string>> cells;
    for (const IdName& id : IdNameTable) cells.emplace_back(ColumnIdName, std::string(id.name));
    for (const GptType& type : GptTypeTable) cells.emplace_back(ColumnIdName, std::string(type.name));
    for (const char* name : {texts::GptUnknownName, texts::GptFromBackupName, texts::GptDamagedName})
        cells.emplace_back(ColumnIdName, name);
    for (const char* kind : {texts::KindPrimary, texts::KindExtended, texts::KindLogical, texts::KindGpt})
        cells.emplace_back(ColumnKind, kind);
    cells.emplace_back(ColumnKind, std::string(texts::KindPrimary) + texts::ActiveSuffix);
    for (const char* type : {texts::DriveTypeFixed, texts::DriveTypeRemovable, texts::DriveTypeCdrom,
                             texts::DriveTypeRamdisk, texts::DriveTypeRemote})
        cells.emplace_back(ColumnDriveType, type);
    return cells;
}

// The list shows a cell's text whole, without "...", while it is no wider
// than its column (as measured under Wine: at 96 DPI "Linux 文件系统", 73
// pixels, shows whole in a column of 75; at 144 DPI in a font a pixel too
// high, 113 pixels are cut to "Linux 文件系..." in 112).
void CheckCells(const Measure& design, const Measure& measure, const WindowLayout& l) {
    const WindowLayout d = LayoutForDpi(DesignDpi);
    for (const auto& [column, text] : CellTexts()) {
        const std::wstring wide = Wide(text);
        if (design.Width(wide) > d.columnWidths[column]) continue;  // cut at 96 DPI already
        Fits(l.dpi, ("cell \"" + text + "\" in column " + std::to_string(column)).c_str(),
             measure.Width(wide), l.columnWidths[column]);
    }
}

void CheckDpi(int dpi) {
    const WindowLayout l = LayoutForDpi(dpi);
    const Measure measure(l);
    const auto px = [dpi](int pixels) { return ScaleToDpi(pixels, dpi); };

    // A header keeps a margin of 6 pixels (at 96 DPI) on either side.
    const char* headers[ColumnCount] = {texts::HeaderLetter,    texts::HeaderLabel,  texts::HeaderDisk,
                                        texts::HeaderPartition, texts::HeaderId,     texts::HeaderIdName,
                                        texts::HeaderKind,      texts::HeaderSizeMb, texts::HeaderFreeMb,
                                        texts::HeaderDriveType};
    for (int column = 0; column < ColumnCount; ++column)
        Fits(dpi, ("header of column " + std::to_string(column)).c_str(),
             measure.Width(Wide(headers[column])) + 2 * px(6), l.columnWidths[column]);

    // A caption ends before its field, 2 pixels (at 96 DPI) from it at least.
    const struct {
        const char* text;
        Position caption;
        Bounds field;
    } captions[] = {{texts::LetterCaptionText, l.letterCaption, l.letterEdit},
                    {texts::LabelCaptionText, l.labelCaption, l.labelEdit},
                    {texts::IdCaptionText, l.idCaption, l.idEdit}};
    for (const auto& c : captions) {
        Fits(dpi, "caption before its field", c.caption.x + measure.Width(Wide(c.text)) + px(2), c.field.x);
        Fits(dpi, "caption within its field's height", c.caption.y + measure.LineHeight(),
             c.field.y + c.field.height);
    }

    // A button's text keeps 4 pixels on either side, and the line 2 above
    // and below it, inside the button's 2-pixel edge.
    const struct {
        const char* text;
        Bounds button;
    } buttons[] = {{texts::ModifyText, l.modify}, {texts::ConfirmText, l.confirm}, {texts::ExitText, l.exit}};
    for (const auto& b : buttons) {
        Fits(dpi, "button text", measure.Width(Wide(b.text)) + 2 * (px(2) + px(4)), b.button.width);
        Fits(dpi, "button line", measure.LineHeight() + 2 * (px(2) + px(2)), b.button.height);
    }

    // A field holds one line inside its sunken edge and margins; the ID
    // field a GPT type code's four widest digits, the letter field a letter.
    const int inside = 2 * (px(2) + px(1));
    for (const Bounds& field : {l.letterEdit, l.labelEdit, l.idEdit})
        Fits(dpi, "line in a field", measure.LineHeight() + inside, field.height);
    int widestDigit = 0;
    for (const wchar_t* digit :
         {L"0", L"1", L"2", L"3", L"4", L"5", L"6", L"7", L"8", L"9", L"A", L"B", L"C", L"D", L"E", L"F"})
        widestDigit = std::max(widestDigit, measure.Width(digit));
    Fits(dpi, "four digits in the ID field", 4 * widestDigit + inside, l.idEdit.width);
    Fits(dpi, "a letter in the letter field", measure.Width(L"W") + inside, l.letterEdit.width);

    CheckCells(Measure(LayoutForDpi(DesignDpi)), measure, l);
}

}  // namespace

int main() {
    for (const int dpi : {96, 120, 144, 192}) CheckDpi(dpi);
    return failures == 0 ? 0 : 1;
}
