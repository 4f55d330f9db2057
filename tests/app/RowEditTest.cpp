// "修改" without a window: the fields become cells only as far as the user
// changed them, and a change the apply pass would refuse is refused at once.
#include <gtest/gtest.h>

#include "app/RowEdit.h"
#include "scan/PartitionRows.h"

namespace quorvane {
namespace {

// Rows as a scan leaves them: NTFS "System Reserved", a FAT32 volume whose
// label is not valid code page 936, a container holding logical partitions
// and its logical partition.
PartitionRows ScannedRows() {
    PartitionRows rows;
    const auto add = [&rows](const char* id, const char* label, const char* fileSystem) {
        const int row = rows.AppendRow();
        rows.SetCell(row, ColumnId, id);
        rows.SetCell(row, ColumnLabel, label);
        auto& side = rows.MutableSide(row);
        side.scannedId = id;
        side.scannedLabel = label;
        side.fileSystem = fileSystem;
        return row;
    };
    add("07", "System Reserved", "NTFS");
    add("0C", "\xFF\x41", "FAT32");
    rows.MutableSide(add("0F", "", "")).holdsLogicals = true;
    add("07", "", "");
    return rows;
}

TEST(RowEdit, ChangingOnlyTheIdLeavesTheLabelAlone) {
    PartitionRows rows = ScannedRows();
    EXPECT_FALSE(AnyPendingChange(rows));
    // The field holds what it could of the row's label; the user typed only an ID.
    EXPECT_FALSE(ModifyRow(rows, 1, {"1C", "?A", "?A", true}));
    EXPECT_TRUE(AnyPendingChange(rows));  // the last row but one: every row is looked at
    EXPECT_FALSE(ModifyRow(rows, 0, {"17", "System Rese", "System Rese", true}));
    EXPECT_TRUE(rows.HasPendingIdChange(0));
    EXPECT_FALSE(rows.HasPendingLabelChange(0));
    EXPECT_FALSE(rows.HasPendingLabelChange(1));
    // A typed label is taken.
    EXPECT_FALSE(ModifyRow(rows, 0, {"17", "BOOT", "System Rese", true}));
    EXPECT_EQ(rows.Cell(0, ColumnLabel), "BOOT");
}

TEST(RowEdit, RefusedChangeLeavesNothingPending) {
    PartitionRows rows = ScannedRows();
    EXPECT_EQ(ModifyRow(rows, 2, {"07", "", "", false}), FailureCause::ContainerInUse);
    EXPECT_EQ(ModifyRow(rows, 3, {"05", "NEW", "", true}), FailureCause::SecondContainer);
    EXPECT_EQ(ModifyRow(rows, 0, {"ee", "", "System Rese", true}), FailureCause::ToProtective);
    EXPECT_EQ(ModifyRow(rows, 0, {"", "", "System Rese", true}), FailureCause::BadId);
    for (int row = 0; row < rows.Count(); ++row) {
        EXPECT_FALSE(rows.HasPendingIdChange(row)) << row;
        EXPECT_FALSE(rows.HasPendingLabelChange(row)) << row;
    }
    EXPECT_FALSE(ModifyRow(rows, 2, {"05", "", "", false}));  // 0F to 05 stays allowed
}

TEST(RowEdit, LabelLimitFollowsTheFileSystem) {
    PartitionRows rows = ScannedRows();
    const std::string chinese = "\xCA\xFD\xBE\xDD";  // two characters, four bytes
    std::string ntfs;
    for (int i = 0; i < 20; ++i) ntfs += chinese;
    EXPECT_EQ(CutLabel(ntfs, RowLabelLimit(rows, 0)).size(), 64u);  // NTFS: 32 characters
    EXPECT_EQ(CutLabel(ntfs, RowLabelLimit(rows, 1)), ntfs.substr(0, 10));  // FAT: 11 bytes, whole characters
    EXPECT_EQ(CutLabel(ntfs, LabelLimitOf("exFAT")).size(), 22u);  // exFAT: 11 characters
    EXPECT_EQ(CutLabel(ntfs, RowLabelLimit(rows, 3)).size(), 10u);  // unknown: as FAT
}

// A GPT disk's rows: the protective entry (grey, no label, never changed) and
// a hidden basic-data partition (red, four-digit codes only).
TEST(RowEdit, GptRows) {
    PartitionRows rows;
    const int protective = rows.AppendRow();
    rows.SetCell(protective, ColumnId, "EE");
    rows.MutableSide(protective).scannedId = "EE";
    rows.MutableSide(protective).gptDisk = true;
    const int hidden = rows.AppendRow();
    rows.SetCell(hidden, ColumnId, "0700");
    rows.MutableSide(hidden).scannedId = "0700";
    rows.MutableSide(hidden).gpt = GptEntrySide{1, {}, {}, uint64_t{1} << 62};

    EXPECT_EQ(TintOfRow(rows, protective, false), RowTint::Grey);
    EXPECT_FALSE(RowTakesLabel(rows, protective));
    EXPECT_EQ(ModifyRow(rows, protective, {"07", "", "", false}), FailureCause::GptDisk);
    EXPECT_EQ(TintOfRow(rows, hidden, false), RowTint::Red);
    EXPECT_EQ(IdDigitsOfRow(rows, hidden), 4u);
    EXPECT_EQ(ModifyRow(rows, hidden, {"07", "", "", true}), FailureCause::IdWidth);
    EXPECT_FALSE(ModifyRow(rows, hidden, {"8300", "", "", true}));
    EXPECT_EQ(rows.Cell(hidden, ColumnIdName), "Linux \xCE\xC4\xBC\xFE\xCF\xB5\xCD\xB3");  // "Linux 文件系统"
    EXPECT_EQ(TintOfRow(rows, hidden, false), RowTint::Red);  // bit 62 hides it whatever its type
}

// 隐藏分区 and 显示分区, /HIDE and /SHOW: each MBR ID with a twin both ways,
// a row already so left alone, any other type refused with nothing pending;
// a GPT basic-data partition by its bits 62 and 63, kept as a pending change.
TEST(RowEdit, HideAndShowTwins) {
    const std::pair<const char*, const char*> twins[] = {{"01", "11"}, {"04", "14"}, {"06", "16"}, {"07", "17"},
                                                          {"0B", "1B"}, {"0C", "1C"}, {"0E", "1E"}};
    for (const auto& [shown, hidden] : twins) {
        PartitionRows rows;
        const int row = rows.AppendRow();
        rows.SetCell(row, ColumnId, shown);
        rows.MutableSide(row).scannedId = shown;
        EXPECT_TRUE(RowOffersVisibility(rows, row, true)) << shown;
        EXPECT_FALSE(RowOffersVisibility(rows, row, false)) << shown;
        EXPECT_FALSE(SetRowHidden(rows, row, false));  // shown already
        EXPECT_FALSE(rows.HasPendingIdChange(row));
        EXPECT_FALSE(SetRowHidden(rows, row, true));
        EXPECT_EQ(rows.Cell(row, ColumnId), hidden);
        EXPECT_TRUE(RowIsHidden(rows, row));
        EXPECT_FALSE(SetRowHidden(rows, row, true));  // hidden already
        EXPECT_EQ(rows.Cell(row, ColumnId), hidden);
        EXPECT_FALSE(SetRowHidden(rows, row, false));
        EXPECT_EQ(rows.Cell(row, ColumnId), shown);
    }
    PartitionRows rows;
    const int linux = rows.AppendRow();
    rows.SetCell(linux, ColumnId, "83");
    rows.MutableSide(linux).scannedId = "83";
    const int data = rows.AppendRow(), efi = rows.AppendRow();
    for (const auto& [row, code] : {std::pair{data, "0700"}, std::pair{efi, "EF00"}}) {
        rows.SetCell(row, ColumnId, code);
        rows.MutableSide(row).scannedId = code;
        rows.MutableSide(row).kind = EntryKind::Gpt;
        rows.MutableSide(row).gpt = GptEntrySide{0, {}, {}, uint64_t{1} << 62};  // hidden, yet has a letter
    }
    for (const bool hide : {true, false}) {
        EXPECT_EQ(SetRowHidden(rows, linux, hide), FailureCause::NotHideable);
        EXPECT_EQ(SetRowHidden(rows, efi, hide), FailureCause::NotHideable);
    }
    EXPECT_EQ(rows.Cell(linux, ColumnId), "83");
    EXPECT_FALSE(rows.HasPendingAttributeChange(efi));
    EXPECT_TRUE(RowOffersVisibility(rows, data, true));  // only one of bits 62 and 63
    EXPECT_FALSE(SetRowHidden(rows, data, true));
    EXPECT_EQ(rows.Attributes(data), uint64_t{3} << 62);
    EXPECT_EQ(rows.Cell(data, ColumnKind), "GPT\xA3\xAC\xD2\xFE\xB2\xD8");  // "GPT，隐藏"
    EXPECT_FALSE(SetRowHidden(rows, data, false));
    EXPECT_EQ(rows.Attributes(data), 0u);
    EXPECT_FALSE(RowIsHidden(rows, data));
    EXPECT_EQ(TintOfRow(rows, data, false), RowTint::Normal);
    EXPECT_FALSE(SetRowHidden(rows, data, true));
    EXPECT_FALSE(SetRowHidden(rows, data, false));
    EXPECT_FALSE(SetRowHidden(rows, data, true));
    EXPECT_TRUE(rows.HasPendingAttributeChange(data));
}

// A high-contrast theme chose the colours: no row is drawn in a fixed red or
// grey on them, whatever it would be tinted otherwise.
TEST(RowEdit, HighContrastRowsKeepTheThemeColours) {
    const struct {
        const char* id;
        EntryKind kind;
        RowTint tint;
    } cases[] = {
        {"0C", EntryKind::Primary, RowTint::Normal},
        {"0F", EntryKind::Extended, RowTint::Grey},
        {"1B", EntryKind::Logical, RowTint::Red},
        {"17", EntryKind::Primary, RowTint::Red},
    };
    PartitionRows rows;
    for (const auto& c : cases) {
        const int row = rows.AppendRow();
        rows.SetCell(row, ColumnId, c.id);
        rows.MutableSide(row).kind = c.kind;
        rows.MutableSide(row).scannedId = c.id;
        EXPECT_EQ(TintOfRow(rows, row, false), c.tint) << c.id;
        EXPECT_EQ(TintOfRow(rows, row, true), RowTint::Normal) << c.id;
    }
}

}  // namespace
}  // namespace quorvane
