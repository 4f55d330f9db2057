// window-driver: looks at and drives another program's windows from a test
// script, as a user or an accessibility tool would. Runs in the same Wine
// prefix (the same wineserver) as the program under test.
//
// Window handles are printed and taken as 0x hexadecimal. Texts are read
// and written as UTF-16 and printed as hexadecimal bytes of code page 936
// whatever the locale, so a script can compare them byte for byte whatever
// they contain (CR, TAB, GBK); a character 936 lacks prints as '?'.
//
//   find CLASS [MS]          a visible top-level window of CLASS -> handle
//   gone HANDLE [MS]         wait until the window no longer exists
//   child HANDLE ID          the descendant with this control id -> handle
//   text HANDLE              its text (WM_GETTEXT) -> hex
//   settext HANDLE HEX       sets its text (WM_SETTEXT), as a paste would
//   rows LIST                "IMAGE HEX0 ... HEX9" per row (the cells of a
//                            report list view, read through the program's memory)
//   columns LIST             "FORMAT WIDTH HEXHEADER" per column
//   rowrect LIST ROW         the row's rectangle on the screen
//   selected LIST            the selected row, -1 when none
//   client HANDLE            width and height of the client area
//   rect HANDLE              the window rectangle on the screen
//   captionbuttons HANDLE    the rectangle of the caption's buttons (close,
//                            minimise, ...), relative to the window; the
//                            system draws them, differently per locale
//   center HANDLE            the centre of the window on the screen
//   screen                   the screen size
//   enabled HANDLE           1 or 0
//   focus HANDLE             the window that has the keyboard focus in
//                            HANDLE's thread -> handle
//   click HANDLE             posts BM_CLICK
//   post HANDLE MSG W L      posts any message (numbers in C notation)
//   char HANDLE XXXX         posts WM_CHAR with the UTF-16 unit XXXX (hex), as
//                            a keyboard layout that has the character would
//   dosdevices               "X: TARGET" for every letter D to Z mapped to
//                            a partition (\Device\HarddiskN\PartitionM)
//   controls                 "QV_NAME ID" for every control of the main
//                            window, from ui/ControlIds.h
//   layout HANDLE            "NAME X Y WIDTH HEIGHT" for every control of the
//                            main window, relative to the top-left corner of
//                            its client area, after "client X Y WIDTH HEIGHT":
//                            where that corner lies in the window rectangle
//   dpichanged HANDLE DPI LEFT TOP RIGHT BOTTOM
//                            sends WM_DPICHANGED as Windows does when the
//                            window has moved to a screen of DPI, suggesting
//                            that rectangle (Wine itself never sends it)
//   accessible HANDLE        what a screen reader learns of the window
//                            through oleacc: "NAMEHEX ROLE READONLY", the
//                            name as hex, the role number (MSAA ROLE_SYSTEM_*)
//                            and 1 when its state says read-only
//   limited PROGRAM ARG...   runs PROGRAM as a user who is not elevated
//                            would: with the limited token linked to this
//                            process's elevated one (Wine makes both), the
//                            standard handles passed on; exits with its exit
//                            code (100 when it cannot be started)
// Exit code 0 on success, 1 when a window is not found in time, 2 on bad use.
// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <oleacc.h>
// clang-format on

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "ui/ControlIds.h"

namespace {

HWND ParseHandle(const char* text) {
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(std::strtoull(text, nullptr, 0)));
}

void PrintHandle(HWND window) {
    std::printf("0x%llx\n", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(window)));
}

std::string Hex(const std::string& bytes) {
    std::string out;
    char pair[3];
    for (const char c : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned char>(c));
        out += pair;
    }
    return out.empty() ? "-" : out;  // "-" keeps an empty cell a field of its own
}

std::string Unhex(const char* hex) {
    std::string bytes;
    for (; hex[0] != '\0' && hex[1] != '\0'; hex += 2) {
        const char pair[3] = {hex[0], hex[1], '\0'};
        bytes += static_cast<char>(std::strtoul(pair, nullptr, 16));
    }
    return bytes;
}

