// The changes a command asked for, judged on the disks: IDs of MBR and EBR
// entries, labels, and the exit code; GPT changes in fuzz/FuzzGpt.cpp.
#include "fuzz/Checker.h"

namespace quorvane::fuzz {

void Checker::CheckChanges(Session& session) {
    const PartitionRows& rows = session.Rows();
    const std::vector<RowFacts> facts = Facts(rows);
    const CommandMeaning& meaning = meaning_;
    using Verdict = CommandMeaning::Verdict;
    const bool applied = meaning.verdict == Verdict::Window || meaning.verdict == Verdict::Apply;
    const bool dry = meaning.dryRun;
    for (int row = 0; row < rows.Count(); ++row) {
        const std::string where = "row " + std::to_string(row);
        const std::string id = applied ? UpperGbk(meaning.ids[row]) : meaning.ids[row];
        if (rows.Cell(row, ColumnId) != id)
            Fail(where + ": ID cell " + rows.Cell(row, ColumnId) + ", not " + id);
        if (rows.Cell(row, ColumnLabel) != meaning.labels[row]) Fail(where + ": label cell");
        if (rows.Attributes(row) != meaning.attributes[row]) Fail(where + ": attributes pending");
        const auto volume = VolumeNamed(namesAtMark_, RowLetter(rows, row), viewAtScan_, unit_);
        if (Healthy() && rowsMatch_ && volume) {
            WindowsVolume windows(originals_[volume->drive], volume->extent);
            if (windows.fat && windows.Label() != facts[row].scannedLabel)
                Fail(where + " shows another label than Windows");
        }
    }
    if (dry) CheckNothingWritten(session);
    if (meaning.verdict == Verdict::Invalid || meaning.verdict == Verdict::Help ||
        meaning.verdict == Verdict::Restore) {
        const int code = meaning.verdict == Verdict::Invalid ? 2 : meaning.verdict == Verdict::Help ? 0 : 1;
        if (outcome_.exitCode != code)
            Fail("exit code " + std::to_string(outcome_.exitCode) + " for a command that is " +
                 (code == 2   ? "malformed"
                  : code == 0 ? "help"
                              : "a restore of a file that is not there"));
        if (platform_->CountCalls(PlatformCall::Write) +
                platform_->CountCalls(PlatformCall::SetVolumeLabel) !=
            0)
            Fail("something was written for a command that asks for nothing");
        CheckImages({}, {}, {}, {});
        return;
    }

    std::vector<std::string> finalIds;
    for (const std::string& id : meaning.ids) finalIds.push_back(UpperGbk(id));
    const auto changed = [&](int row) {
        return meaning.ids[row] != facts[row].scannedId ||
               (facts[row].gpt && meaning.attributes[row] != facts[row].attributes);
    };
    std::map<int, LabelPlan> labelPlans;
    std::map<uint32_t, std::set<uint64_t>> idSectors;  // per drive: sectors of pending IDs
    for (int row = 0; row < rows.Count(); ++row) {
        if (!changed(row)) {
        } else if (const auto places = facts[row].gpt ? PlacesOfGptRow(facts[row]) : std::nullopt) {
            for (const uint64_t position : places->sectors)
                idSectors[facts[row].drive].insert(position / unit_);
        } else {
            idSectors[facts[row].drive].insert(facts[row].place.sector / unit_);
        }
        if (meaning.labels[row] != facts[row].scannedLabel)
            labelPlans[row] = PlanLabel(rows, row, meaning.labels[row]);
    }
    // Sectors that label changes of each drive may touch, counted per sector
    // (a label Windows refuses touches none).
    std::map<uint32_t, std::map<uint64_t, int>> labelSectors;
    for (const auto& [row, plan] : labelPlans)
        for (const uint64_t sector : plan.sectors)
            if (!plan.windowsRefuses) ++labelSectors[facts[row].drive][sector];

    // What each change must come to, then what the volume locks make of it.
    std::vector<Change> changes;
    for (int row = 0; row < rows.Count(); ++row)
        if (changed(row))
            changes.push_back(facts[row].gpt ? DueOfGptChange(facts, row, labelSectors)
                                             : DueOfId(facts, finalIds, row, labelSectors));
    for (const auto& [row, plan] : labelPlans) {
        Change change{row, true, DueOfLabel(facts, row, plan, labelSectors, idSectors), false};
        change.planned = change.due;
        if (plan.windowsRefuses) {
            LabelPlan accepted = plan;
            accepted.refused = false;
            change.planned = DueOfLabel(facts, row, accepted, labelSectors, idSectors);
            change.refusedAtWrite = true;
        }
        changes.push_back(change);
    }
    if (!dry) LockDrives(rows, facts, changes);

    std::map<uint32_t, std::set<uint64_t>> allowedIdBytes;
    std::map<uint32_t, std::vector<std::pair<uint64_t, size_t>>> allowedRanges;
    std::map<uint32_t, std::set<uint64_t>> volumeWrites;
    for (Change& change : changes) {
        const RowFacts& f = facts[change.row];
        if (change.label) {
            CheckLabel(labelPlans.at(change.row), change, allowedRanges, volumeWrites);
            continue;
        }
        if (f.gpt) {
            CheckGptChange(facts, change, labelSectors, allowedRanges);
            continue;
        }
        const auto wanted = ParseId(finalIds[change.row]);
        const uint64_t position = f.place.sector + f.place.idOffset;
        if (f.drive >= inDrive_.size()) continue;
        uint8_t now = 0, before = 0;
        inDrive_[f.drive]->ReadAt(position, &now, 1);
        atMark_[f.drive]->ReadAt(position, &before, 1);
        change.landed = wanted && now == *wanted && !removed_.count(f.drive);
        if (change.due == Due::Refuse && now != before)
            Fail("row " + std::to_string(change.row) + ": a refused ID was written");
        if (now != before && (!wanted || now != *wanted))
            Fail("row " + std::to_string(change.row) + ": an ID byte got a value not asked for");
        if (change.due != Due::Refuse) allowedIdBytes[f.drive].insert(position);
    }

    for (const Change& change : changes) {
        ++outcome_.requested;
        outcome_.landed += change.landed && !dry;
        if (change.due == Due::Land && !change.landed && !dry)
            Fail("row " + std::to_string(change.row) + (change.label ? " label" : " ID") +
                 ": the change did not land though nothing stood in its way");
    }
    CheckExitCode(changes, meaning.refused || (meaning.everyMatch && !session.LastScan().Complete()), dry);
    if (dry)
        CheckImages({}, {}, {}, {});
    else
        CheckImages(allowedIdBytes, allowedRanges, idSectors, volumeWrites);
    CheckGpts();
    CheckRefusedDrivesUnwritten(facts, changes);
    CheckPauses();
    CheckRemovableNotes(session, facts, changes, dry);
    if (planOfN_ && !dry) MatchPlanOfN(rows, facts, changes, labelPlans);
}

void Checker::CheckLabel(const LabelPlan& plan, Change& change,
                         std::map<uint32_t, std::vector<std::pair<uint64_t, size_t>>>& allowedRanges,
                         std::map<uint32_t, std::set<uint64_t>>& volumeWrites) {
    const uint32_t drive = plan.drive;
    if (!plan.refused) {
        WindowsVolume now(inDrive_[drive], plan.volume);
        change.landed = now.fat && now.Label() == plan.reported;
        // The boot sectors keep a copy wherever Windows mounted FAT32 (all it
        // mounts here), whatever the partition's ID.
        if (change.landed)
            change.landed =
                !plan.backupUnreachable &&
                FieldAt(*inDrive_[drive], plan.volume.start + 0x47) == Padded(plan.reported) &&
                (!plan.backupField || FieldAt(*inDrive_[drive], *plan.backupField) == Padded(plan.reported));
    }
    if (change.due != Due::Refuse) {
        allowedRanges[drive].insert(allowedRanges[drive].end(), plan.ranges.begin(), plan.ranges.end());
        for (const uint64_t write : plan.volumeWrites) volumeWrites[drive].insert(write);
    }
}

void Checker::CheckExitCode(const std::vector<Change>& changes, bool mustFailAnyway, bool dry) {
    // Under /N only what planning decides counts: a lock that would fail, a
    // label Windows would refuse, a write that would fail are not met.
    bool mustFail = mustFailAnyway, mayFail = false;
    for (const Change& change : changes) {
        const Due due = dry ? change.planned : change.due;
        mustFail = mustFail || due == Due::Refuse || (!dry && due != Due::Unknown && !change.landed);
        mayFail = mayFail || due != Due::Land;
    }
    if (mustFail && outcome_.exitCode != 1)
        Fail("exit code " + std::to_string(outcome_.exitCode) +
             " though a change was refused or did not land, or a disk was not read");
    if (!mustFail && !mayFail && outcome_.exitCode != 0)
        Fail("exit code " + std::to_string(outcome_.exitCode) + " though every change " +
             (dry ? "could be planned" : "landed"));
    if (!mustFail && mayFail && outcome_.exitCode != 0 && outcome_.exitCode != 1)
        Fail("exit code " + std::to_string(outcome_.exitCode));
}

void Checker::CheckRefusedDrivesUnwritten(const std::vector<RowFacts>& facts,
                                          const std::vector<Change>& changes) {
    std::map<uint32_t, bool> refused;
    for (const Change& change : changes) {
        const uint32_t drive = facts[change.row].drive;
        refused[drive] = (!refused.count(drive) || refused[drive]) && change.due == Due::Refuse;
    }
    const std::vector<CallRecord>& calls = platform_->Calls();
    for (size_t i = mark_; i < calls.size(); ++i) {
        const auto drive = refused.find(static_cast<uint32_t>(calls[i].drive));
        if (calls[i].call == PlatformCall::Write && calls[i].letter == 0 && calls[i].drive >= 0 &&
            drive != refused.end() && drive->second)
            return Fail("disk " + std::to_string(drive->first) + ": written though every change was refused");
    }
    // A volume that cannot be locked keeps its whole drive's tables as they are.
    for (size_t i = mark_; i < calls.size(); ++i)
        if (calls[i].call == PlatformCall::Write && calls[i].letter == 0 && calls[i].drive >= 0 &&
            lockedOut_.count(static_cast<uint32_t>(calls[i].drive)))
            return Fail("disk " + std::to_string(calls[i].drive) +
                        ": a table written though a volume was not locked");
}

Change Checker::DueOfId(const std::vector<RowFacts>& facts, const std::vector<std::string>& ids, int row,
                        const std::map<uint32_t, std::map<uint64_t, int>>& labelSectors) const {
    Change change{row, false, Due::Either, false};
    change.due = DueOfIdByte(facts, ids, row, labelSectors);
    change.planned = change.due;
    const RowFacts& f = facts[row];
    const auto wanted = ParseId(ids[row]);
    if (wanted && f.drive < atMark_.size()) {
        uint8_t now = 0;
        atMark_[f.drive]->ReadAt(f.place.sector + f.place.idOffset, &now, 1);
        change.writes = *wanted != now;
    }
    return change;
}

Due Checker::DueOfIdByte(const std::vector<RowFacts>& facts, const std::vector<std::string>& ids, int row,
                         const std::map<uint32_t, std::map<uint64_t, int>>& labelSectors) const {
    const RowFacts& f = facts[row];
    const auto wanted = ParseId(ids[row]);
    if (!wanted || RowStateRefuses(f, meaning_.ids[row]) ||
        MustRefuseIdChange(facts, ids, expected_, row, *wanted))
        return Due::Refuse;
    if (!rowsMatch_) return Due::Either;
    const ExpectedRow& e = expected_.rows[row];
    if (!e.tableSigned || f.drive >= atMark_.size() || removed_.count(f.drive)) return Due::Refuse;
    // The drive must still hold the disk the scan saw, with the entry as it was read.
    const MemoryImage& now = *atMark_[f.drive];
    const auto mbr = WholeSector(now, 0, unit_), table = WholeSector(now, f.place.sector, unit_);
    const auto scanMbr = WholeSector(*originals_[f.drive], 0, unit_);
    if (now.Size() != originals_[f.drive]->Size() || !mbr || !table || !scanMbr ||
        !std::equal(mbr->begin() + 0x1B8, mbr->begin() + 0x1BC, scanMbr->begin() + 0x1B8) ||
        (*table)[510] != 0x55 || (*table)[511] != 0xAA)
        return Due::Refuse;
    std::array<uint8_t, 16> entry{}, changed = e.entry;
    std::copy_n(table->begin() + f.place.idOffset - 4, 16, entry.begin());
    changed[4] = *wanted;
    if (entry != e.entry && entry != changed) return Due::Refuse;
    const auto sectors = labelSectors.find(f.drive);
    const bool touched = sectors != labelSectors.end() &&
                         (sectors->second.count(0) || sectors->second.count(f.place.sector / unit_));
    if (touched) return Due::Either;
    return Healthy() && expected_.readWhole.count(f.drive) ? Due::Land : Due::Either;
}

LabelPlan Checker::PlanLabel(const PartitionRows& rows, int row, const std::string& label) const {
    LabelPlan plan;
    const uint32_t drive = rows.Side(row).drive;
    plan.drive = drive;
    const uint64_t start = rows.Side(row).partitionStart;
    const char letter = RowLetter(rows, row);
    if (letter == 0 || drive >= atMark_.size() || removed_.count(drive)) return plan;
    const auto then = VolumeNamed(namesAtMark_, letter, viewAtScan_, unit_);
    const auto now = VolumeNamed(namesAtApply_, letter, viewAtApply_, unit_);
    if (!then || !now || then->drive != drive || now->drive != drive || then->extent.start != start ||
        now->extent.start != start)
        return plan;
    WindowsVolume before(originals_[drive], then->extent), after(atMark_[drive], now->extent);
    if (!before.fat || !after.fat || before.fat->serial != after.fat->serial) return plan;
    // Windows may refuse the label only when it is set: all that comes
    // before is planned all the same.
    const auto reported = LabelAfterSet(*atMark_[drive], *after.fat, label);
    plan.refused = !reported;
    plan.windowsRefuses = !reported;
    plan.volume = now->extent;
    plan.reported = reported.value_or("");

    plan.sectors.insert(start / unit_);
    plan.ranges.push_back({start + 0x47, 11});
    plan.volumeWrites.push_back(0);
    const Bytes boot = *WholeSector(*atMark_[drive], start, unit_);  // Windows mounted it: it is whole
    const uint32_t backup = Le(&boot[0x32], 2), reserved = Le(&boot[0x0E], 2), fsInfo = Le(&boot[0x30], 2);
    if (backup != 0 && backup < reserved && backup != fsInfo) {
        const uint64_t position = start + uint64_t{backup} * unit_;
        plan.sectors.insert(position / unit_);
        plan.ranges.push_back({position + 0x47, 11});
        plan.volumeWrites.push_back(uint64_t{backup} * unit_);
        const auto copy = WholeSector(*atMark_[drive], position, unit_);
        plan.backupUnreachable = !copy || uint64_t{backup} * unit_ + unit_ > now->extent.length;
        if (!plan.backupUnreachable && SaysFat32(*copy) &&
            std::equal(boot.begin() + 0x0B, boot.begin() + 0x47, copy->begin() + 0x0B))
            plan.backupField = position + 0x47;
    }
    if (const auto entry = FindLabelSlot(*atMark_[drive], *after.fat)) {
        plan.slot = entry->position;
        plan.sectors.insert(entry->position / unit_);
        plan.ranges.push_back({entry->position, 32});
    }
    plan.ownSectorsApart = plan.sectors.size() == plan.ranges.size();
    return plan;
}

Due Checker::DueOfLabel(const std::vector<RowFacts>& facts, int row, const LabelPlan& plan,
                        const std::map<uint32_t, std::map<uint64_t, int>>& labelSectors,
                        const std::map<uint32_t, std::set<uint64_t>>& idSectors) const {
    const uint32_t drive = facts[row].drive;
    if (plan.refused) return Due::Refuse;
    bool shared = !plan.ownSectorsApart;
    const auto ids = idSectors.find(drive);
    const auto labels = labelSectors.find(drive);
    for (const uint64_t sector : plan.sectors)
        shared =
            shared ||
            (labels != labelSectors.end() && labels->second.count(sector) && labels->second.at(sector) > 1) ||
            (ids != idSectors.end() && ids->second.count(sector));
    if (shared) return Due::Unknown;
    if (plan.backupUnreachable) return Due::Either;
    return Healthy() && rowsMatch_ && expected_.readWhole.count(drive) ? Due::Land : Due::Either;
}

void Checker::CheckImages(const std::map<uint32_t, std::set<uint64_t>>& idBytes,
                          const std::map<uint32_t, std::vector<std::pair<uint64_t, size_t>>>& labelRanges,
                          const std::map<uint32_t, std::set<uint64_t>>& idSectors,
                          const std::map<uint32_t, std::set<uint64_t>>& volumeWrites) {
    for (uint32_t drive = 0; drive < inDrive_.size(); ++drive) {
        MemoryImage restored(*inDrive_[drive]);
        std::vector<uint8_t> bytes(32);
        if (const auto ids = idBytes.find(drive); ids != idBytes.end())
            for (const uint64_t position : ids->second) {
                atMark_[drive]->ReadAt(position, bytes.data(), 1);
                restored.WriteAt(position, bytes.data(), 1);
            }
        if (const auto ranges = labelRanges.find(drive); ranges != labelRanges.end())
            for (const auto& [position, count] : ranges->second) {
                const size_t got = atMark_[drive]->ReadAt(position, bytes.data(), count);
                restored.WriteAt(position, bytes.data(), got);
            }
        if (!(restored == *atMark_[drive]))
            Fail("disk " + std::to_string(drive) + " changed where nothing was asked");
    }
    // Nothing is written by the scans, nor to a medium once it was taken out.
    for (const auto& [medium, taken] : swappedOut_)
        if (!(*medium == *taken)) Fail("a medium taken out was written");
    for (uint32_t drive = 0; drive < inDrive_.size() && case_.media.empty(); ++drive)
        if (!(*originals_[drive] == *atMark_[drive]))
            Fail("disk " + std::to_string(drive) + " changed during the scans");
    const std::vector<CallRecord>& calls = platform_->Calls();
    for (size_t i = 0; i < calls.size(); ++i) {
        const CallRecord& write = calls[i];
        if (write.call != PlatformCall::Write) continue;
        const auto read = std::find_if(calls.rbegin() + static_cast<std::ptrdiff_t>(calls.size() - i),
                                       calls.rend(), [&](const CallRecord& c) {
                                           return c.call == PlatformCall::Read && c.drive == write.drive &&
                                                  c.letter == write.letter;
                                       });
        if (read == calls.rend() || read->position != write.position || read->failed || read->shortTransfer)
            Fail("a sector was written that was not read in full just before");
        const auto& allowed = write.letter == 0 ? idSectors : volumeWrites;
        const auto found = allowed.find(static_cast<uint32_t>(write.drive));
        const uint64_t key = write.letter == 0 ? write.position / unit_ : write.position;
        if (write.drive < 0 || found == allowed.end() || !found->second.count(key))
            Fail("a sector was written that no requested change lies in");
    }
}

}  // namespace quorvane::fuzz
