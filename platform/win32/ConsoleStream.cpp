#include "platform/win32/ConsoleStream.h"

#include <algorithm>

#include "platform/win32/WideText.h"

namespace quorvane {

namespace {

std::string WithCrLf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 16);
    for (const char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

std::wstring WideFromUtf8(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int size = static_cast<int>(utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
    return wide;
}

}  // namespace

ConsoleStream::ConsoleStream(DWORD standardHandle) : handle_(GetStdHandle(standardHandle)) {
    DWORD mode = 0;
    // Only a console handle has a console mode; files and pipes fail here.
    console_ = handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE && GetConsoleMode(handle_, &mode);
    // GetConsoleOutputCP answers 0 when the process has no console at all.
    codePage_ = GetConsoleOutputCP();
    if (codePage_ == 0) codePage_ = GetOEMCP();
}

void ConsoleStream::WriteGbk(std::string_view gbk) {
    if (console_)
        WriteWide(WideFromGbk(gbk));
    else
        WriteBytes(WithCrLf(GbkToCodePage(gbk, codePage_)));
}

void ConsoleStream::WriteUtf8(std::string_view utf8) {
    if (console_)
        WriteWide(WideFromUtf8(utf8));
    else
        WriteBytes(WithCrLf(utf8));
}

void ConsoleStream::WriteWide(const std::wstring& wide) {
    // A console takes a limited amount per call; the rest follows.
    for (size_t done = 0; done < wide.size();) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(wide.size() - done, 8192));
        if (!WriteConsoleW(handle_, wide.data() + done, chunk, &written, nullptr) || written == 0) return;
        done += written;
    }
}

void ConsoleStream::WriteBytes(std::string_view bytes) {
    if (handle_ == nullptr || handle_ == INVALID_HANDLE_VALUE) return;
    for (size_t done = 0; done < bytes.size();) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1 << 20));
        // A closed pipe ends the output; there is nobody left to tell.
        if (!WriteFile(handle_, bytes.data() + done, chunk, &written, nullptr) || written == 0) return;
        done += written;
    }
}

}  // namespace quorvane
