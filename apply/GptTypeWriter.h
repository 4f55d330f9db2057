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

// Why a GPT row's attributes may not become `attributes`: an MBR row has
// none; the row rules of a type change; bit 0 (platform required) of an EFI
// system or Microsoft reserved partition.
std::optional<FailureCause> RefuseAttributeChange(const PartitionRows& rows, int row, uint64_t attributes);

// Plans the changed GPT rows (type, attributes or both) of one drive (it only reads): the drive must
// hold the disk the scan saw (its size, MBR signature and disk GUID), its
// primary and backup tables must both be whole and agree, and each entry
// must still hold the bytes the scan read.
// A GPT row with a pending change: of its type (the ID cell as edited, which
// may differ from the scan only in case), of its attributes, or both.
struct GptChange {
    int row = 0;
    bool type = false;
    bool attributes = false;
};
std::vector<PlannedSector> PlanGptTypes(Platform& platform, const PartitionRows& rows, const std::vector<GptChange>& changed,
                                        ChangeFailures& failures);

}  // namespace quorvane
