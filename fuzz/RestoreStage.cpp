#include "fuzz/RestoreStage.h"

#include <algorithm>

#include "app/Session.h"
#include "fuzz/FuzzRun.h"
#include "fuzz/RestoreModel.h"
#include "fuzz/UndoFormat.h"

namespace quorvane::fuzz {

std::vector<std::string> CheckUndoFileOfRun(const std::vector<uint8_t>& file,
                                            const std::vector<CallRecord>& calls,
                                            const std::vector<SharedMemoryImage>& scanned, uint32_t unit) {
    std::vector<std::string> violations;
    if (!SavedBeforeFirstWrite(calls)) violations.push_back("a write before the run's undo file was saved");
    const auto entries = ReadUndoEntries(file);
    if (!entries) {
        violations.push_back("the run's undo file cannot be read as documented");
        return violations;
    }
    for (const CallRecord& call : calls) {
        const bool label = call.call == PlatformCall::SetVolumeLabel;
        if ((call.call != PlatformCall::Write && !label) || call.failed || call.drive < 0 ||
            static_cast<size_t>(call.drive) >= scanned.size())
            continue;
        const auto disk = DiskOfDrive(*scanned[static_cast<size_t>(call.drive)], unit);
        const bool recorded = disk && std::any_of(entries->begin(), entries->end(), [&](const UndoEntry& e) {
                                  if (!e.SameDisk(*disk)) return false;
                                  if (label) return e.kind == 3;
                                  return e.position == call.position &&
                                         (call.letter != 0 ? e.kind == 2 : e.kind == 1 || e.kind == 4);
                              });
        if (!recorded)
            violations.push_back(std::string(label ? "a label" : "a sector") + " written on drive " +
                                 std::to_string(call.drive) + " that the undo file holds no record of");
    }
    return violations;
}

RestoreStage RestoreAfterRun(const std::vector<uint8_t>& saved, const std::vector<UndoEdit>& edits,
                             const std::vector<SharedMemoryImage>& disks,
                             const std::vector<SharedMemoryImage>& beforeRun, uint32_t unit) {
    using Kind = UndoEdit::Kind;
    std::vector<uint8_t> file = saved;
    // The changes to the records first, the file written again with a right
    // CRC; then the damage to its bytes.
    if (auto entries = ReadUndoEntries(saved); entries && !entries->empty()) {
        bool rewrite = false, otherVersion = false;
        for (const UndoEdit& edit : edits) {
            UndoEntry& e = (*entries)[edit.record % entries->size()];
            if (edit.kind == Kind::Field) AlterField(e, edit.field, edit.value);
            if (edit.kind == Kind::DataByte) {
                std::vector<uint8_t>& data = edit.offset & 0x8000 ? e.after : e.before;
                if (!data.empty())
                    data[(edit.offset & 0x7FFF) % data.size()] ^= static_cast<uint8_t>(edit.value | 1);
            }
            rewrite = rewrite || edit.kind == Kind::Field || edit.kind == Kind::DataByte ||
                      edit.kind == Kind::Version;
            otherVersion = otherVersion || edit.kind == Kind::Version;
        }
        if (rewrite) file = WriteUndoEntries(*entries, otherVersion ? 2 : 1);
    }
    for (const UndoEdit& edit : edits) {
        if (edit.kind == Kind::FileByte && !file.empty())
            file[edit.offset % file.size()] ^= static_cast<uint8_t>(edit.value | 1);
        if (edit.kind == Kind::Cut)
            file.erase(
                file.end() - static_cast<std::ptrdiff_t>(std::min<size_t>(edit.value + 1u, file.size())),
                file.end());
    }
    for (const UndoEdit& edit : edits)
        if (edit.kind == Kind::DiskBytes && edit.drive < disks.size())
            disks[edit.drive]->WriteAt(edit.patch.position, edit.patch.bytes.data(), edit.patch.bytes.size());

    std::vector<RestoreDrive> drives;
    std::vector<ImageSource> sources;
    std::vector<SharedMemoryImage> before;
    for (const SharedMemoryImage& disk : disks) {
        drives.push_back({disk, unit});
        sources.push_back({"", disk});
        before.push_back(std::make_shared<MemoryImage>(*disk));
    }
    const RestorePlan plan = PlanRestore(file, drives);
    ImagePlatform platform(sources);
    platform.SetSectorSize(unit);
    platform.PutUndoFileInMemory("run.qvundo", file);
    QuietShell shell;
    Session session(platform, shell);
    session.Start({"/U", "run.qvundo"});
    session.OnClose();
    RestoreStage stage;
    stage.exitCode = session.ExitCode();
    stage.violations = JudgeRestore(plan, drives, before, platform.Calls(), stage.exitCode);
    for (const RestoreDisk& d : plan.disks) stage.restoredDisks += d.drive && !d.refused && !d.writes.empty();
    if (!edits.empty()) return stage;

    // The run and /U together change nothing but label entries.
    for (const RestoreDisk& d : plan.disks) {
        if (!d.drive || d.refused || d.writeFails || d.undecided) continue;
        const uint32_t k = *d.drive;
        MemoryImage expected(*beforeRun[k]), seen(*disks[k]);
        const std::vector<uint8_t> blank(32);
        for (const RestoreWrite& w : d.writes) {
            if (!w.label) continue;
            for (const MemoryImage* image : {beforeRun[k].get(), disks[k].get()})
                if (const auto slot = FindLabelSlot(*image, *w.volume)) {
                    expected.WriteAt(slot->position, blank.data(), blank.size());
                    seen.WriteAt(slot->position, blank.data(), blank.size());
                }
        }
        if (!(expected == seen))
            stage.violations.push_back("/U: disk " + std::to_string(k) +
                                       " is not what it was before the run");
    }
    return stage;
}

}  // namespace quorvane::fuzz
