// GPT changes as the checker judges them: a type, attributes or both, in
// the primary and the backup entry array alike, with every CRC right.
#include "fuzz/Checker.h"

namespace quorvane::fuzz {

namespace {

// The GPT attributes field of an entry, at byte 48.
constexpr uint64_t AttributesAt = 48;

uint64_t Le64(const uint8_t* p) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = value << 8 | p[i];
    return value;
}

}  // namespace

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
        places.ranges.push_back({entry, 16});                  // type GUID
        places.ranges.push_back({entry + 48, 8});              // attributes
        places.ranges.push_back({copy->lba * unit_ + 16, 4});  // header CRC
        places.ranges.push_back({copy->lba * unit_ + 88, 4});  // array CRC
    }
    places.primary = std::move(*primary);
    places.backup = std::move(*backup);
    return places;
}

bool Checker::SharesLabelSector(const std::optional<GptPlaces>& places, uint32_t drive,
                                const std::map<uint32_t, std::map<uint64_t, int>>& labelSectors) const {
    return places && labelSectors.count(drive) &&
           std::any_of(places->sectors.begin(), places->sectors.end(),
                       [&](uint64_t p) { return labelSectors.at(drive).count(p / unit_) > 0; });
}

Change Checker::DueOfGptChange(const std::vector<RowFacts>& facts, int row,
                               const std::map<uint32_t, std::map<uint64_t, int>>& labelSectors) const {
    const RowFacts& f = facts[row];
    Change change{row, false, Due::Either, false};
    const std::string id = UpperGbk(meaning_.ids[row]);
    const uint64_t attributes = meaning_.attributes[row];
    const bool idChanged = meaning_.ids[row] != f.scannedId, attributesChanged = attributes != f.attributes;
    // The program asks the type's rules where the cell differs from the
    // scan, the attributes' where they do; either refuses the row.
    const bool rule =
        (idChanged && (RowStateRefuses(f, meaning_.ids[row]) || MustRefuseGptChange(id, f.scannedId))) ||
        (attributesChanged && MustRefuseAttributes(f, attributes));
    const auto places = PlacesOfGptRow(f);
    const bool present = f.drive < inDrive_.size() && !removed_.count(f.drive);
    const bool shared = SharesLabelSector(places, f.drive, labelSectors);
    if (places) {
        // What the entry gets: the code's type and the attributes asked for.
        const uint8_t* now =
            places->primary.array.data() + uint64_t{places->index} * places->primary.entrySize;
        const KnownGptType* known = KnownGptTypeOfCode(id);
        const GuidBytes type = known ? GuidOnDisk(known->guid) : GuidBytes{};
        change.writes =
            (known && !std::equal(type.begin(), type.end(), now)) || Le64(now + AttributesAt) != attributes;
    }
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
    change.planned = change.due;
    return change;
}

void Checker::CheckGptChange(const std::vector<RowFacts>& facts, Change& change,
                             const std::map<uint32_t, std::map<uint64_t, int>>& labelSectors,
                             std::map<uint32_t, std::vector<std::pair<uint64_t, size_t>>>& allowedRanges) {
    const RowFacts& f = facts[change.row];
    const auto places = PlacesOfGptRow(f);
    if (!places) return;
    const bool shared = SharesLabelSector(places, f.drive, labelSectors);
    if (change.due != Due::Refuse) {
        allowedRanges[f.drive].insert(allowedRanges[f.drive].end(), places->ranges.begin(),
                                      places->ranges.end());
        gptChanged_[f.drive] = gptChanged_.count(f.drive) ? gptChanged_[f.drive] && !shared : !shared;
    }
    const bool present = f.drive < inDrive_.size() && !removed_.count(f.drive);
    const std::string id = UpperGbk(meaning_.ids[change.row]);
    const KnownGptType* known = KnownGptTypeOfCode(id);
    const bool idChanged = meaning_.ids[change.row] != f.scannedId;
    if ((idChanged && !known) || !present || shared) return;
    const uint64_t attributes = meaning_.attributes[change.row];
    change.landed = true;
    for (const GptView* copy : {&places->backup, &places->primary}) {
        std::array<uint8_t, 56> before{}, after{};
        const uint64_t entry = copy->EntryPosition(places->index, unit_);
        atMark_[f.drive]->ReadAt(entry, before.data(), before.size());
        inDrive_[f.drive]->ReadAt(entry, after.data(), after.size());
        // The type as asked, or as it was where only the attributes change.
        GuidBytes type{};
        if (known)
            type = GuidOnDisk(known->guid);
        else
            std::copy_n(before.begin(), 16, type.begin());
        const bool typeNow = std::equal(type.begin(), type.end(), after.begin());
        const bool typeMoved = !std::equal(before.begin(), before.begin() + 16, after.begin());
        const bool attributesNow = Le64(&after[AttributesAt]) == attributes;
        const bool attributesMoved = Le64(&after[AttributesAt]) != Le64(&before[AttributesAt]);
        change.landed = change.landed && typeNow && attributesNow;
        if ((typeMoved && !typeNow) || (attributesMoved && !attributesNow))
            Fail("row " + std::to_string(change.row) +
                 ": a GPT entry got a type or attributes not asked for");
        if ((typeMoved || attributesMoved) && change.due == Due::Refuse)
            Fail("row " + std::to_string(change.row) + ": a refused GPT change was written");
    }
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

}  // namespace quorvane::fuzz
