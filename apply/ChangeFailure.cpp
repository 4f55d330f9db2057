#include "apply/ChangeFailure.h"

#include "text/Texts.h"

namespace quorvane {

namespace {

const char* CauseText(FailureCause cause) {
    switch (cause) {
        case FailureCause::OpenDrive: return texts::FailOpenDrive;
        case FailureCause::Seek: return texts::FailSeek;
        case FailureCause::Read: return texts::FailRead;
        case FailureCause::Write: return texts::FailWrite;
        case FailureCause::Stale: return texts::FailStale;
        case FailureCause::BadId: return texts::FailBadId;
        case FailureCause::SetLabel: return texts::FailSetLabel;
        case FailureCause::NoLetter: return texts::FailNoLetter;
        case FailureCause::OpenVolume: return texts::FailOpenVolume;
        case FailureCause::BackupBoot: return texts::FailBackupBoot;
        case FailureCause::Replaced: return texts::FailReplaced;
        case FailureCause::NoSignature: return texts::FailNoSignature;
        case FailureCause::VolumeReplaced: return texts::FailVolumeReplaced;
        case FailureCause::UndoNotSaved: return texts::FailUndoNotSaved;
        case FailureCause::BootLabelSkipped: return texts::FailBootLabelSkipped;
        case FailureCause::GptDisk: return texts::RefuseGptDisk;
        case FailureCause::ToProtective: return texts::RefuseToProtective;
        case FailureCause::Dynamic: return texts::RefuseDynamic;
        case FailureCause::ContainerInUse: return texts::RefuseContainerInUse;
        case FailureCause::SecondContainer: return texts::RefuseSecondContainer;
        case FailureCause::UnknownCode: return texts::FailUnknownCode;
        case FailureCause::IdWidth: return texts::FailIdWidth;
        case FailureCause::GptMismatch: return texts::FailGptMismatch;
        case FailureCause::KeepsWindowsRunning: return texts::RefuseSystem;
        case FailureCause::LayoutDiffers: return texts::RefuseLayoutDiffers;
        case FailureCause::OtherScheme: return texts::RefuseOtherScheme;
        case FailureCause::Pooled: return texts::RefusePooled;
        case FailureCause::VolumeInUse: return texts::FailVolumeInUse;
        case FailureCause::DiskVolumeInUse: return texts::FailDiskVolumeInUse;
        case FailureCause::BootCopyInUse: return texts::FailBootCopyInUse;
        case FailureCause::SizeUnknown: return texts::FailSizeUnknown;
        case FailureCause::GptHalfChanged: return texts::FailGptHalfChanged;
    }
    return "";
}

}  // namespace

const char* DescribeCause(FailureCause cause) {
    return CauseText(cause);
}

std::string DescribeFailure(const PartitionRows& rows, const ChangeFailure& failure) {
    // "磁盘 1 分区 2：" or, for an extended container, "磁盘 1 扩展分区："
    std::string text = texts::FailureDisk;
    text += rows.Cell(failure.row, ColumnDisk);
    const std::string& partition = rows.Cell(failure.row, ColumnPartition);
    const RowSideEntries& side = rows.Side(failure.row);
    if (side.scannedId == "EE" && partition.empty()) {
        text += texts::FailureProtective;
    } else if (side.otherScheme && side.gpt) {
        text += texts::FailureGptEntry + std::to_string(side.gpt->index + 1);
    } else if (side.otherScheme) {
        text += texts::FailureMbrEntry;
    } else if (partition.empty()) {
        text += texts::FailureContainer;
    } else {
        text += texts::FailurePartition;
        text += partition;
    }
    text += texts::FailureColon;
    text += CauseText(failure.cause);
    text += failure.detail;
    return text;
}

}  // namespace quorvane
