#include "platform/win32/WideText.h"

#include "platform/win32/WindowsApi.h"
#include "text/Gbk.h"

namespace quorvane {

namespace {

constexpr UINT Gbk = 936;

std::wstring ToWide(std::string_view text, UINT codePage, DWORD flags, bool& ok) {
    ok = true;
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(codePage, flags, text.data(), size, nullptr, 0);
    if (length <= 0) {
        ok = false;
        return {};
    }
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(codePage, flags, text.data(), size, wide.data(), length);
    return wide;
}

// `usedDefault` is left alone for code pages that do not report it (UTF-8).
std::string FromWide(std::wstring_view wide, UINT codePage, DWORD flags, BOOL* usedDefault) {
    if (wide.empty()) return {};
    const int size = static_cast<int>(wide.size());
    const int length =
        WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, nullptr, usedDefault);
    if (length <= 0) return {};
    std::string text(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(codePage, flags, wide.data(), size, text.data(), length, nullptr, usedDefault);
    return text;
}

bool IsHighSurrogate(wchar_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(wchar_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

}  // namespace

std::wstring WideFromGbk(std::string_view gbk) {
    bool ok = false;
    std::wstring wide = ToWide(gbk, Gbk, MB_ERR_INVALID_CHARS, ok);
    return ok ? wide : ToWide(gbk, Gbk, 0, ok);
}

std::optional<std::wstring> StrictWideFromGbk(std::string_view gbk) {
    bool ok = false;
    std::wstring wide = ToWide(gbk, Gbk, MB_ERR_INVALID_CHARS, ok);
    if (!ok) return std::nullopt;
    return wide;
}

std::string GbkFromWide(std::wstring_view wide) {
    BOOL usedDefault = FALSE;
    std::string whole = FromWide(wide, Gbk, WC_NO_BEST_FIT_CHARS, &usedDefault);
    if (!usedDefault) return whole;
    // One character at a time (a surrogate pair is one), to mark exactly
    // the ones that have no bytes.
    std::string gbk;
    for (size_t i = 0; i < wide.size();) {
        const size_t length =
            IsHighSurrogate(wide[i]) && i + 1 < wide.size() && IsLowSurrogate(wide[i + 1]) ? 2 : 1;
        BOOL lacking = FALSE;
        const std::string bytes = FromWide(wide.substr(i, length), Gbk, WC_NO_BEST_FIT_CHARS, &lacking);
        gbk += lacking || bytes.empty() ? UnrepresentableMark : bytes;
        i += length;
    }
    return gbk;
}

bool HoldsUnrepresentable(std::string_view gbk) {
    for (size_t i = 0; i < gbk.size(); ++i) {
        if (!IsGbkLeadByte(static_cast<unsigned char>(gbk[i]))) continue;
        if (gbk.substr(i, 2) == UnrepresentableMark) return true;
        ++i;
    }
    return false;
}

std::string GbkToCodePage(std::string_view gbk, unsigned codePage) {
    if (codePage == Gbk) return std::string(gbk);
    return FromWide(WideFromGbk(gbk), codePage, 0, nullptr);
}

}  // namespace quorvane
