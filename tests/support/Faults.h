// Failing calls of the image backend, for the tests of every failure path.
#pragma once

#include <optional>

#include "platform/image/ImagePlatform.h"

namespace quorvane::test {

// A fault on calls of one kind: on one drive (-1 any), one letter (0 any),
// one position (none: any).
inline Fault FaultOn(PlatformCall call, int drive = -1, char letter = 0,
                     std::optional<uint64_t> position = std::nullopt, bool shortTransfer = false) {
    Fault fault;
    fault.call = call;
    fault.drive = drive;
    fault.letter = letter;
    fault.position = position;
    fault.shortTransfer = shortTransfer;
    return fault;
}

}  // namespace quorvane::test
