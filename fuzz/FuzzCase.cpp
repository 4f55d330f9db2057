#include "fuzz/FuzzCase.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "fuzz/FuzzReader.h"
#include "fuzz/Oracle.h"

namespace quorvane::fuzz {

namespace {

std::string Hex(uint8_t value, const char* format) {
    char text[3];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string IdText(Reader& in) {
    const uint8_t mode = in.Byte(), value = in.Byte();
    switch (mode % 4) {
        case 0: return Hex(value, "%02X");
        case 1: return Hex(value, "%02x");
        case 2: return value < 0x10 ? Hex(value, "%X") : Hex(value & 0xF, "%x");
        default: {
            if (value < 0xC0) return in.Text(value % 4);
            const size_t index = (value - 0xC0) & 0x1F;
            char code[5];
            if (index < KnownGptTypes.size())
                std::snprintf(code, sizeof code, "%s", KnownGptTypes[index].code);
            else
                std::snprintf(code, sizeof code, "%04X", static_cast<unsigned>(in.Number(2)));
            if (value & 0x20)
                for (char& c : code) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            return code;
        }
    }
}
std::string DiskText(Reader& in) {
    const uint8_t b = in.Byte();
    return b < 0xF0 ? std::to_string(b % 4) : in.Text(b % 4);
}
std::string PartitionText(Reader& in) {
    const uint8_t b = in.Byte();
    return b < 0xF0 ? std::to_string(b) : in.Text(b % 4);
}
// /A's value, as FuzzCase.h describes it: well formed or not.
std::string AttributesText(Reader& in) {
    const uint8_t a = in.Byte();
    std::string text;
    switch (a % 4) {
        case 0:
        case 1:
            text = a % 4 == 0 ? "0x" : "0X";
            for (int n = (a / 4) % 18; n > 0; --n) {
                const uint8_t b = in.Byte();
                text.push_back("0123456789ABCDEF0123456789abcdef"[(b & 0xF) | (b & 0x10)]);
            }
            return text;
        case 2:
            for (int n = (a / 4) % 5; n > 0; --n) {
                const uint8_t b = in.Byte();
                if (!text.empty()) text.push_back(',');
                text += (b & 0x80 ? "-" : "+") + std::to_string((b & 0x7F) % 70);
            }
            return text;
        default: return in.Text((a / 4) % 8);
    }
}

std::string PartitionTarget(uint32_t drive, uint32_t partition) {
    return "\\Device\\Harddisk" + std::to_string(drive) + "\\Partition" + std::to_string(partition);
}

void DecodeCommand(Reader& in, FuzzCase& result) {
    auto& p = result.parameters;
    switch (result.command) {
        case CommandKind::Find: p = {"/F", IdText(in), IdText(in)}; break;
        case CommandKind::Modify: p = {"/M", DiskText(in), PartitionText(in), IdText(in)}; break;
        case CommandKind::Label: p = {"/L", DiskText(in), PartitionText(in), LabelText(in)}; break;
        case CommandKind::SetLabels: p = {"/S", IdText(in), LabelText(in)}; break;
        case CommandKind::Visibility: {
            const uint8_t how = in.Byte();
            p = {how & 2 ? (how & 1 ? "/show" : "/hide") : (how & 1 ? "/SHOW" : "/HIDE"), DiskText(in),
                 PartitionText(in)};
            break;
        }
        case CommandKind::Attributes: {
            p = {"/A", DiskText(in), PartitionText(in)};
            p.push_back(AttributesText(in));
            break;
        }
        case CommandKind::Window:
            for (int n = in.Byte() % 9; n > 0; --n) {
                WindowEdit edit;
                edit.row = in.Byte();
                const uint8_t flags = in.Byte();
                if (flags & 8) {
                    edit.hide = !(flags & 0x10);
                    result.edits.push_back(edit);
                    continue;
                }
                edit.labelDisabled = flags & 4;
                if (flags & 1) edit.id = IdText(in);
                if (flags & 2) edit.label = LabelText(in);
                result.edits.push_back(edit);
            }
            break;
        case CommandKind::Raw:
            for (int n = in.Byte() % 6; n > 0; --n) p.push_back(in.Text(in.Byte() % 8));
            break;
    }
}

std::vector<BytePatch> Patches(Reader& in, uint64_t unit) {
    std::vector<BytePatch> patches;
    for (int k = in.Byte() % 5; k > 0; --k) {
        BytePatch patch;
        const uint64_t sector = in.Number(4);
        patch.position = sector * unit + in.Number(2) % 512;
        for (int b = in.Byte() % 17; b > 0; --b) patch.bytes.push_back(in.Byte());
        patches.push_back(patch);
    }
    return patches;
}

void DecodeEvents(Reader& in, FuzzCase& result) {
    const uint64_t unit = result.sectorSize;
    for (int n = in.Byte() % 9; n > 0; --n) {
        const uint8_t tag = in.Byte() % 7;
        switch (tag) {
            case 0: result.failCalls.push_back(in.Number(2)); break;
            case 1: result.failCallsAfterScan.push_back(uint64_t{in.Byte()} + 1); break;
            case 2: {
                Fault fault;
                fault.call = static_cast<PlatformCall>(in.Byte() % 16);
                const uint8_t target = in.Byte();
                fault.drive = (target & 3) < 2 ? (target & 3) : -1;
                if (target & 4) fault.position = in.Number(4) * unit;
                fault.shortTransfer = target & 8;
                fault.letter = (target >> 4) == 0 ? 0 : static_cast<char>('C' + (target >> 4) - 1);
                result.faults.push_back(fault);
                break;
            }
            case 3: {
                MediumChange change;
                change.drive = in.Byte() % 2;
                change.sizeChange = static_cast<int8_t>(in.Byte());
                change.patches = Patches(in, unit);
                result.media.push_back(change);
                break;
            }
            case 4: {
                MediumChange change;
                change.drive = in.Byte() % 2;
                change.removed = true;
                result.media.push_back(change);
                break;
            }
            default: {
                ForeignName name;
                name.afterScan = tag == 6;
                name.letter = static_cast<char>('D' + in.Byte() % 23);
                const uint32_t drive = in.Byte() % 3;
                name.target = PartitionTarget(drive, in.Byte() % 8);
                result.names.push_back(name);
                break;
            }
        }
    }
}

void DecodeUndoEdits(Reader& in, FuzzCase& result) {
    using Kind = UndoEdit::Kind;
    for (int n = in.Byte() % 5; n > 0; --n) {
        UndoEdit edit;
        edit.kind = static_cast<Kind>(in.Byte() % 6);
        switch (edit.kind) {
            case Kind::DiskBytes:
                edit.drive = in.Byte() % 2;
                edit.patch.position = in.Number(4) * result.sectorSize;
                edit.patch.position += in.Number(2) % 512;
                for (int b = in.Byte() % 17; b > 0; --b) edit.patch.bytes.push_back(in.Byte());
                break;
            case Kind::Field:
                edit.record = in.Byte();
                edit.field = in.Byte();
                edit.value = in.Byte();
                break;
            case Kind::DataByte:
                edit.record = in.Byte();
                edit.offset = static_cast<uint16_t>(in.Number(2));
                edit.value = in.Byte();
                break;
            case Kind::FileByte:
                edit.offset = static_cast<uint16_t>(in.Number(2));
                edit.value = in.Byte();
                break;
            case Kind::Cut: edit.value = in.Byte(); break;
            case Kind::Version: break;
        }
        result.undoEdits.push_back(edit);
    }
}
void DecodeWindowsView(Reader& in, FuzzCase& result) {
    const uint8_t flags = in.Byte();
    result.dryRun = flags & 1;
    result.windows.layoutAnswered = !(flags & 2);
    result.dryRunRestore = flags & 4;
    WindowsView& view = result.windows;
    for (int n = in.Byte() % 9; n > 0; --n) {
        const uint8_t tag = in.Byte() % 5;
        const uint32_t drive = in.Byte() % 2;
        switch (tag) {
            case 0: view.inUse.push_back({drive, in.Byte()}); break;
            case 1: view.windowsOn = {drive, in.Byte()}; break;
            case 2: view.systemPartition = {drive, in.Byte()}; break;
            case 3: view.removable.insert(drive); break;
            default: {
                std::vector<BytePatch> patches = Patches(in, result.sectorSize);
                auto& raw = view.writtenRaw[drive];
                raw.insert(raw.end(), patches.begin(), patches.end());
                break;
            }
        }
    }
}

}  // namespace

FuzzCase DecodeFuzzCase(const uint8_t* data, size_t size) {
    Reader in(data, size);
    const uint8_t flags = in.Byte();
    FuzzCase result;
    result.command = static_cast<CommandKind>((flags >> 1) & 7);
    if (flags & 0x20) result.sectorSize = 4096;
    result.images.resize((flags & 1) ? 2 : 1);
    for (FuzzImage& image : result.images) {
        const uint64_t mantissa = in.Byte();
        image.size = mantissa << (in.Byte() % 43);
    }
    if (flags & 0x10) result.diskCount = static_cast<int8_t>(in.Byte());
    if (flags & 0x80) DecodeWindowsView(in, result);
    if (flags & 0x40) DecodeUndoEdits(in, result);
    DecodeCommand(in, result);
    // /N plans whatever follows it; the window has no command line.
    result.dryRun = result.dryRun && !result.parameters.empty();
    if (result.dryRun) result.parameters.insert(result.parameters.begin(), "/N");
    DecodeEvents(in, result);
    DecodeChunks(in, result);
    return result;
}

}  // namespace quorvane::fuzz
