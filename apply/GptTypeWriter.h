// The only code that writes a GPT: the type GUID of changed entries, in the
// primary and the backup entry array, with both arrays' CRC-32s and both
// headers' CRC-32s brought up to date and nothing else changed. The backup
// copy is written first, so a run cut short leaves a primary that still
// agrees with itself.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "apply/ChangeFailure.h"
#include "apply/SectorPatch.h"
#include "platform/Platform.h"
#include "scan/GptTypes.h"
#include "scan/PartitionRows.h"

namespace quorvane {

// Why the row's ID text is refused as its new type, before anything is read:
// a row Windows does not read, runs from, or reads otherwise (its drive's
// layout differs); a four-digit code on an MBR row or a shorter one on a GPT
// row, a code the table does not know, a change from or to the codes of LDM
// and Storage Spaces; MBR rows are judged by the MBR rules.
std::optional<FailureCause> RefuseIdText(const PartitionRows& rows, int row, std::string_view text);

// Plans the changed GPT rows of one drive (it only reads): the drive must
// hold the disk the scan saw (its size, MBR signature and disk GUID), its
// primary and backup tables must both be whole and agree, and each entry
// must still hold the bytes the scan read.
std::vector<PlannedSector> PlanGptTypes(Platform& platform, const PartitionRows& rows, const std::vector<int>& changed,
                                        ChangeFailures& failures);

}  // namespace quorvane
