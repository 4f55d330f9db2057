// Standard output or error of a console program. To a console, text goes
// as UTF-16 (WriteConsoleW), so it reads right whatever the console's code
// page; to a file or pipe, as bytes in the console's output code page
// (GetConsoleOutputCP), or the OEM code page when the process has no
// console, as every console program writes them, with CR LF line ends.
#pragma once

#include <string>
#include <string_view>

#include "platform/win32/WindowsApi.h"

namespace quorvane {

class ConsoleStream {
 public:
    // STD_OUTPUT_HANDLE or STD_ERROR_HANDLE.
    explicit ConsoleStream(DWORD standardHandle);

    // Code page 936 text, "\n" line ends.
    void WriteGbk(std::string_view gbk);
    // UTF-8 text, "\n" line ends; to a file or pipe it stays UTF-8.
    void WriteUtf8(std::string_view utf8);

 private:
    void WriteBytes(std::string_view bytes);
    void WriteWide(const std::wstring& wide);

    HANDLE handle_;
    bool console_;
    UINT codePage_;
};

}  // namespace quorvane
