// The byte reader both halves of the fuzz input decoder share: the case
// (fuzz/FuzzCase.cpp) and the disks it builds (fuzz/FuzzDisks.cpp).
#pragma once

#include <cstdint>
#include <string>

#include "fuzz/FuzzCase.h"

namespace quorvane::fuzz {

class Reader {
 public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool AtEnd() const { return at_ >= size_; }
    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    uint64_t Number(int bytes) {
        uint64_t value = 0;
        for (int i = 0; i < bytes; ++i) value |= uint64_t{Byte()} << (8 * i);
        return value;
    }
    std::string Text(size_t length) {
        std::string text;
        for (size_t i = 0; i < length; ++i) text.push_back(static_cast<char>(Byte()));
        return text;
    }

 private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

inline uint32_t Le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
inline void PutLe(uint8_t* p, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

// A text of (first byte % 16) bytes.
inline std::string LabelText(Reader& in) {
    return in.Text(in.Byte() % 16);
}

// The chunks to the end of the input: tables, EBR runs, FAT32 volumes and
// GPTs placed on the images (fuzz/FuzzCase.h).
void DecodeChunks(Reader& in, FuzzCase& result);

}  // namespace quorvane::fuzz
