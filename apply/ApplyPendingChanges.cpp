#include "apply/ApplyPendingChanges.h"

#include <optional>
#include <vector>

#include "apply/Fat32BootLabel.h"
#include "apply/PartitionIdWriter.h"
#include "scan/DiskFormat.h"
#include "text/Gbk.h"
#include "undo/UndoFile.h"

namespace quorvane {

namespace {

// A label may go only to the volume the row shows. A temporary name points
// at "\Device\HarddiskN\PartitionM", and a partition table changed since the
// scan can renumber the partitions behind it, or another medium can sit in
// the drive: the volume under the letter must still start where the row's
// partition starts and have the serial number the scan saw.
std::optional<FailureCause> CheckVolumeOfRow(Platform& platform, const PartitionRows& rows, int row,
                                             char letter) {
    const RowSideEntries& side = rows.Side(row);
    if (!side.volumeSerial) return FailureCause::OpenVolume;  // Windows did not answer at the scan
    const VolumeExtent extent = platform.FirstDiskExtent(letter);
    if (extent.startingOffset == 0) return FailureCause::OpenVolume;  // the query failed
    if (extent.diskNumber != side.drive || extent.startingOffset != static_cast<int64_t>(side.partitionStart))
        return FailureCause::VolumeReplaced;
    const auto volume = platform.QueryVolume(letter);
    if (!volume) return FailureCause::OpenVolume;
    if (volume->serialNumber != *side.volumeSerial) return FailureCause::VolumeReplaced;
    return std::nullopt;
}

struct PlannedLabel {
    int row = 0;
    char letter = 0;
    std::string label;
    std::vector<PlannedSector> bootSectors;  // the copies kept in step, if FAT32
};

UndoRecord RecordOf(const PlannedSector& sector) {
    UndoRecord record;
    record.kind = sector.kind;
    record.disk = UndoDiskOf(sector.disk);
    record.volumeSerial = sector.volumeSerial;
    record.volumeStart = sector.volumeStart;
    record.position = sector.position;
    record.before.assign(sector.before.begin(), sector.before.end());
    record.after.assign(sector.after.begin(), sector.after.end());
    return record;
}

}  // namespace

ApplyOutcome ApplyPendingChanges(Platform& platform, PartitionRows& rows) {
    ApplyOutcome outcome;
    ChangeFailures& failures = outcome.failures;
    std::vector<PlannedLabel> labels;
    for (int row = 0; row < rows.Count(); ++row) {
        if (!rows.HasPendingLabelChange(row)) continue;
        const char letter = RowLetter(rows, row);
        if (letter == 0) {
            failures.push_back({row, FailureCause::NoLetter});
            continue;
        }
        if (const auto cause = CheckVolumeOfRow(platform, rows, row, letter)) {
            failures.push_back({row, *cause});
            continue;
        }
        PlannedLabel planned{row, letter, rows.Cell(row, ColumnLabel), {}};
        // FAT32 keeps a copy of the label in its boot sector: a volume
        // Windows reports as FAT32 has one whatever its partition's type
        // says, and an MBR partition with a FAT32 ID is looked at too (the
        // boot sector read decides).
        const bool fat32 = rows.Side(row).fileSystem == "FAT32" ||
                           (!rows.Side(row).gpt && IsFat32Id(UpperCaseAscii(rows.Cell(row, ColumnId))));
        if (fat32)
            planned.bootSectors = PlanFat32BootLabel(platform, rows, row, planned.label, failures);
        labels.push_back(std::move(planned));
    }
    const std::vector<PlannedSector> tables = PlanPartitionIds(platform, rows, failures);
    if (labels.empty() && tables.empty()) return outcome;

    // Everything the run may write, before its first write.
    std::vector<UndoRecord> records;
    for (const PlannedLabel& planned : labels) {
        const RowSideEntries& side = rows.Side(planned.row);
        UndoRecord record;
        record.kind = UndoKind::Label;
        record.disk = UndoDiskOf(side.disk);
        record.volumeSerial = side.volumeSerial.value_or(0);
        record.volumeStart = side.partitionStart;
        record.before.assign(side.scannedLabel.begin(), side.scannedLabel.end());
        record.after.assign(planned.label.begin(), planned.label.end());
        records.push_back(std::move(record));
        for (const PlannedSector& sector : planned.bootSectors) records.push_back(RecordOf(sector));
    }
    for (const PlannedSector& sector : tables) records.push_back(RecordOf(sector));
    outcome.undoFile = platform.SaveUndoFile(EncodeUndoFile(records));
    if (!outcome.undoFile) {
        for (const PlannedLabel& planned : labels) failures.push_back({planned.row, FailureCause::UndoNotSaved});
        for (const PlannedSector& sector : tables)
            for (const int row : sector.rows) failures.push_back({row, FailureCause::UndoNotSaved});
        return outcome;
    }

    for (const PlannedLabel& planned : labels) {
        if (!platform.SetVolumeLabel(planned.letter, planned.label)) {
            failures.push_back({planned.row, FailureCause::SetLabel});
            continue;
        }
        if (planned.bootSectors.empty()) continue;
        // The boot-sector copies hold the label as Windows now reports it;
        // they were planned with the label the FAT driver stores.
        const auto volume = platform.QueryVolume(planned.letter);
        if (!volume || Fat32LabelField(volume->label) != Fat32LabelField(planned.label)) {
            failures.push_back({planned.row, FailureCause::BootLabelSkipped});
            continue;
        }
        WritePlannedBootSectors(platform, planned.bootSectors, failures);
    }
    // The boot sectors go before the partition tables: an ID changed to or
    // from an empty or extended entry renumbers the partitions, and with them
    // what the temporary names point at.
    WritePlannedTableSectors(platform, rows, tables, *outcome.undoFile, failures);
    return outcome;
}

}  // namespace quorvane
