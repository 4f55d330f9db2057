// /N: a run that plans and writes nothing, and the same case run without
// it, which must write exactly what the plan names.
#include "fuzz/Checker.h"

namespace quorvane::fuzz {

void Checker::CheckNothingWritten(const Session& session) {
    std::set<PlatformCall> seen;
    for (const CallRecord& call : platform_->Calls()) {
        switch (call.call) {
            case PlatformCall::Write:
            case PlatformCall::SetVolumeLabel:
            case PlatformCall::SaveUndoFile:
            case PlatformCall::OpenVolumeToLock:
            case PlatformCall::LockVolume:
            case PlatformCall::DismountVolume:
            case PlatformCall::RefreshLayout:
                if (seen.insert(call.call).second)
                    Fail(std::string("under /N: ") + PlatformCallName(call.call) + " was called");
                break;
            default: break;
        }
    }
    if (!platform_->UndoFilesInMemory().empty() || !session.UndoFile().empty())
        Fail("under /N an undo file was saved");
    using Verdict = CommandMeaning::Verdict;
    if ((meaning_.verdict == Verdict::Apply || meaning_.verdict == Verdict::Restore) && !session.Plan())
        Fail("under /N no plan was made");
}

void Checker::MatchPlanOfN(const PartitionRows& rows, const std::vector<RowFacts>& facts,
                           const std::vector<Change>& changes, const std::map<int, LabelPlan>& labelPlans) {
    // Both runs must have met the same disks and answers; changes sharing a
    // sector meet each other only when written.
    if (!planOfN_->healthy || !Healthy() || !rowsMatch_ || meaning_.dryRun) return;
    if (std::any_of(changes.begin(), changes.end(), [](const Change& c) { return c.due == Due::Unknown; }) ||
        !lockedOutMaybe_.empty())
        return;
    const RunPlan& plan = planOfN_->plan;
    const bool atWrite =
        std::any_of(changes.begin(), changes.end(), [](const Change& c) { return c.refusedAtWrite; });
    if (!atWrite && outcome_.exitCode != planOfN_->exitCode)
        Fail("exit code " + std::to_string(outcome_.exitCode) + ", under /N " +
             std::to_string(planOfN_->exitCode));

    // The boot sectors of each label the run sets (on the disk), and where
    // Windows writes the label itself (its root directory entry).
    std::set<std::pair<uint32_t, uint64_t>> bootSectors, refusedBootSectors;
    std::map<char, uint64_t> volumeStart;
    std::vector<std::pair<uint64_t, size_t>> slots;
    for (const auto& [row, label] : labelPlans) {
        auto& into = label.windowsRefuses ? refusedBootSectors : bootSectors;
        for (const uint64_t write : label.volumeWrites)
            into.insert({label.drive, label.volume.start + write});
        volumeStart[RowLetter(rows, row)] = label.volume.start;
        if (label.slot) slots.push_back({*label.slot, 32});
    }
    // Of the plan, all but the tables of a drive a lock stops and the boot
    // sectors of a label Windows refuses.
    std::map<std::pair<uint32_t, uint64_t>, const PlanWrite*> expected;
    for (const PlanWrite& write : plan.writes) {
        const std::pair<uint32_t, uint64_t> at{write.drive, write.position};
        if (refusedBootSectors.count(at) || (lockedOut_.count(write.drive) && !bootSectors.count(at)))
            continue;
        if (!expected.emplace(at, &write).second) Fail("the plan under /N names a sector twice");
        std::vector<uint8_t> before(write.before.size());
        if (write.drive < atMark_.size())
            atMark_[write.drive]->ReadAt(write.position, before.data(), before.size());
        if (write.before.size() != unit_ || write.after.size() != unit_ || before != write.before)
            Fail("the plan under /N names a sector's bytes before otherwise than the disk holds them");
    }
    std::set<std::pair<uint32_t, uint64_t>> written;
    const std::vector<CallRecord>& calls = platform_->Calls();
    for (size_t i = mark_; i < calls.size(); ++i) {
        if (calls[i].call != PlatformCall::Write || calls[i].failed || calls[i].drive < 0) continue;
        const uint64_t base = calls[i].letter == 0 ? 0 : volumeStart[calls[i].letter];
        written.insert({static_cast<uint32_t>(calls[i].drive), base + calls[i].position});
    }
    std::set<std::pair<uint32_t, uint64_t>> planned;
    for (const auto& [at, write] : expected) planned.insert(at);
    if (written != planned)
        Fail("the run wrote " + std::to_string(written.size()) + " sectors, the plan under /N named " +
             std::to_string(planned.size()) + " others or more");
    // What it wrote is what the plan said, but for the label entries Windows writes.
    for (const auto& [at, write] : expected) {
        std::vector<uint8_t> now(write->after.size());
        inDrive_[at.first]->ReadAt(at.second, now.data(), now.size());
        for (const auto& [slot, size] : slots)
            for (uint64_t b = std::max(slot, at.second); b < std::min(slot + size, at.second + now.size());
                 ++b)
                now[b - at.second] = write->after[b - at.second];
        if (now != write->after) Fail("a sector holds other bytes than the plan under /N named");
    }
    // Every label it sets and every volume it locks.
    std::multiset<char> labelled, toLabel;
    for (size_t i = mark_; i < calls.size(); ++i)
        if (calls[i].call == PlatformCall::SetVolumeLabel) labelled.insert(calls[i].letter);
    for (const quorvane::PlanLabel& label : plan.labels) {
        toLabel.insert(label.letter);
        if (label.row < 0 || label.row >= rows.Count() || label.after != meaning_.labels[label.row] ||
            label.before != facts[label.row].scannedLabel)
            Fail("the plan under /N names another label than asked");
    }
    if (labelled != toLabel) Fail("the run set other labels than the plan under /N named");
    if (platform_->CountCalls(PlatformCall::OpenVolumeToLock) != plan.locks.size())
        Fail("the run opened " + std::to_string(platform_->CountCalls(PlatformCall::OpenVolumeToLock)) +
             " volumes to lock, the plan under /N named " + std::to_string(plan.locks.size()));
}

}  // namespace quorvane::fuzz
