// The partitions that keep Windows running: changing their ID or type can
// leave the PC unable to boot, and Windows cannot even lock the volumes it
// runs from. They are marked by the scan and never changed.
#pragma once

#include "platform/Platform.h"
#include "scan/PartitionRows.h"

namespace quorvane {

// Marks (`keepsWindowsRunning`) the row whose volume holds the Windows
// directory, every row whose volume holds a page file, the system partition
// the firmware boots from, and every EFI system partition (GPT EF00, MBR EF)
// of the disk that holds Windows. Rows must have their letters.
void MarkSystemPartitions(Platform& platform, PartitionRows& rows);

// The drive letter a path or page-file entry names ("C:\Windows",
// "\??\D:\pagefile.sys", "E:\pagefile.sys 0 0"); 0 for none ("?:\...", the
// page file Windows places itself, names no volume).
char LetterOfPath(const std::string& path);

}  // namespace quorvane
