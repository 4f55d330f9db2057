#include "undo/UndoFile.h"

#include <cstring>

#include "scan/Crc32.h"

namespace quorvane {

namespace {

// "\r\n" in the magic shows a file that went through a text-mode copy.
constexpr char Magic[8] = {'Q', 'V', 'U', 'N', 'D', 'O', '\r', '\n'};
constexpr uint32_t Version = 1;
// No sector or label is longer; a larger length is a damaged file.
constexpr uint32_t MaxDataLength = 4096;

class Writer {
 public:
    void Bytes(const void* data, size_t count) {
        const auto* p = static_cast<const uint8_t*>(data);
        out.insert(out.end(), p, p + count);
    }
    void U8(uint8_t value) { out.push_back(value); }
    void U32(uint32_t value) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
    void U64(uint64_t value) {
        for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
    void Data(const std::vector<uint8_t>& data) {
        U32(static_cast<uint32_t>(data.size()));
        Bytes(data.data(), data.size());
    }
    std::vector<uint8_t> out;
};

class Reader {
 public:
    explicit Reader(std::span<const uint8_t> in) : in_(in) {}
    bool Bytes(void* data, size_t count) {
        if (in_.size() - at_ < count) return false;
        if (count == 0) return true;  // an empty label has no buffer to copy into
        std::memcpy(data, in_.data() + at_, count);
        at_ += count;
        return true;
    }
    bool U8(uint8_t& value) { return Bytes(&value, 1); }
    bool U32(uint32_t& value) {
        uint8_t b[4];
        if (!Bytes(b, 4)) return false;
        value = 0;
        for (int i = 3; i >= 0; --i) value = value << 8 | b[i];
        return true;
    }
    bool U64(uint64_t& value) {
        uint8_t b[8];
        if (!Bytes(b, 8)) return false;
        value = 0;
        for (int i = 7; i >= 0; --i) value = value << 8 | b[i];
        return true;
    }
    bool Data(std::vector<uint8_t>& data) {
        uint32_t length = 0;
        if (!U32(length) || length > MaxDataLength) return false;
        data.resize(length);
        return Bytes(data.data(), length);
    }
    bool AtEnd() const { return at_ == in_.size(); }

 private:
    std::span<const uint8_t> in_;
    size_t at_ = 0;
};

bool KnownKind(uint8_t kind) {
    return kind >= static_cast<uint8_t>(UndoKind::TableSector) && kind <= static_cast<uint8_t>(UndoKind::GptSector);
}

}  // namespace

UndoDisk UndoDiskOf(const DiskIdentity& disk) {
    UndoDisk undo;
    for (size_t i = 0; i < 4; ++i) undo.id[i] = static_cast<uint8_t>(disk.signature >> (8 * i));
    if (disk.gptGuid) {
        undo.idKind = DiskIdKind::GptGuid;
        undo.id = *disk.gptGuid;
    }
    undo.size = disk.size.value_or(0);
    undo.sectorSize = disk.sectorSize;
    return undo;
}

std::vector<uint8_t> EncodeUndoFile(const std::vector<UndoRecord>& records) {
    Writer w;
    w.Bytes(Magic, sizeof Magic);
    w.U32(Version);
    w.U32(static_cast<uint32_t>(records.size()));
    for (const UndoRecord& r : records) {
        w.U8(static_cast<uint8_t>(r.kind));
        w.U8(static_cast<uint8_t>(r.disk.idKind));
        w.Bytes(r.disk.id.data(), r.disk.id.size());
        w.U64(r.disk.size);
        w.U32(r.disk.sectorSize);
        w.U32(r.volumeSerial);
        w.U64(r.volumeStart);
        w.U64(r.position);
        w.Data(r.before);
        w.Data(r.after);
    }
    w.U32(Crc32(w.out));
    return w.out;
}

std::optional<std::vector<UndoRecord>> DecodeUndoFile(std::span<const uint8_t> file) {
    if (file.size() < sizeof Magic + 12) return std::nullopt;
    const std::span<const uint8_t> content = file.first(file.size() - 4);
    Reader crc(file.last(4));
    uint32_t stored = 0;
    if (!crc.U32(stored) || stored != Crc32(content)) return std::nullopt;
    Reader r(content);
    char magic[sizeof Magic];
    uint32_t version = 0, count = 0;
    if (!r.Bytes(magic, sizeof magic) || std::memcmp(magic, Magic, sizeof Magic) != 0 || !r.U32(version) ||
        version != Version || !r.U32(count))
        return std::nullopt;
    std::vector<UndoRecord> records;
    for (uint32_t i = 0; i < count; ++i) {
        UndoRecord rec;
        uint8_t kind = 0, idKind = 0;
        if (!r.U8(kind) || !KnownKind(kind) || !r.U8(idKind) ||
            (idKind != static_cast<uint8_t>(DiskIdKind::MbrSignature) &&
             idKind != static_cast<uint8_t>(DiskIdKind::GptGuid)) ||
            !r.Bytes(rec.disk.id.data(), rec.disk.id.size()) || !r.U64(rec.disk.size) ||
            !r.U32(rec.disk.sectorSize) || !r.U32(rec.volumeSerial) || !r.U64(rec.volumeStart) ||
            !r.U64(rec.position) || !r.Data(rec.before) || !r.Data(rec.after))
            return std::nullopt;
        rec.kind = static_cast<UndoKind>(kind);
        rec.disk.idKind = static_cast<DiskIdKind>(idKind);
        // A sector record holds two whole sectors of the disk's size, at a
        // position that is a whole number of sectors.
        if (rec.kind != UndoKind::Label &&
            (rec.disk.sectorSize == 0 || rec.before.size() != rec.disk.sectorSize ||
             rec.after.size() != rec.disk.sectorSize || rec.position % rec.disk.sectorSize != 0))
            return std::nullopt;
        records.push_back(std::move(rec));
    }
    if (!r.AtEnd()) return std::nullopt;
    return records;
}

}  // namespace quorvane