std::string Gbk(const wchar_t* wide, size_t length) {
    if (length == 0) return {};
    const int size = static_cast<int>(length);
    const int bytes = WideCharToMultiByte(936, 0, wide, size, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    WideCharToMultiByte(936, 0, wide, size, text.data(), bytes, nullptr, nullptr);
    return text;
}

std::wstring Wide(const std::string& gbk) {
    if (gbk.empty()) return {};
    const int size = static_cast<int>(gbk.size());
    const int length = MultiByteToWideChar(936, 0, gbk.data(), size, nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
    MultiByteToWideChar(936, 0, gbk.data(), size, wide.data(), length);
    return wide;
}

std::string WindowText(HWND window) {
    wchar_t buffer[4096] = {};
    const LRESULT length =
        SendMessageW(window, WM_GETTEXT, sizeof buffer / sizeof buffer[0], reinterpret_cast<LPARAM>(buffer));
    return Gbk(buffer, static_cast<size_t>(length > 0 ? length : 0));
}

struct FindRequest {
    const char* className;
    HWND found;
};

BOOL CALLBACK FindVisible(HWND window, LPARAM parameter) {
    auto* request = reinterpret_cast<FindRequest*>(parameter);
    char className[256] = {};
    GetClassNameA(window, className, sizeof className);
    if (IsWindowVisible(window) && std::strcmp(className, request->className) == 0) {
        request->found = window;
        return FALSE;
    }
    return TRUE;
}

struct ChildRequest {
    int id;
    HWND found;
};

BOOL CALLBACK FindChild(HWND window, LPARAM parameter) {
    auto* request = reinterpret_cast<ChildRequest*>(parameter);
    if (GetDlgCtrlID(window) == request->id) {
        request->found = window;
        return FALSE;
    }
    return TRUE;
}

// A buffer inside the process that owns a window, for list-view messages
// whose parameters are pointers: they are not copied across processes.
class RemoteBuffer {
 public:
    explicit RemoteBuffer(HWND window) {
        DWORD processId = 0;
        GetWindowThreadProcessId(window, &processId);
        process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
        if (process_ != nullptr)
            memory_ = static_cast<char*>(
                VirtualAllocEx(process_, nullptr, Size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    }
    ~RemoteBuffer() {
        if (memory_ != nullptr) VirtualFreeEx(process_, memory_, 0, MEM_RELEASE);
        if (process_ != nullptr) CloseHandle(process_);
    }
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;

    bool Valid() const { return memory_ != nullptr; }
    char* At(size_t offset) const { return memory_ + offset; }
    void Put(size_t offset, const void* data, size_t size) const {
        WriteProcessMemory(process_, memory_ + offset, data, size, nullptr);
    }
    void Get(size_t offset, void* data, size_t size) const {
        ReadProcessMemory(process_, memory_ + offset, data, size, nullptr);
    }

    static constexpr size_t Size = 8192;
    static constexpr size_t TextOffset = 1024;
    static constexpr size_t TextSize = 4096;

 private:
    HANDLE process_ = nullptr;
    char* memory_ = nullptr;
};

std::string RemoteCellText(const RemoteBuffer& remote, HWND list, int row, int column) {
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = reinterpret_cast<wchar_t*>(remote.At(RemoteBuffer::TextOffset));
    item.cchTextMax = static_cast<int>(RemoteBuffer::TextSize / sizeof(wchar_t));
    const wchar_t zero = 0;
    remote.Put(RemoteBuffer::TextOffset, &zero, sizeof zero);
    remote.Put(0, &item, sizeof item);
    const LRESULT length = SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(remote.At(0)));
    std::vector<wchar_t> text(RemoteBuffer::TextSize / sizeof(wchar_t), L'\0');
    remote.Get(RemoteBuffer::TextOffset, text.data(), text.size() * sizeof(wchar_t));
    return Gbk(text.data(), static_cast<size_t>(length > 0 ? length : 0));
}

int RemoteRowImage(const RemoteBuffer& remote, HWND list, int row) {
    LVITEMA item{};
    item.mask = LVIF_IMAGE;
    item.iItem = row;
    remote.Put(0, &item, sizeof item);
    SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(remote.At(0)));
    remote.Get(0, &item, sizeof item);
    return item.iImage;
}

int Rows(HWND list) {
    const RemoteBuffer remote(list);
    if (!remote.Valid()) return 1;
    const HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
    const int columns = static_cast<int>(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0));
    const int rows = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < rows; ++row) {
        std::printf("%d", RemoteRowImage(remote, list, row));
        for (int column = 0; column < columns; ++column)
            std::printf(" %s", Hex(RemoteCellText(remote, list, row, column)).c_str());
        std::printf("\n");
    }
    return 0;
}

