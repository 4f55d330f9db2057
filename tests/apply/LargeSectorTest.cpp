// Drives with 4096-byte logical sectors: every LBA of the MBR, the EBR chain,
// the GPT and the FAT32 boot sector counts in them, and every read and write
// is a whole one. Images made by fdisk -b 4096 and mkfs.fat -S 4096.
#include <gtest/gtest.h>

#include <iostream>

#include "tests/apply/ApplyFixtures.h"

namespace quorvane::test {
namespace {

constexpr uint64_t K = 4096;

CommandResult Tool(const TempDir& dir, const std::string& image, const std::vector<std::string>& parameters) {
    std::vector<std::string> arguments{"--sector-size", "4096", "--undo-dir", dir.File("undo"), image};
    if (!parameters.empty()) arguments.push_back("--");
    arguments.insert(arguments.end(), parameters.begin(), parameters.end());
    return RunImageTool(arguments);
}

TEST(LargeSectors, MbrChainAndFat32ListAndChangeLikeSmallOnes) {
    TempDir dir;
    // FAT32 at 256 (260 MiB: Windows takes a volume for FAT32 only from
    // 65525 clusters on), an extended container at 67072 holding NTFS at 67328.
    const std::string image = MakeFdiskImage(
        dir, "4k.img", 300 << 20, 4096,
        "o\nn\np\n1\n256\n66815\nt\nc\nn\ne\n2\n67072\n75071\nn\nl\n67328\n70327\nt\n5\n7\nw\n");
    MustRun("mkfs.fat -F 32 -S 4096 -s 1 -n FOURK --offset 256 " + Quote(image) + " 266240 >/dev/null 2>&1");
    const nlohmann::json rows = nlohmann::json::parse(RunImageTool({"--sector-size", "4096", "--json", image}).out);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0]["start"], PartitionStartText(256 * K));
    EXPECT_EQ(rows[0]["size_mb"], "260");
    EXPECT_EQ(rows[0]["label"], "FOURK");
    EXPECT_EQ(rows[2]["entry_sector_position"], 67072 * K);
    EXPECT_EQ(rows[2]["start"], PartitionStartText((67072 + 256) * K));

    const auto before = ImageBytes(image);
    ASSERT_EQ(Tool(dir, image, {"/M", "1", "2", "83"}).exitCode, 0);
    ExpectImage(before, image, {{67072 * K + 0x1C2, {0x83}}});
    const auto relabelled = ImageBytes(image);
    const CommandResult label = Tool(dir, image, {"/L", "1", "1", "new"});
    ASSERT_EQ(label.exitCode, 0) << label.err;
    // The boot sector and its backup (sector 6 of 4096 bytes), both written whole.
    const std::vector<ByteChange> changes = Diff(relabelled, ImageBytes(image));
    EXPECT_TRUE(std::any_of(changes.begin(), changes.end(), [](const ByteChange& c) { return c.offset == 256 * K + 0x47; }));
    EXPECT_TRUE(std::any_of(changes.begin(), changes.end(), [](const ByteChange& c) { return c.offset == 262 * K + 0x47; }));
    const std::string part = dir.File("part.img");
    MustRun("dd if=" + Quote(image) + " of=" + Quote(part) +
            " bs=4096 skip=256 count=66560 conv=sparse status=none");
    EXPECT_EQ(test::Run("fsck.fat -n " + Quote(part)).exitCode, 0);
    EXPECT_EQ(MustRun("fatlabel " + Quote(part) + " 2>/dev/null"), "NEW\n");
}

TEST(LargeSectors, GptListsAndChangesInFourKSectors) {
    TempDir dir;
    const std::string image = MakeFdiskImage(dir, "4k-gpt.img", 64 << 20, 4096, "g\nn\n1\n256\n2303\nn\n2\n2304\n4351\nt\n2\n20\nw\n");
    const nlohmann::json rows = nlohmann::json::parse(RunImageTool({"--sector-size", "4096", "--json", image}).out);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1]["start"], PartitionStartText(256 * K));
    EXPECT_EQ(rows[2]["id"], "8300");
    // The array starts at LBA 2 of 4096 bytes: entry 2 at byte 128 of it.
    EXPECT_EQ(rows[2]["entry_sector_position"], 2 * K);
    EXPECT_EQ(rows[2]["id_byte_offset"], 128);
    const auto before = ImageBytes(image);
    const CommandResult change = Tool(dir, image, {"/M", "1", "2", "0700"});
    ASSERT_EQ(change.exitCode, 0) << change.err;
    EXPECT_EQ(Diff(before, ImageBytes(image)).size(), 48u);  // 16 type bytes and two CRCs, twice
    if (const auto verdict = SgdiskVerify(image, 4096))
        EXPECT_NE(verdict->find("No problems found"), std::string::npos) << *verdict;
    else
        std::cerr << "no loop device here: the changed 4K GPT was not checked by sgdisk\n";
    const std::string undoFile = change.out.substr(11, change.out.size() - 12);
    EXPECT_EQ(Tool(dir, image, {"/U", undoFile}).exitCode, 0);
    ExpectImage(before, image, {});
}

}  // namespace
}  // namespace quorvane::test
