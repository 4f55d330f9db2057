// The only code that writes a partition table: the ID byte of an MBR or EBR
// entry, one read-modify-write cycle per changed row.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "apply/ChangeFailure.h"
#include "platform/Platform.h"
#include "scan/PartitionRows.h"

namespace quorvane {

// One or two hexadecimal digits, either case; anything else is refused.
std::optional<uint8_t> ParseIdText(std::string_view idText);

// Upper-cases every ID cell and brings its name cell up to date, then writes
// the ID byte of every row whose ID cell differed from the scan, once per row.
// A row is written only when its text is a valid ID and the byte on disk is
// still the scanned one (or already the new one): a table another program
// changed since the scan is not overwritten.
void WritePartitionIds(Platform& platform, PartitionRows& rows, ChangeFailures& failures);

}  // namespace quorvane
