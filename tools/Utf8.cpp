#include "tools/Utf8.h"

#include <iconv.h>

#include <cerrno>
#include <stdexcept>

#include "platform/win32/WideText.h"

namespace quorvane {

namespace {

std::string Convert(std::string_view input, const char* from, const char* to, bool replaceInvalid) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv_open failed");
    std::string output;
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    while (inLeft > 0) {
        char buffer[256];
        char* out = buffer;
        size_t outLeft = sizeof buffer;
        const size_t result = iconv(cd, &in, &inLeft, &out, &outLeft);
        output.append(buffer, static_cast<size_t>(out - buffer));
        if (result == static_cast<size_t>(-1) && errno != E2BIG) {
            if (!replaceInvalid) {
                iconv_close(cd);
                throw std::runtime_error("text cannot be converted");
            }
            output += "\xEF\xBF\xBD";  // U+FFFD
            ++in;
            --inLeft;
        }
    }
    iconv_close(cd);
    return output;
}

}  // namespace

std::string GbkToUtf8(std::string_view gbk) {
    return Convert(gbk, "GBK", "UTF-8", true);
}
std::string Utf8ToGbk(std::string_view utf8) {
    return Convert(utf8, "UTF-8", "GBK", false);
}

std::string GbkFromUtf8(std::string_view utf8) {
    try {
        Convert(utf8, "UTF-8", "UTF-32LE", false);
    } catch (const std::runtime_error&) {
        return std::string(utf8);
    }
    std::string gbk;
    for (size_t i = 0; i < utf8.size();) {
        // The text is valid UTF-8: its lead bytes tell each character's length.
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        try {
            gbk += Convert(utf8.substr(i, length), "UTF-8", "GBK", false);
        } catch (const std::runtime_error&) {
            gbk += UnrepresentableMark;
        }
        i += length;
    }
    return gbk;
}

std::optional<std::string> StrictUtf8FromGbk(std::string_view gbk) {
    try {
        return Convert(gbk, "GBK", "UTF-8", false);
    } catch (const std::runtime_error&) {
        return std::nullopt;
    }
}

}  // namespace quorvane
