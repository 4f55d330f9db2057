// Every platform call of a whole run made to fail, one at a time. Two disks made
// by sfdisk and mkfs.fat (primaries, a 0x0F chain, FAT32 in a primary and in a
// logical); a fault-free run counts the calls N and yields the intended bytes;
// then for k = 1..N a run on fresh copies fails call k. Each run may change
// only a subset of the intended bytes (a label sector whole or not at all),
// must leave no temporary drive name behind, and exits with 1 exactly when a
// change it was asked for did not land, or (for /F and /S, which mean every
// partition with an ID) when its scan could not read every disk.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

#include "app/Session.h"
#include "fuzz/FuzzRun.h"
#include "platform/image/ImagePlatform.h"
#include "platform/image/ImageVolumes.h"
#include "tests/reliability/ReliabilitySupport.h"
#include "tests/support/DiskImages.h"

namespace quorvane::test {
namespace {

// Where a row's partition-table entry lies: a run whose scan saw that entry
// (whatever it read there) was asked for the change when the row is pending.
struct RowKey {
    uint32_t drive = 0;
    uint64_t entrySector = 0;
    uint32_t idOffset = 0;
    auto operator<=>(const RowKey&) const = default;
};

struct PendingRow {
    bool id = false;
    bool label = false;
};

struct RunResult {
    std::vector<SharedMemoryImage> images;
    std::vector<CallRecord> calls;
    std::map<char, std::string> dosDevices;
    std::map<RowKey, PendingRow> pending;
    std::map<RowKey, int> partitionNumbers;
    std::string failures;  // as the program names them
    int exitCode = 0;
    bool scanComplete = true;
};

struct Scenario {
    std::string name;
    std::vector<std::string> parameters;  // empty: window mode, cells edited by `edit`
    std::function<void(PartitionRows&)> edit;
};

void EditRow(PartitionRows& rows, const std::string& disk, const std::string& partition, int column,
             const std::string& text) {
    for (int row = 0; row < rows.Count(); ++row)
        if (rows.Cell(row, ColumnDisk) == disk && rows.Cell(row, ColumnPartition) == partition) {
            rows.SetCell(row, column, text);
            return;
        }
}

RunResult RunOnce(const std::vector<SharedMemoryImage>& originals, const Scenario& scenario,
                  uint64_t failCall) {
    RunResult result;
    std::vector<ImageSource> sources;
    for (const SharedMemoryImage& image : originals) {
        result.images.push_back(CopyImage(image));
        sources.push_back({"", result.images.back()});
    }
    ImagePlatform platform(sources);
    if (failCall != 0) platform.FailCallNumber(failCall);
    fuzz::QuietShell shell;
    Session session(platform, shell);
    {
        Deadline deadline(10, scenario.name + " with call " + std::to_string(failCall) + " failing");
        session.Start(scenario.parameters);
        if (scenario.parameters.empty()) {
            scenario.edit(session.Rows());
            session.ApplyAndClose();
        }
        session.OnClose();
    }
    const PartitionRows& rows = session.Rows();
    for (int row = 0; row < rows.Count(); ++row) {
        const RowSideEntries& side = rows.Side(row);
        const RowKey key{side.drive, side.entrySectorPosition, side.idByteOffset};
        if (rows.HasPendingIdChange(row) || rows.HasPendingLabelChange(row))
            result.pending[key] = {rows.HasPendingIdChange(row), rows.HasPendingLabelChange(row)};
        for (const DeviceMapEntry& entry : rows.DeviceMap())
            if (entry.row == row) result.partitionNumbers[key] = static_cast<int>(entry.partition);
    }
    result.calls = platform.Calls();
    result.dosDevices = platform.DosDevices();
    result.exitCode = session.ExitCode();
    result.scanComplete = session.LastScan().Complete();
    for (const ChangeFailure& failure : session.Failures())
        result.failures += "[row " + std::to_string(failure.row) + " disk " +
                           rows.Cell(failure.row, ColumnDisk) + " partition " +
                           rows.Cell(failure.row, ColumnPartition) + " cause " +
                           std::to_string(static_cast<int>(failure.cause)) + "]";
    return result;
}

// The intended bytes of one image and which pending row each belongs to.
struct IntendedChange {
    uint64_t position = 0;
    uint8_t before = 0;
    uint8_t after = 0;
    RowKey owner;
    bool idByte = false;
};

class FaultMatrix {
 public:
    FaultMatrix(std::vector<SharedMemoryImage> originals, Scenario scenario)
        : originals_(std::move(originals)), scenario_(std::move(scenario)) {}

