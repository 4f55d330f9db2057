// libFuzzer target for /U: input bytes make disks, a recorded run on each
// cut at any point, other programs' changes since and the undo file that run
// saved, altered or damaged (fuzz/RestoreCase.h); /U runs through the whole
// start sequence, and any broken promise aborts: each disk is restored whole
// or left untouched as the checker's own reading of the file and the disks
// says, no sector is written on a disk its record does not name, and a disk
// whose run came through unaltered is back to the bytes it held before.
#include <cstdio>
#include <cstdlib>

#include "fuzz/RestoreCase.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto outcome = quorvane::fuzz::RunRestoreCase(quorvane::fuzz::DecodeRestoreCase(data, size));
    if (outcome.violations.empty()) return 0;
    for (const std::string& violation : outcome.violations)
        std::fprintf(stderr, "violation: %s\n", violation.c_str());
    std::abort();
}