// The row's rectangle on the screen.
int RowRect(HWND list, int row) {
    const RemoteBuffer remote(list);
    if (!remote.Valid()) return 1;
    RECT rect{};
    rect.left = LVIR_BOUNDS;
    remote.Put(0, &rect, sizeof rect);
    if (!SendMessageA(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(remote.At(0)))) return 1;
    remote.Get(0, &rect, sizeof rect);
    MapWindowPoints(list, nullptr, reinterpret_cast<POINT*>(&rect), 2);
    std::printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right, rect.bottom);
    return 0;
}

int Columns(HWND list) {
    const RemoteBuffer remote(list);
    if (!remote.Valid()) return 1;
    for (int column = 0;; ++column) {
        LVCOLUMNW format{};
        format.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
        format.pszText = reinterpret_cast<wchar_t*>(remote.At(RemoteBuffer::TextOffset));
        format.cchTextMax = static_cast<int>(RemoteBuffer::TextSize / sizeof(wchar_t));
        remote.Put(0, &format, sizeof format);
        if (!SendMessageW(list, LVM_GETCOLUMNW, column, reinterpret_cast<LPARAM>(remote.At(0)))) break;
        remote.Get(0, &format, sizeof format);
        std::vector<wchar_t> text(RemoteBuffer::TextSize / sizeof(wchar_t), L'\0');
        remote.Get(RemoteBuffer::TextOffset, text.data(), (text.size() - 1) * sizeof(wchar_t));
        const std::string header = Gbk(text.data(), std::wcslen(text.data()));
        std::printf("%d %d %s\n", format.fmt & LVCFMT_JUSTIFYMASK, format.cx, Hex(header).c_str());
    }
    return 0;
}

int DosDevices() {
    for (char letter = 'D'; letter <= 'Z'; ++letter) {
        const char name[3] = {letter, ':', '\0'};
        char target[1024] = {};
        if (QueryDosDeviceA(name, target, sizeof target) &&
            std::strncmp(target, "\\Device\\Harddisk", 16) == 0 &&
            std::strstr(target, "\\Partition") != nullptr)
            std::printf("%s %s\n", name, target);
    }
    return 0;
}

// The window's accessible object as oleacc makes it for any standard
// control of another process (WM_GETOBJECT, then the system's proxy).
int Accessible(HWND window) {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    IAccessible* accessible = nullptr;
    int result = 1;
    // __uuidof, not IID_IAccessible: the import library gives that name the
    // address of an import thunk in a static build.
    if (SUCCEEDED(AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                             reinterpret_cast<void**>(&accessible)))) {
        VARIANT self;
        VariantInit(&self);
        self.vt = VT_I4;
        self.lVal = CHILDID_SELF;
        BSTR name = nullptr;
        VARIANT role, state;
        VariantInit(&role);
        VariantInit(&state);
        const HRESULT named = accessible->get_accName(self, &name);
        accessible->get_accRole(self, &role);
        accessible->get_accState(self, &state);
        const std::string text = named == S_OK && name != nullptr ? Gbk(name, SysStringLen(name)) : "";
        std::printf("%s %ld %d\n", Hex(text).c_str(), role.vt == VT_I4 ? role.lVal : -1L,
                    state.vt == VT_I4 && (state.lVal & STATE_SYSTEM_READONLY) != 0 ? 1 : 0);
        if (name != nullptr) SysFreeString(name);
        accessible->Release();
        result = 0;
    }
    CoUninitialize();
    return result;
}

struct ControlName {
    const char* name;
    int id;
};