    // The fault-free run: what the scenario changes, and how many calls it makes.
    void Learn() {
        clean_ = RunOnce(originals_, scenario_, 0);
        ASSERT_EQ(clean_.exitCode, ExitDone) << scenario_.name;
        ASSERT_TRUE(clean_.dosDevices.empty());
        intended_.resize(originals_.size());
        for (size_t disk = 0; disk < originals_.size(); ++disk)
            for (const uint64_t position : DifferingBytes(*originals_[disk], *clean_.images[disk]))
                intended_[disk].push_back(Attribute(disk, position));
    }

    size_t CallCount() const { return clean_.calls.size(); }
    const CallRecord& Call(uint64_t k) const { return clean_.calls.at(k - 1); }
    size_t IntendedBytes() const {
        size_t count = 0;
        for (const auto& changes : intended_) count += changes.size();
        return count;
    }
    size_t IntendedIdBytes() const {
        size_t count = 0;
        for (const auto& changes : intended_)
            for (const IntendedChange& change : changes) count += change.idByte;
        return count;
    }

    // Fails call k and checks the run; returns whether exit 1 came only from a
    // scan that could not read every disk, with every intended byte in place.
    bool Check(uint64_t k) {
        const RunResult run = RunOnce(originals_, scenario_, k);
        const CallRecord& faulted = clean_.calls.at(k - 1);
        const std::string what = scenario_.name + ", call " + std::to_string(k) + " (" +
                                 PlatformCallName(faulted.call) + ") failing";
        std::set<RowKey> undone;
        bool anyUndone = false;
        for (size_t disk = 0; disk < originals_.size(); ++disk) {
            const MemoryImage& after = *run.images[disk];
            MemoryImage restored(after);
            std::map<uint64_t, std::set<bool>> labelSectors;  // sector: written or not, per byte
            for (const IntendedChange& change : intended_[disk]) {
                const uint8_t now = ByteAt(after, change.position);
                if (now != change.before && now != change.after)
                    ADD_FAILURE() << what << ": byte " << change.position << " of disk " << disk << " is "
                                  << int(now);
                if (now != change.after) {
                    undone.insert(change.owner);
                    anyUndone = true;
                }
                if (!change.idByte) labelSectors[change.position / 512].insert(now == change.after);
                restored.WriteAt(change.position, &change.before, 1);
            }
            EXPECT_TRUE(restored == *originals_[disk])
                << what << ": disk " << disk << " changed outside the intended bytes";
            for (const auto& [sector, states] : labelSectors)
                EXPECT_EQ(states.size(), 1u)
                    << what << ": label sector " << sector << " of disk " << disk << " half written";
        }

        // Only a name whose removal was the failed call may stay defined.
        for (const auto& [letter, target] : run.dosDevices)
            EXPECT_TRUE(faulted.call == PlatformCall::RemoveDosDevice && faulted.letter == letter)
                << what << ": " << letter << ": stays defined as " << target;

        // /F and /S ask for every partition with an ID: a change left undone,
        // or a disk the scan could not read, is reported.
        if (!scenario_.parameters.empty()) {
            const bool reported = anyUndone || !run.scanComplete;
            EXPECT_EQ(run.exitCode, reported ? ExitNotApplied : ExitDone)
                << what << "; failures " << run.failures;
            return !anyUndone && !run.scanComplete;
        }
        // In the window: a change the fault-free run made to a row this run
        // also saw with the same change pending (a row it did not see could not
        // be edited).
        bool askedUndone = false;
        for (const RowKey& owner : undone) {
            const auto mine = run.pending.find(owner);
            const auto clean = clean_.pending.find(owner);
            if (mine != run.pending.end() && clean != clean_.pending.end() &&
                mine->second.id == clean->second.id && mine->second.label == clean->second.label)
                askedUndone = true;
        }
        EXPECT_EQ(run.exitCode, askedUndone ? ExitNotApplied : ExitDone)
            << what << "; failures " << run.failures;
        return false;
    }

 private:
    IntendedChange Attribute(size_t disk, uint64_t position) {
        IntendedChange change{
            position, ByteAt(*originals_[disk], position), ByteAt(*clean_.images[disk], position), {}, false};
        for (const auto& [key, pending] : clean_.pending) {
            if (key.drive != disk) continue;
            if (pending.id && key.entrySector + key.idOffset == position) {
                change.owner = key;
                change.idByte = true;
                return change;
            }
            if (pending.label && InPartition(key, position)) {
                change.owner = key;
                return change;
            }
        }
        ADD_FAILURE() << scenario_.name << ": byte " << position << " of disk " << disk
                      << " belongs to no change";
        return change;
    }

