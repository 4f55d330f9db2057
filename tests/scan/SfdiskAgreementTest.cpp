// The image tool's rows against sfdisk's reading of the same disks: ID,
// start, size, kind, active mark, the number shown and the number Windows
// uses, over several real layouts listed together.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/scan/ScanSupport.h"
#include "tests/support/DiskImages.h"
#include "tests/support/SfdiskRows.h"

namespace quorvane::test {
namespace {

using nlohmann::json;

void ExpectToolAgreesWithSfdisk(const std::vector<std::string>& images) {
    json expected = json::array();
    for (size_t d = 0; d < images.size(); ++d)
        for (const json& row : RowsFromSfdisk(images[d], static_cast<int>(d) + 1)) expected.push_back(row);
    const json tool = ImageToolJson(images);
    ASSERT_EQ(tool.size(), expected.size()) << tool.dump(1);
    for (size_t row = 0; row < expected.size(); ++row) {
        const json& got = tool[row];
        SCOPED_TRACE("row " + std::to_string(row) + ": " + got.dump());
        for (const char* key : {"disk", "partition", "id", "start", "size_mb", "kind", "windows_partition"})
            EXPECT_EQ(got.at(key), expected[row][key]) << key;
    }
}

class SfdiskAgreement : public ::testing::Test {
 protected:
    std::string Mixed() {
        // Slot 4 empty; a 0x05 container with four logicals, one active; odd sizes.
        return MakeImage(dir, "mixed.img", 128 * MiB,
                         "p1 : start=2048, size=20481, type=83\n"
                         "p2 : start=24576, size=100000, type=5\n"
                         "p3 : start=126976, size=3072, type=7, bootable\n"
                         "p5 : start=26624, size=1024, type=83, bootable\n"
                         "p6 : start=30720, size=5120, type=82\n"
                         "p7 : start=38912, size=1025, type=7\n"
                         "p8 : start=43008, size=40000, type=c\n");
    }
    std::string AcrossFourGiB() {
        // A 0x0F container in slot 1 from below 4 GiB to past 8 GiB; EBRs on both sides.
        std::string script =
            "p1 : start=2048, size=18000000, type=f\n"
            "p3 : start=18100000, size=4096, type=b\n"
            "p4 : start=18200000, size=2048, type=ef, bootable\n";
        const uint64_t starts[] = {4096, 8386560, 8388608, 8392704, 12000000, 17000000};
        for (size_t i = 0; i < std::size(starts); ++i)
            script += "p" + std::to_string(5 + i) + " : start=" + std::to_string(starts[i]) +
                      ", size=" + std::to_string(i == 1 ? 1000 : 2048) + ", type=" + (i % 2 ? "7" : "83") +
                      "\n";
        return MakeImage(dir, "big.img", 10 * GiB, script);
    }
    std::string LinuxExtended() {
        return MakeImage(dir, "linuxext.img", 64 * MiB,
                         "p1 : start=2048, size=8192, type=83\n"
                         "p2 : start=10240, size=40960, type=85\n"
                         "p5 : start=12288, size=8192, type=83\n"
                         "p6 : start=22528, size=8192, type=82\n");
    }
    std::string Gpt() {
        const std::string path = MakeBlankImage(dir, "gpt.img", 64 * MiB);
        MustRun("printf 'label: gpt\\n,10M\\n,\\n' | sfdisk -q " + Quote(path));
        return path;
    }

    TempDir dir;
};

TEST_F(SfdiskAgreement, EachLayoutAlone) {
    for (const std::string& image : {Mixed(), AcrossFourGiB(), LinuxExtended(), Gpt()}) {
        SCOPED_TRACE(image);
        ExpectToolAgreesWithSfdisk({image});
    }
}

TEST_F(SfdiskAgreement, SeveralDisksAtOnceIncludingABlankOne) {
    const std::string blank = MakeBlankImage(dir, "blank.img", 8 * MiB);
    const std::vector<std::string> images{Mixed(), blank, AcrossFourGiB(), Gpt(), LinuxExtended()};
    ExpectToolAgreesWithSfdisk(images);
    // The crossing of 4 GiB really happened inside the container.
    const json tool = ImageToolJson(images);
    std::vector<std::string> starts;
    for (const json& row : tool)
        if (row["disk"] == "3") starts.push_back(row["start"]);
    ASSERT_GE(starts.size(), 4u);
    EXPECT_EQ(starts[1], "000000200000");
    EXPECT_EQ(starts[2], "0000FFF00000");
    EXPECT_EQ(starts[3], "000100000000");
}

TEST_F(SfdiskAgreement, PlainListingHasTheHeaderLineAndOneLinePerRow) {
    const std::string image = Mixed();
    const CommandResult result = RunImageTool({image});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    std::vector<std::string> lines;
    for (size_t at = 0, end; (end = result.out.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(result.out.substr(at, end - at));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0],
              "盘符\t卷标\t磁盘\t分区\t分区标记\t分区格式\t分区类型\t容量（M）\t剩余空间（M）\t磁盘类型");
    EXPECT_EQ(lines.size(), 1 + RowsFromSfdisk(image, 1).size());
    for (const std::string& line : lines) EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 9) << line;
    EXPECT_EQ(lines[1].substr(lines[1].find('\t') + 1), "\t1\t1\t83\tLinux\t主\t10\t0\t硬盘");
}

}  // namespace
}  // namespace quorvane::test
