// CRC-32 as GPT headers and the undo file use it (IEEE 802.3: polynomial
// 0xEDB88320 reflected, initial value and final XOR 0xFFFFFFFF; "123456789"
// gives 0xCBF43926).
#pragma once

#include <cstdint>
#include <span>

namespace quorvane {

uint32_t Crc32(std::span<const uint8_t> bytes);

}  // namespace quorvane
