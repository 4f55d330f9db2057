#include "fuzz/RestoreStage.h"

#include <algorithm>

#include "app/Session.h"
#include "apply/RunPlan.h"
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

namespace {

// /U (or /N /U) with `file` on the disks, as the program runs it.
struct RestoreRun {
    RestoreRun(const std::vector<ImageSource>& sources, uint32_t unit, bool layoutAnswered,
               const std::vector<uint8_t>& file, bool dry)
        : platform(sources), session(platform, shell) {
        platform.SetSectorSize(unit);
        platform.SetLayoutAnswered(layoutAnswered);
        platform.PutUndoFileInMemory("run.qvundo", file);
        std::vector<std::string> parameters{"/U", "run.qvundo"};
        if (dry) parameters.insert(parameters.begin(), "/N");
        session.Start(parameters);
        session.OnClose();
    }
    ImagePlatform platform;
    QuietShell shell;
    Session session;
};

// /N /U on the disks: it must leave them, and every other file, as they are.
std::optional<RunPlan> PlanRestoreUnderN(const std::vector<uint8_t>& file,
                                         const std::vector<ImageSource>& sources,
                                         const std::vector<SharedMemoryImage>& before, uint32_t unit,
                                         bool layoutAnswered, int& exitCode,
                                         std::vector<std::string>& violations) {
    RestoreRun run(sources, unit, layoutAnswered, file, true);
    ImagePlatform& platform = run.platform;
    const Session& session = run.session;
    exitCode = session.ExitCode();
    for (const PlatformCall call :
         {PlatformCall::Write, PlatformCall::SetVolumeLabel, PlatformCall::SaveUndoFile,
          PlatformCall::OpenVolumeToLock, PlatformCall::LockVolume})
        if (platform.CountCalls(call) != 0)
            violations.push_back(std::string("/N /U: ") + PlatformCallName(call) + " was called");
    if (platform.UndoFilesInMemory().size() != 1) violations.push_back("/N /U saved an undo file");
    for (size_t k = 0; k < before.size(); ++k)
        if (!(*sources[k].memory == *before[k]))
            violations.push_back("/N /U changed disk " + std::to_string(k));
    if (!session.Plan()) violations.push_back("/N /U made no plan");
    return session.Plan();
}

// /U writes exactly what /N /U planned, and exits as it did, wherever the
// checker knows every write of it lands.
void MatchRestorePlan(const RunPlan& dry, int dryExit, const RestorePlan& plan,
                      const std::vector<SharedMemoryImage>& disks, const ImagePlatform& platform,
                      RestoreStage& stage) {
    if (!plan.exitCode || std::any_of(plan.disks.begin(), plan.disks.end(),
                                      [](const RestoreDisk& d) { return d.writeFails || d.undecided; }))
        return;
    auto& violations = stage.violations;
    if (dryExit != stage.exitCode)
        violations.push_back("/U exit code " + std::to_string(stage.exitCode) + ", under /N " +
                             std::to_string(dryExit));
    const auto& calls = platform.Calls();
    const auto writes =
        static_cast<size_t>(std::count_if(calls.begin(), calls.end(), [](const CallRecord& c) {
            return c.call == PlatformCall::Write && !c.failed;
        }));
    if (writes != dry.writes.size() ||
        platform.CountCalls(PlatformCall::SetVolumeLabel) != dry.labels.size() ||
        platform.CountCalls(PlatformCall::OpenVolumeToLock) != dry.locks.size())
        violations.push_back("/U wrote, labelled or locked otherwise than /N /U planned");
    // The label entries are Windows' own writes.
    std::vector<std::pair<uint32_t, uint64_t>> slots;
    for (const RestoreDisk& d : plan.disks)
        for (const RestoreWrite& w : d.writes)
            if (w.label && d.drive && w.volume)
                if (const auto slot = FindLabelSlot(*disks[*d.drive], *w.volume))
                    slots.push_back({*d.drive, slot->position});
    for (const PlanWrite& write : dry.writes) {
        if (write.drive >= disks.size()) continue;
        std::vector<uint8_t> now(write.after.size());
        disks[write.drive]->ReadAt(write.position, now.data(), now.size());
        for (const auto& [drive, slot] : slots)
            for (uint64_t b = std::max(slot, write.position);
                 drive == write.drive && b < slot + 32 && b < write.position + now.size() &&
                 b - write.position < write.after.size();
                 ++b)
                now[b - write.position] = write.after[b - write.position];
        if (now != write.after) violations.push_back("/U wrote other bytes than /N /U planned");
    }
}

}  // namespace

RestoreStage RestoreAfterRun(const std::vector<uint8_t>& saved, const std::vector<UndoEdit>& edits,
                             const std::vector<SharedMemoryImage>& disks,
                             const std::vector<SharedMemoryImage>& beforeRun, uint32_t unit,
                             bool layoutAnswered, bool dryFirst) {
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
        drives.push_back({disk, unit, layoutAnswered});
        sources.push_back({"", disk});
        before.push_back(std::make_shared<MemoryImage>(*disk));
    }
    const RestorePlan plan = PlanRestore(file, drives);
    RestoreStage stage;
    int dryExit = 0;
    const std::optional<RunPlan> dryPlan =
        dryFirst ? PlanRestoreUnderN(file, sources, before, unit, layoutAnswered, dryExit, stage.violations)
                 : std::nullopt;
    RestoreRun run(sources, unit, layoutAnswered, file, false);
    const ImagePlatform& platform = run.platform;
    stage.exitCode = run.session.ExitCode();
    for (std::string& violation : JudgeRestore(plan, drives, before, platform.Calls(), stage.exitCode))
        stage.violations.push_back(std::move(violation));
    if (dryPlan) MatchRestorePlan(*dryPlan, dryExit, plan, disks, platform, stage);
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
