// The image tool's rows against sfdisk's reading of the same disks: ID,
// start, size, kind, active mark, the number shown and the number Windows
// uses, over several real layouts listed together.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "tests/scan/ScanSupport.h"
#include "tests/support/DiskImages.h"

namespace quorvane::test {
namespace {

using nlohmann::json;

// What one row must show, worked out from sfdisk's answer alone.
struct ExpectedRow {
    std::string disk, shown, id, start, sizeMb, kind;
    json windows;  // number or null
};

std::string Hex2(int value) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", value);
    return text;
}

std::string Start(uint64_t sector) {
    char text[16];
    const uint64_t bytes = sector * 512;
    std::snprintf(text, sizeof text, "%04X%08X", static_cast<unsigned>(bytes >> 32),
                  static_cast<unsigned>(bytes & 0xFFFFFFFF));
    return text;
}

// Whole MB, an exact half going to the even neighbour.
std::string HalfEvenMb(uint64_t sectors) {
    uint64_t mb = sectors / 2048;
    const uint64_t rest = sectors % 2048;
    if (rest > 1024 || (rest == 1024 && mb % 2 == 1)) ++mb;
    return std::to_string(mb);
}

int NodeNumber(const std::string& node) {
    size_t digits = node.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(node[digits - 1]))) --digits;
    return std::stoi(node.substr(digits));
}

// The MBR partitions of an image as sfdisk reads them; for a GPT disk, its
// protective MBR; none for a disk without a table.
json SfdiskMbrPartitions(const std::string& image) {
    const CommandResult plain = Run("sfdisk --json " + Quote(image));
    if (plain.exitCode != 0) return json::array();
    json table = json::parse(plain.out)["partitiontable"];
    if (table["label"] == "gpt")
        table = json::parse(MustRun("sfdisk --json --label-nested dos " + Quote(image)))["partitiontable"];
    return table.value("partitions", json::array());
}

// The partitions of a GPT as sfdisk lists them (in entry order).
json SfdiskGptPartitions(const std::string& image) {
    return json::parse(MustRun("sfdisk --json " + Quote(image)))["partitiontable"].value("partitions", json::array());
}

// The four-digit codes of the types these tests make.
std::string GptCode(const std::string& typeGuid) {
    if (typeGuid == "C12A7328-F81F-11D2-BA4B-00A0C93EC93B") return "EF00";
    if (typeGuid == "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7") return "0700";
    if (typeGuid == "0FC63DAF-8483-4772-8E79-3D69D8477DE4") return "8300";
    if (typeGuid == "0657FD6D-A4AB-43C4-84E5-0933C84B4F4F") return "8200";
    return "----";
}

// Rows in scan order: used MBR slots in slot order, a 05/0F container
// followed by its logicals in chain order. Windows counts the primaries that
// are not 05/0F first, then the logicals; 0x85 is a primary whose logicals
// (which sfdisk does list) are not shown.
std::vector<ExpectedRow> ExpectedRows(const std::vector<std::string>& images) {
    std::vector<ExpectedRow> rows;
    for (size_t d = 0; d < images.size(); ++d) {
        std::vector<json> primaries, logicals;
        for (const json& partition : SfdiskMbrPartitions(images[d]))
            (NodeNumber(partition["node"]) <= 4 ? primaries : logicals).push_back(partition);
        const auto byNode = [](const json& a, const json& b) {
            return NodeNumber(a["node"]) < NodeNumber(b["node"]);
        };
        std::sort(primaries.begin(), primaries.end(), byNode);
        std::sort(logicals.begin(), logicals.end(), byNode);
        const auto type = [](const json& p) { return std::stoi(p["type"].get<std::string>(), nullptr, 16); };
        const auto active = [](const json& p) {
            return p.value("bootable", false) ? std::string("，活动") : "";
        };
        int counted = 0;
        bool gpt = false;  // Windows reads a disk with a protective entry as GPT: no MBR numbers
        for (const json& p : primaries) {
            if (type(p) != 0x05 && type(p) != 0x0F) ++counted;
            gpt = gpt || type(p) == 0xEE;
        }
        const auto windows = [gpt](int& number) { return gpt ? json(nullptr) : json(++number); };
        int shown = 0, windowsPrimary = 0, windowsLogical = counted;
        for (const json& p : primaries) {
            if (type(p) == 0xEE) {  // the protective entry: no number; the GPT partitions follow it
                rows.push_back({std::to_string(d + 1), "", "EE", Start(p["start"]), HalfEvenMb(p["size"]),
                                "主" + active(p), nullptr});
                int number = 0;
                for (const json& g : SfdiskGptPartitions(images[d]))
                    rows.push_back({std::to_string(d + 1), std::to_string(++number), GptCode(g["type"]),
                                    Start(g["start"]), HalfEvenMb(g["size"]), "GPT", json(number)});
                continue;
            }
            const bool container = type(p) == 0x05 || type(p) == 0x0F;
            rows.push_back({std::to_string(d + 1), container ? "" : std::to_string(++shown), Hex2(type(p)),
                            Start(p["start"]), HalfEvenMb(p["size"]), (container ? "扩展" : "主") + active(p),
                            container ? json(nullptr) : windows(windowsPrimary)});
            if (!container) continue;
            for (const json& l : logicals)
                rows.push_back({std::to_string(d + 1), std::to_string(++shown), Hex2(type(l)),
                                Start(l["start"]), HalfEvenMb(l["size"]), "逻辑" + active(l),
                                windows(windowsLogical)});
        }
    }
    return rows;
}

void ExpectToolAgreesWithSfdisk(const std::vector<std::string>& images) {
    const std::vector<ExpectedRow> expected = ExpectedRows(images);
    const json tool = ImageToolJson(images);
    ASSERT_EQ(tool.size(), expected.size()) << tool.dump(1);
    for (size_t row = 0; row < expected.size(); ++row) {
        const json& got = tool[row];
        const ExpectedRow& want = expected[row];
        SCOPED_TRACE("row " + std::to_string(row) + ": " + got.dump());
        EXPECT_EQ(got["disk"], want.disk);
        EXPECT_EQ(got["partition"], want.shown);
        EXPECT_EQ(got["id"], want.id);
        EXPECT_EQ(got["start"], want.start);
        EXPECT_EQ(got["size_mb"], want.sizeMb);
        EXPECT_EQ(got["kind"], want.kind);
        EXPECT_EQ(got["windows_partition"], want.windows);
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
    EXPECT_EQ(lines.size(), 1 + ExpectedRows({image}).size());
    for (const std::string& line : lines) EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 9) << line;
    EXPECT_EQ(lines[1].substr(lines[1].find('\t') + 1), "\t1\t1\t83\tLinux\t主\t10\t0\t硬盘");
}

}  // namespace
}  // namespace quorvane::test
