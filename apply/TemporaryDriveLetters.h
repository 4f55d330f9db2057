// Temporary DOS device names (D: to Z:) for the partitions without a drive
// letter, so the second scan can show their label and free space and the
// apply pass can relabel them. They live until the main window closes.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "scan/PartitionRows.h"

namespace quorvane {

// A name defined, "E:", and the target it was defined with.
struct TemporaryDriveName {
    std::string name;
    std::string target;
    bool operator==(const TemporaryDriveName&) const = default;
};
// In the order of definition.
using TemporaryDriveNames = std::vector<TemporaryDriveName>;

// The first letter from D to Z that GetLogicalDrives shows unused.
std::optional<char> FirstFreeDriveLetter(Platform& platform);

// Maps every `DeviceMap` partition whose row has no letter to
// "\Device\Harddisk<drive>\Partition<n>" under the next free letter.
TemporaryDriveNames AssignTemporaryDriveLetters(Platform& platform, const PartitionRows& rows);

// Removes exactly our definitions, in the order of definition, and empties
// the list.
void RemoveTemporaryDriveLetters(Platform& platform, TemporaryDriveNames& names);

}  // namespace quorvane
