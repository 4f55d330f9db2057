#include "app/CommandLine.h"

#include "app/RowsReport.h"
#include "scan/DiskFormat.h"
#include "text/Gbk.h"
#include "text/Texts.h"

namespace quorvane {

namespace {

bool IsSeparator(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 1 && byte <= 32;
}

// The first row, in list order, whose disk and partition cells are exactly
// these texts; -1 when none is. Extended containers have no partition number
// and are never found, not even by an empty partition text.
int FindRow(const PartitionRows& rows, const std::string& disk, const std::string& partition) {
    if (partition.empty()) return -1;
    for (int row = 0; row < rows.Count(); ++row)
        if (rows.Cell(row, ColumnDisk) == disk && rows.Cell(row, ColumnPartition) == partition) return row;
    return -1;
}

CommandOutcome Outcome(CommandVerdict verdict, bool runApplyPass = false, bool changesEveryMatch = false) {
    CommandOutcome outcome;
    outcome.verdict = verdict;
    outcome.runApplyPass = runApplyPass;
    outcome.changesEveryMatch = changesEveryMatch;
    return outcome;
}

// A label longer than the row's file system takes is cut there, as the
// window's label field cuts it, and the cut is said: the label set is not
// the one given.
void SetLabel(PartitionRows& rows, int row, std::string_view label, std::vector<std::string>& information) {
    const std::string_view cut = CutLabel(label, LabelLimitOf(rows.Side(row).fileSystem));
    rows.SetCell(row, ColumnLabel, cut);
    if (cut.size() == label.size()) return;
    information.push_back(texts::FailureDisk + rows.Cell(row, ColumnDisk) + texts::FailurePartition +
                          rows.Cell(row, ColumnPartition) + texts::FailureColon + texts::NoteLabelCut +
                          OneLineText(cut) + texts::NoteLabelCutEnd);
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
    std::vector<std::string> parameters;
    size_t i = 0;
    for (;;) {
        while (i < line.size()) {
            if (IsSeparator(line[i]))
                ++i;
            else if (line.substr(i, 2) == "\"\"")
                i += 2;
            else
                break;
        }
        if (i >= line.size()) break;
        const size_t start = i;
        bool quoted = false;
        for (; i < line.size() && (quoted || !IsSeparator(line[i])); ++i)
            if (line[i] == '"') quoted = !quoted;
        std::string parameter(line.substr(start, i - start));
        if (parameter.size() >= 2 && parameter.front() == '"' && parameter.back() == '"')
            parameter = parameter.substr(1, parameter.size() - 2);
        parameters.push_back(std::move(parameter));
    }
    return parameters;
}

std::string JoinCommandLine(std::string_view program, const std::vector<std::string>& parameters) {
    std::string line(program);
    for (const std::string& parameter : parameters) {
        bool blank = false;
        for (const char c : parameter) blank = blank || IsSeparator(c);
        line += ' ';
        line += blank ? '"' + parameter + '"' : parameter;
    }
    return line;
}

bool IsHelpSwitch(const std::vector<std::string>& parameters) {
    if (parameters.size() != 1) return false;
    const std::string option = UpperCaseAscii(parameters[0]);
    return option == "/?" || option == "/H";
}

CommandOutcome ProcessCommandLine(const std::vector<std::string>& parameters, PartitionRows& rows) {
    const CommandOutcome invalid = Outcome(CommandVerdict::Invalid);
    if (parameters.empty()) return Outcome(CommandVerdict::WindowMode);
    // The help box was shown at start; any other single parameter asks nothing.
    if (parameters.size() == 1) return IsHelpSwitch(parameters) ? Outcome(CommandVerdict::Valid) : invalid;

    const std::string option = UpperCaseAscii(parameters[0]);
    if (parameters.size() == 2 && option == "/U") {
        if (parameters[1].empty()) return invalid;
        CommandOutcome restore = Outcome(CommandVerdict::Valid);
        restore.restoreFile = parameters[1];
        return restore;
    }
    CommandOutcome outcome = Outcome(CommandVerdict::Valid, true, option == "/F" || option == "/S");
    if (parameters.size() == 3 && option == "/F") {
        const std::string from = UpperCaseAscii(parameters[1]);
        const std::string to = UpperCaseAscii(parameters[2]);
        for (int row = 0; row < rows.Count(); ++row)
            if (rows.Cell(row, ColumnId) == from) rows.SetCell(row, ColumnId, to);
        return outcome;
    }
    if (parameters.size() == 3 && option == "/S") {
        const std::string id = UpperCaseAscii(parameters[1]);
        const std::string label = UpperCaseAscii(parameters[2]);
        if (IsExtendedId(id)) return invalid;  // extended containers carry no label
        // Each row at its own file system's limit: one /S can reach FAT and NTFS alike.
        for (int row = 0; row < rows.Count(); ++row)
            if (rows.Cell(row, ColumnId) == id) SetLabel(rows, row, label, outcome.information);
        return outcome;
    }
    if (parameters.size() == 4 && (option == "/M" || option == "/L")) {
        const int row = FindRow(rows, UpperCaseAscii(parameters[1]), UpperCaseAscii(parameters[2]));
        const std::string& value = parameters[3];
        if (row < 0) return invalid;
        if (option == "/M") {
            // Two digits, or four on a GPT row; the writer tells which the row takes.
            if (value.empty() || value.size() == 3 || value.size() > 4) return invalid;
            rows.SetCell(row, ColumnId, value);  // as given; the writer upper-cases it
        } else {
            SetLabel(rows, row, value, outcome.information);
        }
        return outcome;
    }
    return invalid;
}

}  // namespace quorvane
