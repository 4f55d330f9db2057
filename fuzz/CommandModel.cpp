#include "fuzz/CommandModel.h"

#include <algorithm>

namespace quorvane::fuzz {

namespace {

using Verdict = CommandMeaning::Verdict;

bool IsContainer(uint8_t type) {
    return type == 0x05 || type == 0x0F;
}

// LDM data and metadata, and Storage Spaces pool members.
bool Pooled(const std::string& code) {
    return code == "4200" || code == "4201" || code == "4202";
}

bool IsHelp(const std::vector<std::string>& parameters) {
    if (parameters.size() != 1) return false;
    const std::string option = UpperGbk(parameters[0]);
    return option == "/?" || option == "/H";
}

// The row a disk and a partition number name (both as given, compared
// upper-cased with the cells): -1 for none, and never a row without a
// number.
int RowNamed(const std::vector<RowFacts>& rows, const std::string& disk, const std::string& partition) {
    const std::string d = UpperGbk(disk), p = UpperGbk(partition);
    for (size_t row = 0; row < rows.size() && !p.empty(); ++row)
        if (rows[row].disk == d && rows[row].shown == p) return static_cast<int>(row);
    return -1;
}

}  // namespace

Hiding SetHidden(const std::vector<RowFacts>& rows, const RefusalRules& rules, int row, bool hide,
                 CommandMeaning& meaning) {
    const std::string cell = UpperGbk(meaning.ids[row]);
    if (rows[row].gpt) {
        if (cell != "0700") return Hiding::NoTwin;
        const uint64_t now = meaning.attributes[row];
        const uint64_t wanted = hide ? now | HidingBits : now & ~HidingBits;
        if (wanted == now) return Hiding::AlreadySo;
        if (rules.attributes(row, wanted)) return Hiding::Refused;
        meaning.attributes[row] = wanted;
        return Hiding::Changed;
    }
    const auto id = ParseId(cell);
    const auto twin = id ? TwinId(*id, hide) : std::nullopt;
    if (!twin) return Hiding::NoTwin;
    if (IdText(*twin) == cell) return Hiding::AlreadySo;
    if (rules.id(row, IdText(*twin))) return Hiding::Refused;
    meaning.ids[row] = IdText(*twin);
    return Hiding::Changed;
}

CommandMeaning MeanCommand(const std::vector<std::string>& parameters, const std::vector<RowFacts>& rows,
                           const RefusalRules& rules) {
    CommandMeaning meaning;
    for (const RowFacts& row : rows) {
        meaning.ids.push_back(row.scannedId);
        meaning.labels.push_back(row.scannedLabel);
        meaning.attributes.push_back(row.attributes);
    }
    if (parameters.empty()) return meaning;
    const std::string option = UpperGbk(parameters[0]);
    // /N plans what follows it; alone, or before the help switch, it asks nothing.
    if (option == "/N") {
        const std::vector<std::string> command(parameters.begin() + 1, parameters.end());
        if (command.empty() || IsHelp(command)) {
            meaning.verdict = Verdict::Invalid;
            return meaning;
        }
        meaning = MeanCommand(command, rows, rules);
        meaning.dryRun = true;
        return meaning;
    }
    if (parameters.size() == 1) {
        meaning.verdict = IsHelp(parameters) ? Verdict::Help : Verdict::Invalid;
        return meaning;
    }
    meaning.verdict = Verdict::Invalid;
    if (parameters.size() == 2 && option == "/U") {
        if (!parameters[1].empty()) meaning.verdict = Verdict::Restore;
        return meaning;
    }
    if (parameters.size() == 3 && (option == "/F" || option == "/S")) {
        const std::string id = UpperGbk(parameters[1]), value = UpperGbk(parameters[2]);
        if (option == "/S" && (id == "05" || id == "0F")) return meaning;
        for (size_t row = 0; row < rows.size(); ++row)
            if (meaning.ids[row] == id) {
                // /S cuts each label as /L does (the disks here hold FAT only).
                if (option == "/F")
                    meaning.ids[row] = value;
                else
                    meaning.labels[row] = CutGbk(value, 11);
            }
        meaning.verdict = Verdict::Apply;
        meaning.everyMatch = true;
        return meaning;
    }
    if (parameters.size() == 3 && (option == "/HIDE" || option == "/SHOW")) {
        const int row = RowNamed(rows, parameters[1], parameters[2]);
        if (row < 0) return meaning;
        const Hiding hiding = SetHidden(rows, rules, row, option == "/HIDE", meaning);
        meaning.refused = hiding == Hiding::NoTwin || hiding == Hiding::Refused;
        meaning.verdict = Verdict::Apply;
        return meaning;
    }
    if (parameters.size() == 4 && option == "/A") {
        const int row = RowNamed(rows, parameters[1], parameters[2]);
        const auto value = AttributesOfText(row < 0 ? 0 : meaning.attributes[row], parameters[3]);
        if (row < 0 || !value) return meaning;
        meaning.verdict = Verdict::Apply;
        // Refused at once on an MBR row; on a GPT row when it is written.
        if (rows[row].gpt)
            meaning.attributes[row] = *value;
        else
            meaning.refused = true;
        return meaning;
    }
    if (parameters.size() == 4 && (option == "/M" || option == "/L")) {
        const int row = RowNamed(rows, parameters[1], parameters[2]);
        const std::string& value = parameters[3];
        if (row < 0) return meaning;
        if (option == "/M" && (value.empty() || value.size() == 3 || value.size() > 4)) return meaning;
        (option == "/M" ? meaning.ids[row] : meaning.labels[row]) =
            option == "/M" ? value : CutGbk(value, 11);
        meaning.verdict = Verdict::Apply;
    }
    return meaning;
}

bool MustRefuseIdChange(const std::vector<RowFacts>& rows, const std::vector<std::string>& ids,
                        const ExpectedScan& truth, int row, uint8_t newId) {
    const RowFacts& facts = rows[row];
    const uint8_t scanned = ParseId(facts.scannedId).value_or(0);
    if (truth.gptDrives.count(facts.drive) || newId == 0xEE || scanned == 0xEE || scanned == 0x42 ||
        newId == 0x42)
        return true;
    if (IsContainer(scanned)) return truth.holdingLogicals.count(facts.place) && !IsContainer(newId);
    if (!IsContainer(newId)) return false;
    for (size_t other = 0; other < rows.size(); ++other) {
        if (static_cast<int>(other) == row || rows[other].drive != facts.drive) continue;
        const auto now = ParseId(ids[other]);
        if (IsContainer(ParseId(rows[other].scannedId).value_or(0)) || (now && IsContainer(*now)))
            return true;
    }
    return false;
}

bool MustRefuseGptChange(const std::string& text, const std::string& scannedCode) {
    const std::string code = UpperGbk(text);
    if (code.size() != 4 || !std::all_of(code.begin(), code.end(), [](char c) {
            return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
        }))
        return true;
    return Pooled(scannedCode) || Pooled(code) || !KnownGptTypeOfCode(code);
}

bool RowStateRefuses(const RowFacts& row, const std::string& text) {
    return text != row.scannedId && (row.otherScheme || row.system || row.layoutDiffers);
}

bool MustRefuseAttributes(const RowFacts& row, uint64_t attributes) {
    if (!row.gpt) return true;
    const uint64_t changed = attributes ^ row.attributes;
    if (changed == 0) return false;
    // Bit 0: the firmware needs the partition to run ("platform required").
    return row.otherScheme || row.system || row.layoutDiffers || Pooled(row.scannedId) ||
           ((changed & 1) && (row.scannedId == "EF00" || row.scannedId == "0C01"));
}

std::optional<uint8_t> TwinId(uint8_t id, bool hide) {
    for (const uint8_t shown : {0x01, 0x04, 0x06, 0x07, 0x0B, 0x0C, 0x0E}) {
        const uint8_t hidden = static_cast<uint8_t>(shown + 0x10);
        if (id == shown || id == hidden) return hide ? hidden : shown;
    }
    return std::nullopt;
}

std::optional<uint64_t> AttributesOfText(uint64_t current, const std::string& text) {
    const auto digit = [](char c, int base) -> int {
        const int value = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : 99;
        return value < base ? value : -1;
    };
    if (text.size() >= 3 && text.size() <= 18 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        uint64_t value = 0;
        for (size_t i = 2; i < text.size(); ++i) {
            if (digit(text[i], 16) < 0) return std::nullopt;
            value = value * 16 + static_cast<uint64_t>(digit(text[i], 16));
        }
        return value;
    }
    uint64_t value = current;
    size_t at = 0;
    for (;;) {
        const size_t comma = text.find(',', at);
        const std::string item = text.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        if (item.size() < 2 || item.size() > 3 || (item[0] != '+' && item[0] != '-')) return std::nullopt;
        int bit = 0;
        for (size_t i = 1; i < item.size(); ++i) {
            if (digit(item[i], 10) < 0) return std::nullopt;
            bit = bit * 10 + digit(item[i], 10);
        }
        if (bit > 63) return std::nullopt;
        value = item[0] == '+' ? value | uint64_t{1} << bit : value & ~(uint64_t{1} << bit);
        if (comma == std::string::npos) return value;
        at = comma + 1;
    }
}

}  // namespace quorvane::fuzz
