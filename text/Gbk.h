// Byte-level text rules for code page 936 (GBK) strings.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvane {

// A byte from 0x81 to 0xFE starts a double-byte character; the byte after it
// belongs to that character, whatever its value (it can lie in 'a'..'z').
inline bool IsGbkLeadByte(unsigned char byte) {
    return byte >= 0x81 && byte <= 0xFE;
}

// Upper-cases the bytes a to z and nothing else. The second byte of a
// double-byte character is left alone, so no Chinese character is altered.
std::string UpperCaseAscii(std::string_view text);

// The longest start of `text` that has at most `maxBytes` bytes and does not
// end inside a double-byte character.
std::string_view CutToBytes(std::string_view text, size_t maxBytes);

// The longest start of `text` with at most `maxCharacters` characters, a
// double-byte character counting as one.
std::string_view CutToCharacters(std::string_view text, size_t maxCharacters);

}  // namespace quorvane