// The identifiers under the names tests/wine/lib.sh gives its copy of them.
std::vector<ControlName> ControlNames() {
    namespace id = quorvane::control_id;
    return {
        {"QV_LIST", id::PartitionList},
        {"QV_GROUP", id::PropertiesGroup},
        {"QV_LETTER_CAPTION", id::LetterCaption},
        {"QV_ID_CAPTION", id::IdCaption},
        {"QV_LABEL_CAPTION", id::LabelCaption},
        {"QV_ID_EDIT", id::IdEdit},
        {"QV_LABEL_EDIT", id::LabelEdit},
        {"QV_MODIFY", id::ModifyButton},
        {"QV_LETTER_EDIT", id::LetterEdit},
        {"QV_CONFIRM", id::ConfirmButton},
        {"QV_EXIT", id::ExitButton},
    };
}

int ControlIds() {
    for (const ControlName& control : ControlNames()) std::printf("%s 0x%x\n", control.name, control.id);
    return 0;
}

int Layout(HWND main) {
    RECT client{}, outer{};
    GetClientRect(main, &client);
    GetWindowRect(main, &outer);
    POINT origin{0, 0};
    ClientToScreen(main, &origin);
    std::printf("client %ld %ld %ld %ld\n", origin.x - outer.left, origin.y - outer.top, client.right,
                client.bottom);
    for (const ControlName& control : ControlNames()) {
        ChildRequest request{control.id, nullptr};
        EnumChildWindows(main, FindChild, reinterpret_cast<LPARAM>(&request));
        if (request.found == nullptr) return 1;
        RECT rect{};
        GetWindowRect(request.found, &rect);
        MapWindowPoints(nullptr, main, reinterpret_cast<POINT*>(&rect), 2);
        std::printf("%s %ld %ld %ld %ld\n", control.name, rect.left, rect.top, rect.right - rect.left,
                    rect.bottom - rect.top);
    }
    return 0;
}

int DpiChanged(HWND window, int dpi, const RECT& suggested) {
    // lParam points to the rectangle: it must lie in the window's process.
    const RemoteBuffer remote(window);
    if (!remote.Valid()) return 1;
    remote.Put(0, &suggested, sizeof suggested);
    SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(remote.At(0)));
    return 0;
}

// The command line of the program to start: each argument quoted as the
// Microsoft C runtime splits them (no argument here holds a quote).
std::wstring QuotedCommandLine(int argc, char** argv, int first) {
    std::wstring line;
    for (int i = first; i < argc; ++i) {
        if (i > first) line += L' ';
        line += L'"' + Wide(argv[i]) + L'"';
    }
    return line;
}

