// The plan of a run under /N as the user reads it: one line per volume to be
// locked, per label to be set and per run of bytes to be written (the disk,
// the byte position, the bytes before and after); or the same as JSON.
#pragma once

#include <string>
#include <vector>

#include "app/RowsReport.h"
#include "apply/RunPlan.h"
#include "scan/PartitionRows.h"

namespace quorvane {

// Code page 936 lines; one line saying nothing would be written for an
// empty plan.
std::vector<std::string> PlanLines(const RunPlan& plan, const PartitionRows& rows);

// {"locks": [...], "labels": [...], "writes": [...]}, UTF-8, "\n" at the end.
std::string PlanJson(const RunPlan& plan, const PartitionRows& rows, const Utf8FromGbk& toUtf8);

}  // namespace quorvane
