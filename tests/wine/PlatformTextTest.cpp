// platform-text-test: the code page 936 edge of the Windows program, run
// under Wine in a locale whose code page is not 936 (tests/wine/run):
// the conversions, the parameters as GetCommandLineW gives them, and the
// volume label read and set through Win32Platform on a drive the script
// prepared.
//
//   platform-text-test LETTER PARAM...
// LETTER's volume must report the label 旧卷 and accept a new one; the
// parameters must be 数据, "a b" and 한 (a character 936 lacks).
// Prints one line per failed check; exit code: the number of failures.
#include <cstdio>
#include <string>
#include <vector>

#include "programs/Win32Start.h"
#include "platform/win32/WideText.h"
#include "platform/win32/Win32Platform.h"

using namespace quorvane;

namespace {

int failures = 0;

std::string Hex(const std::string& bytes) {
    std::string out;
    char pair[4];
    for (const char c : bytes) {
        std::snprintf(pair, sizeof pair, "%02x ", static_cast<unsigned char>(c));
        out += pair;
    }
    return out;
}

void Check(bool ok, const char* what) {
    if (ok) return;
    ++failures;
    std::printf("FAIL %s\n", what);
}

void CheckBytes(const std::string& got, const std::string& want, const char* what) {
    if (got == want) return;
    ++failures;
    std::printf("FAIL %s: want %s, got %s\n", what, Hex(want).c_str(), Hex(got).c_str());
}

const std::string Data = "\xCA\xFD\xBE\xDD";      // 数据
const std::string OldLabel = "\xBE\xC9\xBE\xED";  // 旧卷
const std::string Mark = UnrepresentableMark;

void Conversions() {
    CheckBytes(GbkFromWide(L"\u6570\u636E"), Data, "数据 in code page 936");
    // Hangul, an upper-case A with grave accent (best fit would make it "A")
    // and an emoji (a surrogate pair): one mark each, never '?'.
    CheckBytes(GbkFromWide(L"x\uD55C\u00C0\U0001F600y"), "x" + Mark + Mark + Mark + "y",
               "characters 936 lacks are marked one by one");
    Check(HoldsUnrepresentable("x" + Mark), "the mark is found");
    // 0x81 0x7F inside other text: the byte before 0x7F is a second byte here.
    Check(!HoldsUnrepresentable(Data + "\x7F") && !HoldsUnrepresentable("\xB0\x81\x7F"),
          "no mark is seen in text that holds none");
    Check(StrictWideFromGbk(Data) == std::wstring(L"\u6570\u636E"), "数据 back to UTF-16");
    Check(!StrictWideFromGbk("A" + Mark), "a marked text is not passed on");
    Check(!StrictWideFromGbk("\xCA"), "half a character is not passed on");
    Check(!WideFromGbk("A" + Mark).empty(), "a marked text still shows");
    CheckBytes(GbkToCodePage(Data, CP_UTF8), "\xE6\x95\xB0\xE6\x8D\xAE", "数据 in UTF-8");
}

void Parameters() {
    const std::vector<std::string> parameters = ProgramParameters();
    Check(parameters.size() == 4, "four parameters");
    if (parameters.size() != 4) return;
    CheckBytes(parameters[1], Data, "parameter 数据 arrives in code page 936");
    CheckBytes(parameters[2], "a b", "a quoted parameter keeps its blank");
    CheckBytes(parameters[3], Mark, "parameter 한 arrives marked");
}

void Labels(char letter) {
    Win32Platform platform;
    const auto volume = platform.QueryVolume(letter);
    Check(volume.has_value(), "the volume answers");
    if (volume) CheckBytes(volume->label, OldLabel, "the label 旧卷 read in code page 936");
    Check(!platform.SetVolumeLabel(letter, "A" + Mark), "a label with a marked character is refused");
    Check(GetLastError() == ERROR_NO_UNICODE_TRANSLATION, "refused as untranslatable");
    Check(platform.SetVolumeLabel(letter, Data), "the label 数据 is set");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: platform-text-test LETTER PARAM...\n");
        return 100;
    }
    Conversions();
    Parameters();
    Labels(argv[1][0]);
    return failures;
}
