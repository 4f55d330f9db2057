// A change that was asked for and did not fully reach the disk or volume.
#pragma once

#include <string>
#include <vector>

#include "scan/PartitionRows.h"

namespace quorvane {

enum class FailureCause {
    OpenDrive,   // the physical drive could not be opened
    Seek,        // positioning at the sector failed
    Read,        // the sector could not be read in full
    Write,       // the write failed or was short
    Stale,       // the ID byte on disk is no longer the scanned one
    BadId,       // the ID text is not one or two hexadecimal digits
    SetLabel,    // Windows refused the new volume label
    NoLetter,    // a new label for a partition without a drive letter
    OpenVolume,  // the volume could not be opened for its boot sector
    BackupBoot,  // the backup boot sector kept the old label
    Replaced,        // the drive no longer holds the disk the scan saw
    NoSignature,     // the table sector lacks 55 AA: never written
    VolumeReplaced,  // the volume under the letter is not the one the scan saw
    UndoNotSaved,      // the undo file could not be written: nothing was
    BootLabelSkipped,  // Windows reports another label than the one planned for the boot sector
    // Refused changes of an ID.
    GptDisk,          // an entry of a disk Windows reads as GPT
    ToProtective,     // to EE
    Dynamic,          // from or to 42
    ContainerInUse,   // a container holding logical partitions to a non-container
    SecondContainer,  // to 05/0F on a drive that has a container
    UnknownCode,      // a four-digit code the GPT type table does not hold
    IdWidth,          // a two-digit ID on a GPT row or a four-digit code on an MBR row
    GptMismatch,      // the GPT's primary and backup disagree or a CRC is wrong
    KeepsWindowsRunning,  // Windows runs from it: never changed
    LayoutDiffers,        // Windows reads the drive otherwise than its tables say
    OtherScheme,          // an entry of the table a hybrid MBR's Windows does not read
    Pooled,               // from or to an LDM or Storage Spaces GPT type
    VolumeInUse,          // the partition's volume could not be locked
    DiskVolumeInUse,      // another volume of the drive could not be locked
    BootCopyInUse,        // the boot-sector copies needed a lock that failed
    SizeUnknown,          // the drive's size could not be told at the scan or now
    GptHalfChanged,       // a failed GPT write could not be put back
};

struct ChangeFailure {
    ChangeFailure() = default;
    ChangeFailure(int failedRow, FailureCause failureCause, std::string failureDetail = {})
        : row(failedRow), cause(failureCause), detail(std::move(failureDetail)) {}
    int row = 0;
    FailureCause cause{};
    std::string detail;  // after the cause's text: the undo file to restore from
    bool operator==(const ChangeFailure&) const = default;
};

using ChangeFailures = std::vector<ChangeFailure>;

// The cause alone, in code page 936.
const char* DescribeCause(FailureCause cause);

// One line in code page 936 naming the row (disk and partition) and the cause.
std::string DescribeFailure(const PartitionRows& rows, const ChangeFailure& failure);

}  // namespace quorvane