    bool InPartition(const RowKey& key, uint64_t position) {
        auto file = ImageFile::Open(ImageSource{"", originals_[key.drive]}, false);
        const auto number = clean_.partitionNumbers.find(key);
        if (!file || number == clean_.partitionNumbers.end()) return false;
        const auto extent = FindWindowsPartition(*file, static_cast<uint32_t>(number->second), SectorSize);
        return extent && position >= extent->offset && position - extent->offset < extent->length;
    }

    std::vector<SharedMemoryImage> originals_;
    Scenario scenario_;
    RunResult clean_;
    std::vector<std::vector<IntendedChange>> intended_;
};

// Disk 1: an active Linux primary, a 0x0F container with a Linux, a FAT32 and
// an NTFS logical. Disk 2: a FAT32 primary and a Linux primary.
std::vector<SharedMemoryImage> MakeDisks(const TempDir& dir) {
    const std::string first = MakeImage(dir, "first.img", 64 << 20,
                                        "first.img1 : start=2048, size=8192, type=83, bootable\n"
                                        "first.img2 : start=10240, size=110000, type=f\n"
                                        "first.img5 : start=10241, size=4096, type=83\n"
                                        "first.img6 : start=14339, size=70000, type=c\n"
                                        "first.img7 : start=84341, size=4095, type=7\n");
    MakeFat32(first, 14339, 70000, "LOGICAL");
    const std::string second = MakeImage(dir, "second.img", 40 << 20,
                                         "start=2048, size=70000, type=c\n"
                                         "start=73728, size=4096, type=83\n");
    MakeFat32(second, 2048, 70000, "PRIMARY");
    return {LoadMemoryImage(first), LoadMemoryImage(second)};
}

TEST(FaultMatrix, EveryFailedCallChangesOnlyIntendedBytesAndIsReported) {
    TempDir dir;
    const std::vector<SharedMemoryImage> disks = MakeDisks(dir);
    const std::vector<Scenario> scenarios = {
        {"/F 83 8E", {"/F", "83", "8E"}, {}},
        {"/S 0C NEWLABEL", {"/S", "0C", "NEWLABEL"}, {}},
        {"window: ID of disk 1 partition 4 to 17, label of disk 2 partition 1",
         {},
         [](PartitionRows& rows) {
             EditRow(rows, "1", "4", ColumnId, "17");
             EditRow(rows, "2", "1", ColumnLabel, "WINDOW");
         }},
    };
    // Intended bytes of each scenario: ID bytes, and label bytes (boot sector,
    // its backup and the root directory entry of each FAT32 volume).
    const std::vector<std::pair<size_t, bool>> shapes = {{3, false}, {0, true}, {1, true}};
    size_t runs = 0, unreadOnly = 0;
    std::map<std::string, std::pair<int, std::string>> unreadBy;  // call kind: count, first example
    for (size_t s = 0; s < scenarios.size(); ++s) {
        FaultMatrix matrix(disks, scenarios[s]);
        matrix.Learn();
        if (HasFatalFailure()) return;
        EXPECT_EQ(matrix.IntendedIdBytes(), shapes[s].first) << scenarios[s].name;
        EXPECT_EQ(matrix.IntendedBytes() > matrix.IntendedIdBytes(), shapes[s].second) << scenarios[s].name;
        for (uint64_t k = 1; k <= matrix.CallCount(); ++k, ++runs)
            if (matrix.Check(k)) {
                ++unreadOnly;
                const CallRecord& call = matrix.Call(k);
                auto& [count, example] = unreadBy[PlatformCallName(call.call)];
                if (count++ == 0)
                    example = scenarios[s].name + ", call " + std::to_string(k) + " on drive " +
                              std::to_string(call.drive) + " at byte " + std::to_string(call.position);
            }
        std::printf("fault matrix: %s: %zu calls, %zu intended bytes\n", scenarios[s].name.c_str(),
                    matrix.CallCount(), matrix.IntendedBytes());
    }
    std::printf(
        "fault matrix: %zu runs; in %zu of them every intended byte landed and exit 1 says a disk "
        "could not be read\n",
        runs, unreadOnly);
    for (const auto& [call, seen] : unreadBy)
        std::printf("  unread after a failed %s: %d runs, e.g. %s\n", call.c_str(), seen.first,
                    seen.second.c_str());
}

}  // namespace
}  // namespace quorvane::test
