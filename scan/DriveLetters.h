// Drive letters and what Windows knows about their volumes, matched to rows
// by physical drive and starting byte position.
#pragma once

#include <string_view>

#include "platform/Platform.h"
#include "scan/PartitionRows.h"

namespace quorvane {

// For every letter C to Z: the row on the volume's disk that starts where the
// volume's first extent starts gets the letter, the drive-type text and the
// drive picture. A later letter of the same partition wins.
void AssignDriveLetters(Platform& platform, PartitionRows& rows);

// For every row with a letter: the volume's label and free space.
void ReadVolumeInfo(Platform& platform, PartitionRows& rows);

// "硬盘", "可移动磁盘", ...; empty for a drive type the program does not name.
std::string_view DriveTypeText(uint32_t driveType);

}  // namespace quorvane
