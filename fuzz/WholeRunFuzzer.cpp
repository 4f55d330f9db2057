// libFuzzer target: arbitrary bytes become disk images, a command (any
// switch, or edits in the window), failing calls and swapped media
// (fuzz/FuzzCase.h); the whole start sequence, apply pass and close path run
// on them, and any broken promise aborts (fuzz/FuzzRun.h).
#include <cstdio>
#include <cstdlib>

#include "fuzz/FuzzCase.h"
#include "fuzz/FuzzRun.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const quorvane::fuzz::FuzzOutcome outcome =
        quorvane::fuzz::RunFuzzCase(quorvane::fuzz::DecodeFuzzCase(data, size));
    if (outcome.violations.empty()) return 0;
    for (const std::string& violation : outcome.violations)
        std::fprintf(stderr, "violation: %s\n", violation.c_str());
    std::abort();
}
