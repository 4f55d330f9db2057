#include "fuzz/UndoFormat.h"

#include <algorithm>

#include "fuzz/Oracle.h"

namespace quorvane::fuzz {

namespace {

constexpr uint8_t Magic[8] = {'Q', 'V', 'U', 'N', 'D', 'O', '\r', '\n'};
constexpr size_t MostBytes = 4096;  // of a "before" or an "after"

void Put(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// Reads little-endian fields; any read past the end makes it fail for good.
class Fields {
 public:
    explicit Fields(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    uint64_t Number(size_t count) {
        uint64_t value = 0;
        for (size_t i = 0; i < count; ++i) value |= uint64_t{Byte()} << (8 * i);
        return value;
    }
    std::vector<uint8_t> Data(size_t count) {
        if (bytes_.size() - at_ < count) {
            ok_ = false;
            return {};
        }
        at_ += count;
        return {bytes_.begin() + static_cast<std::ptrdiff_t>(at_ - count),
                bytes_.begin() + static_cast<std::ptrdiff_t>(at_)};
    }
    bool Ok() const { return ok_; }
    bool AtEnd() const { return at_ == bytes_.size(); }

 private:
    uint8_t Byte() {
        if (at_ == bytes_.size()) {
            ok_ = false;
            return 0;
        }
        return bytes_[at_++];
    }
    std::span<const uint8_t> bytes_;
    size_t at_ = 0;
    bool ok_ = true;
};

}  // namespace

void AlterField(UndoEntry& e, uint8_t field, uint8_t value) {
    switch (field % 7) {
        case 0: e.kind = static_cast<uint8_t>(e.kind % 4 + 1); break;
        case 1: e.idKind = static_cast<uint8_t>(3 - e.idKind); break;
        case 2: e.id[value % 16] ^= static_cast<uint8_t>(value | 1); break;
        case 3: e.diskSize += static_cast<uint64_t>(static_cast<int8_t>(value | 1)) * e.sectorSize; break;
        case 4: e.diskSize = 0; break;
        case 5: e.sectorSize = e.sectorSize == 512 ? 4096 : 512; break;
        default: e.position += uint64_t{e.sectorSize} * (value % 3 + 1); break;
    }
}

std::vector<uint8_t> WriteUndoEntries(const std::vector<UndoEntry>& entries, uint32_t version) {
    std::vector<uint8_t> out(std::begin(Magic), std::end(Magic));
    Put(out, version, 4);
    Put(out, entries.size(), 4);
    for (const UndoEntry& e : entries) {
        out.push_back(e.kind);
        out.push_back(e.idKind);
        out.insert(out.end(), e.id.begin(), e.id.end());
        Put(out, e.diskSize, 8);
        Put(out, e.sectorSize, 4);
        Put(out, e.serial, 4);
        Put(out, e.volumeStart, 8);
        Put(out, e.position, 8);
        for (const std::vector<uint8_t>* data : {&e.before, &e.after}) {
            Put(out, data->size(), 4);
            out.insert(out.end(), data->begin(), data->end());
        }
    }
    Put(out, CheckerCrc32(out.data(), out.size()), 4);
    return out;
}

// Refused whole: a wrong CRC, another magic or version, a file cut short or
// with bytes after its last record, an unknown kind or id kind, a length
// past 4096, or a sector record whose lengths are not its sector size or
// whose position is not a whole number of sectors.
std::optional<std::vector<UndoEntry>> ReadUndoEntries(std::span<const uint8_t> file) {
    if (file.size() < 4) return std::nullopt;
    const auto content = file.first(file.size() - 4);
    Fields crc(file.last(4));
    if (crc.Number(4) != CheckerCrc32(content.data(), content.size())) return std::nullopt;
    Fields in(content);
    const std::vector<uint8_t> magic = in.Data(sizeof Magic);
    if (!in.Ok() || !std::equal(magic.begin(), magic.end(), std::begin(Magic)) || in.Number(4) != 1)
        return std::nullopt;
    std::vector<UndoEntry> entries;
    for (uint64_t count = in.Number(4); in.Ok() && count > 0; --count) {
        UndoEntry e;
        e.kind = static_cast<uint8_t>(in.Number(1));
        e.idKind = static_cast<uint8_t>(in.Number(1));
        const std::vector<uint8_t> id = in.Data(16);
        if (in.Ok()) std::copy(id.begin(), id.end(), e.id.begin());
        e.diskSize = in.Number(8);
        e.sectorSize = static_cast<uint32_t>(in.Number(4));
        e.serial = static_cast<uint32_t>(in.Number(4));
        e.volumeStart = in.Number(8);
        e.position = in.Number(8);
        for (std::vector<uint8_t>* data : {&e.before, &e.after}) {
            const uint64_t length = in.Number(4);
            if (length > MostBytes) return std::nullopt;
            *data = in.Data(length);
        }
        if (!in.Ok() || e.kind < 1 || e.kind > 4 || e.idKind < 1 || e.idKind > 2) return std::nullopt;
        if (e.kind != 3 && (e.sectorSize == 0 || e.before.size() != e.sectorSize ||
                            e.after.size() != e.sectorSize || e.position % e.sectorSize != 0))
            return std::nullopt;
        entries.push_back(std::move(e));
    }
    if (!in.Ok() || !in.AtEnd()) return std::nullopt;
    return entries;
}

}  // namespace quorvane::fuzz
