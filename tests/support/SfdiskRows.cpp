#include "tests/support/SfdiskRows.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

#include "tests/support/DiskImages.h"

namespace quorvane::test {

using nlohmann::json;

namespace {

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
    return SfdiskJson(image).value("partitions", json::array());
}

// The four-digit codes of the types the tests make.
std::string GptCode(const std::string& typeGuid) {
    if (typeGuid == "C12A7328-F81F-11D2-BA4B-00A0C93EC93B") return "EF00";
    if (typeGuid == "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7") return "0700";
    if (typeGuid == "0FC63DAF-8483-4772-8E79-3D69D8477DE4") return "8300";
    if (typeGuid == "0657FD6D-A4AB-43C4-84E5-0933C84B4F4F") return "8200";
    return "----";
}

int Type(const json& partition) {
    return std::stoi(partition["type"].get<std::string>(), nullptr, 16);
}

bool IsContainer(const json& partition) {
    return Type(partition) == 0x05 || Type(partition) == 0x0F;
}

std::string Active(const json& partition) {
    return partition.value("bootable", false) ? "，活动" : "";
}

}  // namespace

json RowsFromSfdisk(const std::string& image, int disk) {
    std::vector<json> primaries, logicals;
    for (const json& partition : SfdiskMbrPartitions(image))
        (NodeNumber(partition["node"]) <= 4 ? primaries : logicals).push_back(partition);
    const auto byNode = [](const json& a, const json& b) {
        return NodeNumber(a["node"]) < NodeNumber(b["node"]);
    };
    std::sort(primaries.begin(), primaries.end(), byNode);
    std::sort(logicals.begin(), logicals.end(), byNode);

    int counted = 0;
    bool gpt = false;  // Windows reads a disk with a protective entry as GPT: no MBR numbers
    for (const json& p : primaries) {
        if (!IsContainer(p)) ++counted;
        gpt = gpt || Type(p) == 0xEE;
    }
    const auto windows = [gpt](int& number) { return gpt ? json(nullptr) : json(++number); };

    json rows = json::array();
    const auto add = [&](const std::string& shown, const std::string& id, const json& partition,
                         const std::string& kind, const json& windowsNumber) {
        rows.push_back({{"disk", std::to_string(disk)},
                        {"partition", shown},
                        {"id", id},
                        {"kind", kind},
                        {"size_mb", HalfEvenMb(partition["size"].get<uint64_t>())},
                        {"start", Start(partition["start"].get<uint64_t>())},
                        {"windows_partition", windowsNumber}});
    };
    int shown = 0, windowsPrimary = 0, windowsLogical = counted;
    for (const json& p : primaries) {
        if (Type(p) == 0xEE) {  // the protective entry: no number; the GPT partitions follow it
            add("", "EE", p, "主" + Active(p), nullptr);
            int number = 0;
            for (const json& g : SfdiskGptPartitions(image)) {
                ++number;
                add(std::to_string(number), GptCode(g["type"]), g, "GPT", number);
            }
            continue;
        }
        if (!IsContainer(p)) {
            add(std::to_string(++shown), Hex2(Type(p)), p, "主" + Active(p), windows(windowsPrimary));
            continue;
        }
        add("", Hex2(Type(p)), p, "扩展" + Active(p), nullptr);
        for (const json& l : logicals)
            add(std::to_string(++shown), Hex2(Type(l)), l, "逻辑" + Active(l), windows(windowsLogical));
        if (logicals.empty())  // an empty entry at the container's start: no Windows number
            add(std::to_string(++shown), "00", {{"start", p["start"]}, {"size", 0}}, "逻辑", nullptr);
    }
    return rows;
}

}  // namespace quorvane::test
