#include "fuzz/Checker.h"
#include "fuzz/RestoreModel.h"
#include "fuzz/RestoreStage.h"

namespace quorvane::fuzz {

FuzzOutcome Checker::Run() {
    Prepare();
    Session session(*platform_, shell_);
    shell_.onRowsShown = [&] { AtRowsShown(session); };
    session.Start(case_.parameters);
    const bool window = case_.parameters.empty();
    rowsMatch_ = ScanForeseen() && session.Rows().Count() == static_cast<int>(expected_.rows.size());
    FindSystemRows(session.Rows());
    if (window) EditInTheWindow(session);
    session.OnClose();
    outcome_.exitCode = session.ExitCode();
    if (!marked_) {
        Fail("the rows were never shown");
        return outcome_;
    }
    if (window) {
        meaning_ = window_;
    } else {
        const std::vector<RowFacts> facts = Facts(session.Rows());
        std::vector<std::string> ids;
        for (const RowFacts& f : facts) ids.push_back(f.scannedId);
        meaning_ = MeanCommand(case_.parameters, facts, Rules(facts, ids));
    }
    if (meaning_.dryRun && session.Plan())
        plan_ = PlanOfN{*session.Plan(), session.ExitCode(), Healthy() && ScanForeseen()};
    if (window != shell_.windowShown) Fail("the window was shown for a command line, or not for none");
    if (shell_.closeRequests == 0) Fail("no close was requested");
    CheckRows(session);
    CheckChanges(session);
    CheckNames(session);
    CheckUndo(session);
    return outcome_;
}

void Checker::Prepare() {
    std::vector<ImageSource> sources;
    for (const FuzzImage& image : case_.images) {
        inDrive_.push_back(MaterializeImage(image));
        sources.push_back({"", inDrive_.back()});
    }
    PrepareWindows(sources);
    if (case_.diskCount) platform_->SetDiskCount(*case_.diskCount);
    for (const Fault& fault : case_.faults) platform_->AddFault(fault);
    for (const uint64_t number : case_.failCalls) platform_->FailCallNumber(number);
    for (const ForeignName& name : case_.names)
        if (!name.afterScan && platform_->DefineDosDevice(name.letter, name.target)) foreign_.push_back(name);
    expected_ = ExpectScan(originals_, case_.diskCount, case_.faults, unit_,
                           case_.windows.layoutAnswered ? &viewAtScan_ : nullptr);
}

void Checker::AtRowsShown(Session& session) {
    if (marked_) return;
    marked_ = true;
    mark_ = platform_->Calls().size();
    namesAtMark_ = platform_->DosDevices();
    ours_ = session.TemporaryNames();
    viewAtApply_ = viewAtScan_;
    for (const MediumChange& change : case_.media) {
        if (change.drive >= inDrive_.size()) continue;
        if (change.removed) {
            platform_->SetNoMedium(change.drive, true);
            removed_.insert(change.drive);
            continue;
        }
        auto medium = std::make_shared<MemoryImage>(*inDrive_[change.drive]);
        const int64_t size = static_cast<int64_t>(medium->Size()) + change.sizeChange * unit_;
        medium->Resize(static_cast<uint64_t>(std::max<int64_t>(size, 0)));
        for (const BytePatch& patch : change.patches)
            medium->WriteAt(patch.position, patch.bytes.data(), patch.bytes.size());
        swappedOut_.push_back(
            {inDrive_[change.drive], std::make_shared<MemoryImage>(*inDrive_[change.drive])});
        inDrive_[change.drive] = medium;
        platform_->SwapMedium(change.drive, {"", medium});
    }
    for (const ForeignName& name : case_.names)
        if (name.afterScan && platform_->DefineDosDevice(name.letter, name.target)) foreign_.push_back(name);
    namesAtApply_ = platform_->DosDevices();
    for (const uint64_t k : case_.failCallsAfterScan)
        platform_->FailCallNumber(platform_->Calls().size() + k);
    for (const SharedMemoryImage& medium : inDrive_)
        atMark_.push_back(std::make_shared<MemoryImage>(*medium));
    // Windows reads the layout of a medium put in; a drive without one has none.
    for (const MediumChange& change : case_.media)
        if (change.drive < inDrive_.size() && !change.removed)
            viewAtApply_[change.drive] = atMark_[change.drive];
    for (const uint32_t drive : removed_) viewAtApply_[drive] = nullptr;
}

void Checker::EditInTheWindow(Session& session) {
    PartitionRows& rows = session.Rows();
    const std::vector<RowFacts> facts = Facts(rows);
    window_ = MeanCommand({}, facts, {});
    const RefusalRules rules = Rules(facts, window_.ids);
    for (const WindowEdit& edit : case_.edits) {
        if (facts.empty()) break;
        const int row = static_cast<int>(edit.row % facts.size());
        if (edit.hide) {
            // The menu offers only what changes the row; a refusal is told at once.
            if (SetHidden(facts, rules, row, *edit.hide, window_) != Hiding::Changed) continue;
            if (facts[row].gpt)
                rows.SetPendingAttributes(row, window_.attributes[row]);
            else
                rows.SetCell(row, ColumnId, window_.ids[row]);
            continue;
        }
        const std::string id = edit.id.value_or(window_.ids[row]);
        const bool changed = UpperGbk(id) != facts[row].scannedId && id != window_.ids[row];
        if (changed && rules.id(row, id)) continue;
        window_.ids[row] = id;
        rows.SetCell(row, ColumnId, id);
        const bool takesLabel =
            !IsContainerText(UpperGbk(id)) && facts[row].scannedId != "EE" && !facts[row].otherScheme;
        if (!takesLabel || edit.labelDisabled || !edit.label || *edit.label == window_.labels[row]) continue;
        window_.labels[row] = *edit.label;
        rows.SetCell(row, ColumnLabel, *edit.label);
    }
    session.ApplyAndClose();
}

bool Checker::AnyCallFailed() const {
    return std::any_of(platform_->Calls().begin(), platform_->Calls().end(),
                       [](const CallRecord& call) { return call.failed || call.shortTransfer; });
}

bool Checker::Healthy() const {
    return !AnyCallFailed() && case_.media.empty() &&
           std::none_of(case_.names.begin(), case_.names.end(),
                        [](const ForeignName& n) { return n.afterScan; });
}

bool Checker::ScanForeseen() const {
    return std::all_of(case_.failCalls.begin(), case_.failCalls.end(), [&](uint64_t n) { return n > mark_; });
}

void Checker::CheckRows(Session& session) {
    const PartitionRows& rows = session.Rows();
    outcome_.rows = rows.Count();
    if (rows.Count() > 261) Fail("more than 261 rows: " + std::to_string(rows.Count()));
    if (!ScanForeseen()) return;
    if (rows.Count() != static_cast<int>(expected_.rows.size())) {
        Fail("rows: " + std::to_string(rows.Count()) + " listed, " + std::to_string(expected_.rows.size()) +
             " on the disks");
        return;
    }
    rowsMatch_ = true;
    if (session.LastScan().Complete() != expected_.complete)
        Fail(expected_.complete ? "the scan says it missed something" : "the scan says it read everything");
    std::set<std::tuple<int, uint32_t, uint32_t>> map, wanted;
    for (const DeviceMapEntry& entry : rows.DeviceMap())
        if (expected_.readWhole.count(entry.drive)) map.insert({entry.row, entry.drive, entry.partition});
    for (int row = 0; row < rows.Count(); ++row) {
        const ExpectedRow& e = expected_.rows[row];
        const RowSideEntries& side = rows.Side(row);
        const std::string where = "row " + std::to_string(row) + ": ";
        if (rows.Cell(row, ColumnDisk) != e.disk || side.drive != e.place.drive) Fail(where + "disk");
        if (rows.Cell(row, ColumnPartition) != e.shown)
            Fail(where + "shown number " + rows.Cell(row, ColumnPartition) + ", not " + e.shown);
        if (e.gpt) {
            if (e.code ? side.scannedId != *e.code : KnownGptTypeOfCode(side.scannedId) != nullptr)
                Fail(where + "code " + side.scannedId + ", not " +
                     e.code.value_or("one the checker does not know"));
            if (!side.gpt || side.gpt->entry != e.gptEntry) Fail(where + "GPT entry as read");
        } else if (side.scannedId != IdText(e.type) || side.gpt) {
            Fail(where + "ID " + side.scannedId + ", not " + IdText(e.type));
        }
        // The kind cell shows the attributes as they are pending.
        const uint64_t attributes = meaning_.attributes.empty() ? e.attributes : meaning_.attributes[row];
        const std::string kind = ExpectedKind(e, system_.count(row) != 0, attributes);
        if (rows.Cell(row, ColumnKind) != kind &&
            (systemCertain_ || rows.Cell(row, ColumnKind) != ExpectedKind(e, false, attributes)))
            Fail(where + "kind");
        if (side.partitionStart != e.start) Fail(where + "partition start");
        if (side.entrySectorPosition != e.place.sector || side.idByteOffset != e.place.idOffset)
            Fail(where + "ID byte at " + std::to_string(side.entrySectorPosition + side.idByteOffset) +
                 ", not " + std::to_string(e.place.sector + e.place.idOffset));
        if (!std::equal(e.entry.begin(), e.entry.end(), side.scannedEntry.begin()))
            Fail(where + "entry as read");
        if (e.windowsNumber && expected_.readWhole.count(e.place.drive))
            wanted.insert({row, e.place.drive, *e.windowsNumber});
    }
    if (map != wanted) {
        std::string text = "Windows numbers:";
        int told = 0;
        for (const auto& [row, drive, number] : map)
            if (!wanted.count({row, drive, number}) && ++told <= 3)
                text += " row " + std::to_string(row) + " listed as " + std::to_string(number);
        for (const auto& [row, drive, number] : wanted)
            if (!map.count({row, drive, number}) && ++told <= 6)
                text += " row " + std::to_string(row) + " is " + std::to_string(number);
        Fail(text);
    }
    if (Healthy()) CheckLetters(rows);
    CheckWindowsMarks(rows);
}

void Checker::CheckLetters(const PartitionRows& rows) {
    std::set<char> taken;
    for (const ForeignName& name : foreign_) taken.insert(name.letter);
    size_t numbered = 0;
    for (const ExpectedRow& e : expected_.rows) numbered += TakesLetter(e);
    const bool enough = numbered <= 23 - taken.size();
    for (int row = 0; row < rows.Count(); ++row) {
        const ExpectedRow& e = expected_.rows[row];
        const char letter = RowLetter(rows, row);
        if (letter == 0) {
            // A temporary name points at the partition by its number: where
            // Windows' layout was not asked and is another, it lies elsewhere.
            const auto own = e.windowsNumber
                                 ? ViewPartition(viewAtScan_, e.place.drive, *e.windowsNumber, unit_)
                                 : std::nullopt;
            if (enough && TakesLetter(e) && e.start != 0 && own && own->extent.start == e.start)
                Fail("row " + std::to_string(row) + " has no letter");
            continue;
        }
        const auto name = namesAtMark_.find(letter);
        uint32_t drive = 0, number = 0;
        if (name == namesAtMark_.end() || !ParseTarget(name->second, drive, number)) {
            Fail("row " + std::to_string(row) + " shows a letter without a volume");
            continue;
        }
        const auto volume = ViewPartition(viewAtScan_, drive, number, unit_);
        if (volume && (volume->drive != e.place.drive || volume->extent.start != e.start))
            Fail("row " + std::to_string(row) + " shows the letter of another partition");
    }
}

std::vector<RowFacts> Checker::Facts(const PartitionRows& rows) const {
    std::vector<RowFacts> facts;
    for (int row = 0; row < rows.Count(); ++row) {
        const RowSideEntries& side = rows.Side(row);
        RowFacts f;
        f.disk = rows.Cell(row, ColumnDisk);
        f.shown = rows.Cell(row, ColumnPartition);
        f.scannedId = side.scannedId;
        f.scannedLabel = side.scannedLabel;
        f.drive = side.drive;
        f.place = {side.drive, side.entrySectorPosition, side.idByteOffset};
        f.start = side.partitionStart;
        f.system = system_.count(row) != 0;
        if (rowsMatch_) {
            const ExpectedRow& e = expected_.rows[row];
            f.gpt = e.gpt;
            f.otherScheme = e.otherScheme;
            f.layoutDiffers = e.layoutDiffers;
            f.attributes = e.attributes;
        } else {
            f.gpt = side.gpt.has_value();
            f.otherScheme = side.otherScheme;
            f.layoutDiffers = side.layoutDiffers;
            f.attributes = side.gpt ? side.gpt->attributes : 0;
        }
        facts.push_back(std::move(f));
    }
    return facts;
}

RefusalRules Checker::Rules(const std::vector<RowFacts>& facts, const std::vector<std::string>& ids) const {
    return {[this, &facts, &ids](int row, const std::string& id) {
                const RowFacts& f = facts[row];
                if (RowStateRefuses(f, id)) return true;
                if (f.gpt) return MustRefuseGptChange(id, f.scannedId);
                const auto byte = ParseId(id);
                return !byte || MustRefuseIdChange(facts, ids, expected_, row, *byte);
            },
            [&facts](int row, uint64_t attributes) { return MustRefuseAttributes(facts[row], attributes); }};
}

void Checker::CheckUndo(const Session& session) {
    const auto& files = platform_->UndoFilesInMemory();
    const auto file = files.find(session.UndoFile());
    if (file == files.end()) {
        if (!SavedBeforeFirstWrite(platform_->Calls())) Fail("a write without an undo file");
        return;
    }
    for (std::string& violation : CheckUndoFileOfRun(file->second, platform_->Calls(), originals_, unit_))
        Fail(std::move(violation));
    RestoreStage stage = RestoreAfterRun(file->second, case_.undoEdits, inDrive_, atMark_, unit_,
                                         case_.windows.layoutAnswered, case_.dryRunRestore);
    for (std::string& violation : stage.violations) Fail(std::move(violation));
    outcome_.restoredDisks = stage.restoredDisks;
}

void Checker::CheckNames(Session& session) {
    std::map<char, std::vector<std::string>> stacks;
    // C: holds Windows where the case says so.
    if (const auto& on = case_.windows.windowsOn)
        stacks['C'].push_back("\\Device\\Harddisk" + std::to_string(on->first) + "\\Partition" +
                              std::to_string(on->second));
    for (const ForeignName& name : foreign_)
        if (!name.afterScan) stacks[name.letter].push_back(name.target);
    for (const TemporaryDriveName& name : ours_) {
        if (stacks.count(name.name[0])) Fail("a temporary name was put over someone else's");
        stacks[name.name[0]].push_back(name.target);
    }
    for (const ForeignName& name : foreign_)
        if (name.afterScan) stacks[name.letter].push_back(name.target);
    for (const TemporaryDriveName& name : ours_) {
        const bool kept =
            std::any_of(platform_->Calls().begin(), platform_->Calls().end(), [&](const CallRecord& c) {
                return c.call == PlatformCall::RemoveDosDevice && c.letter == name.name[0] && c.failed;
            });
        auto& stack = stacks[name.name[0]];
        const auto match = std::find(stack.rbegin(), stack.rend(), name.target);
        if (!kept && match != stack.rend()) stack.erase(std::next(match).base());
    }
    std::map<char, std::string> inForce;
    for (const auto& [letter, stack] : stacks)
        if (!stack.empty()) inForce[letter] = stack.back();
    if (platform_->DosDevices() != inForce) Fail("DOS names after the close are not the ones others defined");
    if (!session.TemporaryNames().empty()) Fail("the list of temporary names was not emptied");
    // Where Windows reads a drive otherwise, its partition devices may lie
    // elsewhere than the rows show.
    for (const TemporaryDriveName& name : ours_) {
        uint32_t drive = 0, number = 0;
        if (ScanForeseen() && ParseTarget(name.target, drive, number) && expected_.layoutDiffers.count(drive))
            Fail("a temporary letter points into disk " + std::to_string(drive) +
                 ", which Windows reads otherwise");
    }
}

SharedMemoryImage MaterializeImage(const FuzzImage& image) {
    auto memory = std::make_shared<MemoryImage>(image.size);
    for (const auto& [sector, bytes] : image.sectors) {
        const uint64_t position = sector * 512;
        if (position >= image.size) continue;
        const uint64_t room = image.size - position;
        memory->WriteAt(position, bytes.data(),
                        room < bytes.size() ? static_cast<size_t>(room) : bytes.size());
    }
    return memory;
}

FuzzOutcome RunFuzzCase(const FuzzCase& fuzzCase) {
    if (!fuzzCase.dryRun) return Checker(fuzzCase).Run();
    // Under /N the case runs twice: as given, and without /N, which must
    // write exactly what the first run planned.
    Checker dry(fuzzCase);
    FuzzOutcome outcome = dry.Run();
    FuzzCase real = fuzzCase;
    real.parameters.erase(real.parameters.begin());
    real.dryRun = false;
    const FuzzOutcome twin = Checker(real, dry.Plan() ? &*dry.Plan() : nullptr).Run();
    for (const std::string& violation : twin.violations)
        outcome.violations.push_back("without /N: " + violation);
    return outcome;
}

}  // namespace quorvane::fuzz