int RunLimited(int argc, char** argv) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return 100;
    TOKEN_LINKED_TOKEN linked{};
    DWORD size = 0;
    const BOOL haveLinked = GetTokenInformation(token, TokenLinkedToken, &linked, sizeof linked, &size);
    CloseHandle(token);
    if (!haveLinked) return 100;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    for (HANDLE* handle : {&startup.hStdInput, &startup.hStdOutput, &startup.hStdError}) {
        const DWORD which = handle == &startup.hStdInput    ? STD_INPUT_HANDLE
                            : handle == &startup.hStdOutput ? STD_OUTPUT_HANDLE
                                                            : STD_ERROR_HANDLE;
        *handle = GetStdHandle(which);
        SetHandleInformation(*handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
    std::wstring line = QuotedCommandLine(argc, argv, 2);
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessAsUserW(linked.LinkedToken, nullptr, line.data(), nullptr, nullptr,
                                              TRUE, 0, nullptr, nullptr, &startup, &process);
    CloseHandle(linked.LinkedToken);
    if (!started) return 100;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 100;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

int Usage() {
    std::fprintf(stderr, "usage: window-driver COMMAND ARGS... (see the source)\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    // Plain "\n" line ends for the shell, not the CRLF of text mode.
    _setmode(_fileno(stdout), _O_BINARY);
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc < 2) return Usage();
    const std::string command = argv[1];
    const auto wait = [&](int index) {
        return argc > index ? static_cast<DWORD>(std::atoi(argv[index])) : 10000u;
    };

    if (command == "screen") {
        std::printf("%d %d\n", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
        return 0;
    }
    if (command == "dosdevices") return DosDevices();
    if (command == "controls") return ControlIds();
    if (command == "limited" && argc > 2) return RunLimited(argc, argv);
    if (argc < 3) return Usage();

    if (command == "find") {
        const DWORD limit = wait(3);
        const DWORD start = GetTickCount();
        for (;;) {
            FindRequest request{argv[2], nullptr};
            EnumWindows(FindVisible, reinterpret_cast<LPARAM>(&request));
            if (request.found != nullptr) {
                PrintHandle(request.found);
                return 0;
            }
            if (GetTickCount() - start > limit) return 1;
            Sleep(50);
        }
    }

    const HWND window = ParseHandle(argv[2]);
    if (command == "gone") {
        const DWORD limit = wait(3);
        const DWORD start = GetTickCount();
        while (IsWindow(window)) {
            if (GetTickCount() - start > limit) return 1;
            Sleep(50);
        }
        return 0;
    }
    if (!IsWindow(window)) return 1;
    if (command == "child" && argc > 3) {
        ChildRequest request{static_cast<int>(std::strtol(argv[3], nullptr, 0)), nullptr};
        EnumChildWindows(window, FindChild, reinterpret_cast<LPARAM>(&request));
        if (request.found == nullptr) return 1;
        PrintHandle(request.found);
        return 0;
    }
    if (command == "settext" && argc > 3) {
        const std::wstring text = Wide(Unhex(argv[3]));
        SendMessageW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
        return 0;
    }
    if (command == "text") {
        std::printf("%s\n", Hex(WindowText(window)).c_str());
        return 0;
    }
    if (command == "rows") return Rows(window);
    if (command == "accessible") return Accessible(window);
    if (command == "layout") return Layout(window);
    if (command == "dpichanged" && argc > 7) {
        const RECT suggested{std::atoi(argv[4]), std::atoi(argv[5]), std::atoi(argv[6]), std::atoi(argv[7])};
        return DpiChanged(window, std::atoi(argv[3]), suggested);
    }
    if (command == "columns") return Columns(window);
    if (command == "rowrect" && argc > 3) return RowRect(window, std::atoi(argv[3]));
    if (command == "selected") {
        std::printf("%d\n", static_cast<int>(SendMessageA(window, LVM_GETNEXTITEM, static_cast<WPARAM>(-1),
                                                          LVNI_SELECTED)));
        return 0;
    }
    if (command == "client" || command == "rect" || command == "center") {
        RECT rect{};
        if (command == "client") {
            GetClientRect(window, &rect);
            std::printf("%ld %ld\n", rect.right - rect.left, rect.bottom - rect.top);
        } else {
            GetWindowRect(window, &rect);
            if (command == "rect")
                std::printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right, rect.bottom);
            else
                std::printf("%ld %ld\n", (rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
        }
        return 0;
    }
    if (command == "captionbuttons") {
        TITLEBARINFO info{};
        info.cbSize = sizeof info;
        if (!GetTitleBarInfo(window, &info)) return 1;
        RECT outer{};
        GetWindowRect(window, &outer);
        // At most three buttons (minimise, maximise or help, close), each
        // SM_CXSIZE wide, at the right end of the title bar.
        const RECT& bar = info.rcTitleBar;
        const LONG left = std::max(bar.left, bar.right - 3 * GetSystemMetrics(SM_CXSIZE));
        std::printf("%ld %ld %ld %ld\n", left - outer.left, bar.top - outer.top, bar.right - outer.left,
                    bar.bottom - outer.top);
        return 0;
    }
    if (command == "enabled") {
        std::printf("%d\n", IsWindowEnabled(window) ? 1 : 0);
        return 0;
    }
    if (command == "focus") {
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return 1;
        PrintHandle(info.hwndFocus);
        return 0;
    }
    if (command == "click") return PostMessageA(window, BM_CLICK, 0, 0) ? 0 : 1;
    if (command == "char" && argc > 3) {
        const auto unit = static_cast<WPARAM>(std::strtoul(argv[3], nullptr, 16));
        return PostMessageW(window, WM_CHAR, unit, 1) ? 0 : 1;
    }
    if (command == "post" && argc > 5) {
        const auto number = [&](int index) { return std::strtoull(argv[index], nullptr, 0); };
        return PostMessageA(window, static_cast<UINT>(number(3)), static_cast<WPARAM>(number(4)),
                            static_cast<LPARAM>(number(5)))
                   ? 0
                   : 1;
    }
    return Usage();
}
