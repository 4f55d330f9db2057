#include "fuzz/Checker.h"

namespace quorvane::fuzz {

void Checker::CheckChanges(Session& session) {
    const PartitionRows& rows = session.Rows();
    const std::vector<RowFacts> facts = Facts(rows);
    CommandMeaning meaning = MeanCommand(case_.parameters, facts);
    if (meaning.verdict == CommandMeaning::Verdict::Window) meaning = window_;
    using Verdict = CommandMeaning::Verdict;
    const bool applied = meaning.verdict == Verdict::Window || meaning.verdict == Verdict::Apply;
    for (int row = 0; row < rows.Count(); ++row) {
        const std::string id = applied ? UpperGbk(meaning.ids[row]) : meaning.ids[row];
        if (rows.Cell(row, ColumnId) != id)
            Fail("row " + std::to_string(row) + ": ID cell " + rows.Cell(row, ColumnId) + ", not " + id);
        if (rows.Cell(row, ColumnLabel) != meaning.labels[row])
            Fail("row " + std::to_string(row) + ": label cell");
        const auto volume = VolumeNamed(namesAtMark_, RowLetter(rows, row), originals_, unit_);
        if (Healthy() && rowsMatch_ && volume) {
            WindowsVolume windows(originals_[volume->drive], volume->extent);
            if (windows.fat && windows.Label() != facts[row].scannedLabel)
                Fail("row " + std::to_string(row) + " shows another label than Windows");
        }
    }
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
    std::vector<Change> changes;
    std::map<int, LabelPlan> labelPlans;
    std::map<uint32_t, std::set<uint64_t>> idSectors;  // per drive: sectors of pending IDs
    for (int row = 0; row < rows.Count(); ++row) {
        if (meaning.ids[row] == facts[row].scannedId) {
        } else if (const auto places = facts[row].gpt ? PlacesOfGptRow(facts[row]) : std::nullopt) {
            for (const uint64_t position : places->sectors)
                idSectors[facts[row].drive].insert(position / unit_);
        } else {
            idSectors[facts[row].drive].insert(facts[row].place.sector / unit_);
        }
        if (meaning.labels[row] != facts[row].scannedLabel)
            labelPlans[row] = PlanLabel(rows, row, meaning.labels[row]);
    }
    // Sectors that label changes of each drive may touch, counted per sector.
    std::map<uint32_t, std::map<uint64_t, int>> labelSectors;
    for (const auto& [row, plan] : labelPlans)
        for (const uint64_t sector : plan.sectors) ++labelSectors[facts[row].drive][sector];

    std::map<uint32_t, std::set<uint64_t>> allowedIdBytes;
    std::map<uint32_t, std::vector<std::pair<uint64_t, size_t>>> allowedRanges;
    for (int row = 0; row < rows.Count(); ++row) {
        if (meaning.ids[row] == facts[row].scannedId) continue;
        if (facts[row].gpt) {
            changes.push_back(CheckGptChange(facts, finalIds[row], row, labelSectors, allowedRanges));
            continue;
        }
        Change change{row, false, DueOfId(facts, finalIds, row, labelSectors), false};
        const auto wanted = ParseId(finalIds[row]);
        const uint32_t drive = facts[row].drive;
        const uint64_t position = facts[row].place.sector + facts[row].place.idOffset;
        if (drive < inDrive_.size()) {
            uint8_t now = 0, before = 0;
            inDrive_[drive]->ReadAt(position, &now, 1);
            atMark_[drive]->ReadAt(position, &before, 1);
            change.landed = wanted && now == *wanted && !removed_.count(drive);
            if (change.due == Due::Refuse && now != before)
                Fail("row " + std::to_string(row) + ": a refused ID was written");
            if (now != before && (!wanted || now != *wanted))
                Fail("row " + std::to_string(row) + ": an ID byte got a value not asked for");
            if (change.due != Due::Refuse) allowedIdBytes[drive].insert(position);
        }
        changes.push_back(change);
    }
    std::map<uint32_t, std::set<uint64_t>> volumeWrites;
    for (const auto& [row, plan] : labelPlans) {
        Change change{row, true, DueOfLabel(facts, row, plan, labelSectors, idSectors), false};
        const uint32_t drive = facts[row].drive;
        if (!plan.refused) {
            WindowsVolume now(inDrive_[drive], plan.volume);
            change.landed = now.fat && now.Label() == plan.reported;
            // The boot sectors keep a copy wherever Windows mounted FAT32
            // (all it mounts here), whatever the partition's ID.
            if (change.landed)
                change.landed =
                    !plan.backupUnreachable &&
                    FieldAt(*inDrive_[drive], plan.volume.start + 0x47) == Padded(plan.reported) &&
                    (!plan.backupField ||
                     FieldAt(*inDrive_[drive], *plan.backupField) == Padded(plan.reported));
        }
        if (change.due != Due::Refuse) {
            allowedRanges[drive].insert(allowedRanges[drive].end(), plan.ranges.begin(), plan.ranges.end());
            for (const uint64_t write : plan.volumeWrites) volumeWrites[drive].insert(write);
        }
        changes.push_back(change);
    }

    bool mustFail = meaning.everyMatch && !session.LastScan().Complete();
    bool mayFail = false;
    for (const Change& change : changes) {
        ++outcome_.requested;
        outcome_.landed += change.landed;
        const std::string what = "row " + std::to_string(change.row) + (change.label ? " label" : " ID");
        if (change.due == Due::Land && !change.landed)
            Fail(what + ": the change did not land though nothing stood in its way");
        mustFail = mustFail || change.due == Due::Refuse || (change.due != Due::Unknown && !change.landed);
        mayFail = mayFail || change.due != Due::Land;
    }
    if (mustFail && outcome_.exitCode != 1)
        Fail("exit code " + std::to_string(outcome_.exitCode) +
             " though a change was refused or did not land, or a disk was not read");
    if (!mustFail && !mayFail && outcome_.exitCode != 0)
        Fail("exit code " + std::to_string(outcome_.exitCode) + " though every change landed");
    if (!mustFail && mayFail && outcome_.exitCode != 0 && outcome_.exitCode != 1)
        Fail("exit code " + std::to_string(outcome_.exitCode));
    CheckImages(allowedIdBytes, allowedRanges, idSectors, volumeWrites);
    CheckGpts();
    CheckRefusedDrivesUnwritten(facts, changes);
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
}

std::optional<Checker::GptPlaces> Checker::PlacesOfGptRow(const RowFacts& f) const {
    if (f.drive >= atMark_.size()) return std::nullopt;
    const MemoryImage& image = *atMark_[f.drive];
    const uint64_t sectors = image.Size() / unit_;
    if (sectors < 3) return std::nullopt;
    auto primary = ReadGptAt(image, f.drive, 1, unit_),
         backup = ReadGptAt(image, f.drive, sectors - 1, unit_);
    if (!primary || !backup) return std::nullopt;
    // The row's entry in the copy its scan read: the primary, or the backup
    // where the primary could not be read then.
    const uint64_t at = f.place.sector + f.place.idOffset;
    std::optional<uint64_t> index;
    for (const GptView* copy : {&*primary, &*backup}) {
        const uint64_t array = copy->entryLba * unit_;
        if (!index && at >= array && (at - array) % copy->entrySize == 0 &&
            (at - array) / copy->entrySize < copy->count)
            index = (at - array) / copy->entrySize;
    }
    if (!index || *index >= primary->count || *index >= backup->count) return std::nullopt;
    GptPlaces places;
    places.index = static_cast<uint32_t>(*index);
    for (const GptView* copy : {&*backup, &*primary}) {
        const uint64_t entry = copy->EntryPosition(places.index, unit_);
        places.sectors.push_back(entry / unit_ * unit_);
        places.sectors.push_back(copy->lba * unit_);
        places.ranges.push_back({entry, 16});
        places.ranges.push_back({copy->lba * unit_ + 16, 4});  // header CRC
        places.ranges.push_back({copy->lba * unit_ + 88, 4});  // array CRC
    }
    places.primary = std::move(*primary);
    places.backup = std::move(*backup);
    return places;
}

Change Checker::CheckGptChange(const std::vector<RowFacts>& facts, const std::string& id, int row,
                               const std::map<uint32_t, std::map<uint64_t, int>>& labelSectors,
                               std::map<uint32_t, std::vector<std::pair<uint64_t, size_t>>>& allowedRanges) {
    const RowFacts& f = facts[row];
    Change change{row, false, Due::Either, false};
    const bool rule = RefusedForGptRow(f) || MustRefuseGptChange(id, f.scannedId);
    const auto places = PlacesOfGptRow(f);
    const bool present = f.drive < inDrive_.size() && !removed_.count(f.drive);
    // A label change writing one of its sectors may undo it.
    const bool shared = places && labelSectors.count(f.drive) &&
                        std::any_of(places->sectors.begin(), places->sectors.end(), [&](uint64_t p) {
                            return labelSectors.at(f.drive).count(p / unit_) > 0;
                        });
    if (rule || !present) {
        change.due = Due::Refuse;
    } else if (rowsMatch_) {
        const ExpectedRow& e = expected_.rows[row];
        const MemoryImage &then = *originals_[f.drive], &now = *atMark_[f.drive];
        const auto mbr = WholeSector(now, 0, unit_), scanMbr = WholeSector(then, 0, unit_);
        const uint64_t sectors = then.Size() / unit_;
        auto scanned = ReadGptAt(then, f.drive, 1, unit_);
        if (!scanned && sectors >= 3) scanned = ReadGptAt(then, f.drive, sectors - 1, unit_);
        const auto& a = places ? places->primary : GptView{};
        const auto& b = places ? places->backup : GptView{};
        // The two copies agree, and no part of one lies over a part of the other.
        const uint64_t n = (uint64_t{a.count} * a.entrySize + unit_ - 1) / unit_;
        const auto apart = [](uint64_t x, uint64_t xn, uint64_t y, uint64_t yn) {
            return x + xn <= y || y + yn <= x;
        };
        const bool agree = places && a.diskGuid == b.diskGuid && a.alternate == b.lba && b.alternate == 1 &&
                           a.count == b.count && a.entrySize == b.entrySize && a.array == b.array &&
                           apart(a.entryLba, n, b.entryLba, n) && apart(a.entryLba, n, b.lba, 1) &&
                           apart(a.lba, 1, b.entryLba, n) && apart(a.lba, 1, a.entryLba, n) &&
                           apart(b.lba, 1, b.entryLba, n);
        const uint8_t* entry = agree ? a.array.data() + uint64_t{places->index} * a.entrySize : nullptr;
        if (!agree || now.Size() != then.Size() || !mbr || !scanMbr ||
            !std::equal(mbr->begin() + 0x1B8, mbr->begin() + 0x1BC, scanMbr->begin() + 0x1B8) || !scanned ||
            scanned->diskGuid != a.diskGuid || e.gptEntry.size() != a.entrySize ||
            !std::equal(e.gptEntry.begin(), e.gptEntry.end(), entry))
            change.due = Due::Refuse;
        else if (shared)
            change.due = Due::Unknown;
        else
            change.due = Healthy() && expected_.readWhole.count(f.drive) ? Due::Land : Due::Either;
    }
    if (!places) return change;
    if (change.due != Due::Refuse) {
        allowedRanges[f.drive].insert(allowedRanges[f.drive].end(), places->ranges.begin(),
                                      places->ranges.end());
        gptChanged_[f.drive] = gptChanged_.count(f.drive) ? gptChanged_[f.drive] && !shared : !shared;
    }
    const KnownGptType* known = KnownGptTypeOfCode(UpperGbk(id));
    if (!known || !present || shared) return change;
    const GuidBytes wanted = GuidOnDisk(known->guid);
    change.landed = true;
    for (const GptView* copy : {&places->backup, &places->primary}) {
        GuidBytes before{}, after{};
        const uint64_t entry = copy->EntryPosition(places->index, unit_);
        atMark_[f.drive]->ReadAt(entry, before.data(), before.size());
        inDrive_[f.drive]->ReadAt(entry, after.data(), after.size());
        change.landed = change.landed && after == wanted;
        if (after != before && after != wanted)
            Fail("row " + std::to_string(row) + ": a type GUID got a value not asked for");
        if (after != before && change.due == Due::Refuse)
            Fail("row " + std::to_string(row) + ": a refused type was written");
    }
    return change;
}

void Checker::CheckGpts() {
    for (const auto& changed : gptChanged_) {
        const uint32_t drive = changed.first;
        if (!changed.second) continue;
        const MemoryImage &before = *atMark_[drive], &after = *inDrive_[drive];
        const uint64_t sectors = after.Size() / unit_;
        if (sectors < 3 || removed_.count(drive)) continue;
        const auto primary = ReadGptAt(before, drive, 1, unit_),
                   backup = ReadGptAt(before, drive, sectors - 1, unit_);
        if (!primary || !backup) continue;
        const auto written = [&](const GptView& copy) {
            std::vector<uint8_t> was(unit_), is(unit_);
            before.ReadAt(copy.lba * unit_, was.data(), unit_);
            after.ReadAt(copy.lba * unit_, is.data(), unit_);
            return was != is;
        };
        if (!written(*primary) && !written(*backup)) continue;
        // A failed write is undone by putting back what was written;
        // only a second failure, while putting back, may leave a copy spoilt.
        const auto failures =
            std::count_if(platform_->Calls().begin() + static_cast<std::ptrdiff_t>(mark_),
                          platform_->Calls().end(), [&](const CallRecord& c) {
                              return c.drive == static_cast<int>(drive) && (c.failed || c.shortTransfer);
                          });
        if (failures < 2 &&
            (!ReadGptAt(after, drive, 1, unit_) || !ReadGptAt(after, drive, sectors - 1, unit_)))
            Fail("disk " + std::to_string(drive) + ": a GPT copy is not right after the change");
        const auto firstWrite = [&](const GptView& copy) {
            const std::vector<CallRecord>& calls = platform_->Calls();
            for (size_t i = 0; i < calls.size(); ++i)
                if (calls[i].call == PlatformCall::Write && calls[i].drive == static_cast<int>(drive) &&
                    calls[i].letter == 0 && calls[i].position == copy.lba * unit_)
                    return i;
            return calls.size();
        };
        if (written(*primary) && firstWrite(*primary) < firstWrite(*backup))
            Fail("disk " + std::to_string(drive) + ": the primary GPT was written before the backup");
    }
}

Due Checker::DueOfId(const std::vector<RowFacts>& facts, const std::vector<std::string>& ids, int row,
                     const std::map<uint32_t, std::map<uint64_t, int>>& labelSectors) const {
    const auto wanted = ParseId(ids[row]);
    if (!wanted || MustRefuseIdChange(facts, ids, expected_, row, *wanted)) return Due::Refuse;
    const RowFacts& f = facts[row];
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
    const uint64_t start = rows.Side(row).partitionStart;
    const char letter = RowLetter(rows, row);
    if (letter == 0 || drive >= atMark_.size() || removed_.count(drive)) return plan;
    const auto then = VolumeNamed(namesAtMark_, letter, originals_, unit_);
    const auto now = VolumeNamed(namesAtApply_, letter, atMark_, unit_);
    if (!then || !now || then->drive != drive || now->drive != drive || then->extent.start != start ||
        now->extent.start != start)
        return plan;
    WindowsVolume before(originals_[drive], then->extent), after(atMark_[drive], now->extent);
    if (!before.fat || !after.fat || before.fat->serial != after.fat->serial) return plan;
    const auto reported = LabelAfterSet(*atMark_[drive], *after.fat, label);
    if (!reported) return plan;
    plan.refused = false;
    plan.volume = now->extent;
    plan.reported = *reported;

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
        plan.sectors.insert(entry->position / unit_);
        plan.ranges.push_back({entry->position, 32});
    }
    plan.ownSectorsApart = plan.sectors.size() == plan.ranges.size();
    return plan;
}

Due Checker::DueOfLabel(const std::vector<RowFacts>& facts, int row,
                        const LabelPlan& plan,
                        const std::map<uint32_t, std::map<uint64_t, int>>& labelSectors,
                        const std::map<uint32_t, std::set<uint64_t>>& idSectors) const {
    const uint32_t drive = facts[row].drive;
    if (plan.refused) return Due::Refuse;
    bool shared = !plan.ownSectorsApart;
    const auto ids = idSectors.find(drive);
    for (const uint64_t sector : plan.sectors)
        shared = shared || labelSectors.at(drive).at(sector) > 1 ||
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
