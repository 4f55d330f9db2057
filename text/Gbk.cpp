#include "text/Gbk.h"

namespace quorvane {

std::string UpperCaseAscii(std::string_view text) {
    std::string result(text);
    for (size_t i = 0; i < result.size(); ++i) {
        const auto byte = static_cast<unsigned char>(result[i]);
        if (IsGbkLeadByte(byte)) {
            ++i;  // skip the second byte of the character
        } else if (byte >= 'a' && byte <= 'z') {
            result[i] = static_cast<char>(byte - ('a' - 'A'));
        }
    }
    return result;
}

std::string_view CutToBytes(std::string_view text, size_t maxBytes) {
    size_t end = 0;
    while (end < text.size()) {
        const size_t width =
            IsGbkLeadByte(static_cast<unsigned char>(text[end])) && end + 1 < text.size() ? 2 : 1;
        if (end + width > maxBytes) break;
        end += width;
    }
    return text.substr(0, end);
}

std::string_view CutToCharacters(std::string_view text, size_t maxCharacters) {
    size_t end = 0;
    for (size_t characters = 0; end < text.size() && characters < maxCharacters; ++characters)
        end += IsGbkLeadByte(static_cast<unsigned char>(text[end])) && end + 1 < text.size() ? 2 : 1;
    return text.substr(0, end);
}

}  // namespace quorvane
