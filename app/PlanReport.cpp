#include "app/PlanReport.h"

#include <cstdio>

#include "apply/ChangeFailure.h"
#include "text/Texts.h"

namespace quorvane {

namespace {

// A run of bytes that change, within one sector.
struct ByteRun {
    uint64_t position = 0;  // on the disk
    std::vector<uint8_t> before, after;
};

std::vector<ByteRun> ChangedRuns(const PlanWrite& write) {
    std::vector<ByteRun> runs;
    for (size_t i = 0; i < write.after.size() && i < write.before.size(); ++i) {
        if (write.before[i] == write.after[i]) continue;
        if (runs.empty() || runs.back().position + runs.back().before.size() != write.position + i)
            runs.push_back({write.position + i, {}, {}});
        runs.back().before.push_back(write.before[i]);
        runs.back().after.push_back(write.after[i]);
    }
    return runs;
}

std::string Hex(const std::vector<uint8_t>& bytes, const char* separator) {
    std::string text;
    for (size_t i = 0; i < bytes.size(); ++i) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02X", bytes[i]);
        if (i) text += separator;
        text += digits;
    }
    return text;
}

std::string Disk(uint32_t drive) {
    return std::to_string(drive + 1);
}

// The volume of a lock: its letter, or the partition device of Windows.
std::string VolumeText(const VolumeName& name) {
    if (name.letter != 0) return std::string(1, name.letter) + ':';
    return "\\Device\\Harddisk" + std::to_string(name.drive) + "\\Partition" + std::to_string(name.partition);
}

std::string LabelPlace(const PartitionRows& rows, const PlanLabel& label) {
    if (label.row >= 0) return RowName(rows, label.row);
    return texts::FailureDisk + Disk(label.drive) + " " + std::string(1, label.letter) + ":" + texts::FailureColon;
}

}  // namespace

std::vector<std::string> PlanLines(const RunPlan& plan, const PartitionRows& rows) {
    std::vector<std::string> lines;
    for (const PlanLock& lock : plan.locks)
        lines.push_back(texts::PlanLock + RowName(rows, lock.row) + VolumeText(lock.name));
    for (const PlanLabel& label : plan.labels)
        lines.push_back(texts::PlanLabel + LabelPlace(rows, label) + texts::PlanQuoteOpen + OneLineText(label.before) +
                        texts::PlanQuoteClose + texts::PlanArrow + texts::PlanQuoteOpen +
                        OneLineText(label.after) + texts::PlanQuoteClose);
    for (const PlanWrite& write : plan.writes)
        for (const ByteRun& run : ChangedRuns(write)) {
            char position[48];
            std::snprintf(position, sizeof position, "%llu (0x%llX)", static_cast<unsigned long long>(run.position),
                          static_cast<unsigned long long>(run.position));
            lines.push_back(texts::PlanWrite + (texts::FailureDisk + Disk(write.drive)) + texts::PlanByte + position +
                            texts::FailureColon + Hex(run.before, " ") + texts::PlanArrow + Hex(run.after, " "));
        }
    if (lines.empty()) lines.push_back(texts::PlanNothing);
    return lines;
}

std::string PlanJson(const RunPlan& plan, const PartitionRows& rows, const Utf8FromGbk& toUtf8) {
    const auto place = [&rows](int row, uint32_t drive) {
        return "\"disk\": " + Disk(drive) + ", \"partition\": " +
               (row >= 0 ? JsonString(rows.Cell(row, ColumnPartition)) : std::string("null"));
    };
    std::string json = "{\"locks\": [";
    for (size_t i = 0; i < plan.locks.size(); ++i)
        json += (i ? ", {" : "{") + place(plan.locks[i].row, plan.locks[i].name.drive) +
                ", \"volume\": " + JsonString(toUtf8(VolumeText(plan.locks[i].name))) + "}";
    json += "],\n \"labels\": [";
    for (size_t i = 0; i < plan.labels.size(); ++i) {
        const PlanLabel& label = plan.labels[i];
        json += (i ? ", {" : "{") + place(label.row, label.drive) + ", \"letter\": " +
                JsonString(std::string(1, label.letter)) + ", \"before\": " + JsonString(toUtf8(label.before)) +
                ", \"after\": " + JsonString(toUtf8(label.after)) + "}";
    }
    json += "],\n \"writes\": [";
    bool first = true;
    for (const PlanWrite& write : plan.writes)
        for (const ByteRun& run : ChangedRuns(write)) {
            json += (first ? "{" : ", {") + std::string("\"disk\": ") + Disk(write.drive) +
                    ", \"position\": " + std::to_string(run.position) + ", \"before\": \"" + Hex(run.before, "") +
                    "\", \"after\": \"" + Hex(run.after, "") + "\"}";
            first = false;
        }
    return json + "]}\n";
}

}  // namespace quorvane
