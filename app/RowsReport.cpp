#include "app/RowsReport.h"

#include <cstdio>

#include "scan/DiskFormat.h"
#include "scan/GptTypes.h"
#include "text/Gbk.h"
#include "text/Texts.h"

namespace quorvane {

namespace {

std::string JsonString(const std::string& utf8) {
    std::string out = "\"";
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

void AppendByteEscape(std::string& out, unsigned char byte) {
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\x%02X", byte);
    out += escape;
}

// Second bytes of GBK run from 0x40 to 0xFE, 0x7F excepted.
bool IsGbkTrailByte(unsigned char byte) {
    return byte >= 0x40 && byte <= 0xFE && byte != 0x7F;
}

}  // namespace

std::string OneLineText(std::string_view gbk) {
    std::string out;
    for (size_t i = 0; i < gbk.size(); ++i) {
        const auto byte = static_cast<unsigned char>(gbk[i]);
        if (IsGbkLeadByte(byte)) {
            if (i + 1 < gbk.size() && IsGbkTrailByte(static_cast<unsigned char>(gbk[i + 1]))) {
                out += gbk.substr(i, 2);
                ++i;
            } else {
                AppendByteEscape(out, byte);
            }
        } else if (byte == '\\') {
            out += "\\\\";
        } else if (byte == '\t') {
            out += "\\t";
        } else if (byte == '\n') {
            out += "\\n";
        } else if (byte < 0x20 || byte == 0x7F) {
            AppendByteEscape(out, byte);
        } else {
            out += static_cast<char>(byte);
        }
    }
    return out;
}

std::string RowsTable(const PartitionRows& rows) {
    static const char* const headers[ColumnCount] = {
        texts::HeaderLetter, texts::HeaderLabel,    texts::HeaderDisk, texts::HeaderPartition,
        texts::HeaderId,     texts::HeaderIdName,   texts::HeaderKind, texts::HeaderSizeMb,
        texts::HeaderFreeMb, texts::HeaderDriveType};
    std::string text;
    for (int column = 0; column < ColumnCount; ++column) {
        if (column) text += '\t';
        text += headers[column];
    }
    text += '\n';
    for (int row = 0; row < rows.Count(); ++row) {
        for (int column = 0; column < ColumnCount; ++column) {
            if (column) text += '\t';
            text += OneLineText(rows.Cell(row, column));
        }
        text += '\n';
    }
    return text;
}

std::string RowsJson(const PartitionRows& rows, const Utf8FromGbk& toUtf8) {
    static const char* const keys[ColumnCount] = {"letter", "label", "disk",    "partition", "id",
                                                  "name",   "kind",  "size_mb", "free_mb",   "drive_type"};
    std::string json = "[";
    for (int row = 0; row < rows.Count(); ++row) {
        json += row ? ",\n  {" : "\n  {";
        for (int column = 0; column < ColumnCount; ++column)
            json +=
                std::string("\"") + keys[column] + "\": " + JsonString(toUtf8(rows.Cell(row, column))) + ", ";
        const RowSideEntries& side = rows.Side(row);
        std::string windowsPartition = "null";
        for (const DeviceMapEntry& entry : rows.DeviceMap())
            if (entry.row == row) windowsPartition = std::to_string(entry.partition);
        if (side.gpt) {
            char attributes[24];
            std::snprintf(attributes, sizeof attributes, "%016llX",
                          static_cast<unsigned long long>(side.gpt->attributes));
            json += std::string("\"type_guid\": \"") + GuidText(side.gpt->typeGuid) +
                    "\", \"attributes\": \"" + attributes + "\", ";
        }
        if (side.gptHeader != GptHeaderUse::None)
            json += std::string("\"gpt_header\": \"") +
                    (side.gptHeader == GptHeaderUse::Backup ? "backup" : "primary") + "\", ";
        json += std::string("\"system\": ") + (side.keepsWindowsRunning ? "true" : "false") +
                ", \"windows_reads_otherwise\": " + (side.layoutDiffers ? "true" : "false") + ", ";
        json += std::string("\"entry_sector_position\": ") + std::to_string(side.entrySectorPosition) +
                ", \"id_byte_offset\": " + std::to_string(side.idByteOffset) + ", \"start\": \"" +
                PartitionStartText(side.partitionStart) + "\", \"windows_partition\": " + windowsPartition +
                "}";
    }
    json += rows.Count() ? "\n]\n" : "]\n";
    return json;
}

}  // namespace quorvane
