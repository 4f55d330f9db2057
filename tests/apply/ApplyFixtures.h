// What the apply and command-line tests share: a disk made by sfdisk and
// mkfs.fat with primary, extended and logical partitions, a Shell that records
// what the window would do, a session run the way the program runs it, and
// whole-image comparisons that name every byte that changed.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/Session.h"
#include "platform/image/ImagePlatform.h"
#include "scan/PartitionRows.h"
#include "tests/support/DiskImages.h"
#include "tests/support/Faults.h"

namespace quorvane::test {

inline constexpr uint64_t Sector(uint64_t n) {
    return n * 512;
}
// The ID byte of MBR slot n, or of the first entry of an EBR.
inline constexpr uint64_t IdByte(uint64_t sectorNumber, int slot = 0) {
    return Sector(sectorNumber) + 0x1C2 + 16 * static_cast<uint64_t>(slot);
}

inline uint32_t Le(const std::vector<uint8_t>& bytes, uint64_t at, int width) {
    uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i) value = value << 8 | bytes.at(at + i);
    return value;
}

// The whole image in one read (ReadBytes goes byte by byte, which costs a
// quarter second for each 16 MiB image).
inline std::vector<uint8_t> ImageBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::vector<uint8_t> bytes(static_cast<size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

// 68 MiB: 1 FAT32 "BOOTONE" (0C), 2 empty (07), extended (05) holding
// 5 FAT32 "LOGIC" (0C) and 6 empty (07). As small as two FAT32 volumes can
// be: Windows takes a volume for FAT32 only from 65525 clusters on.
struct StandardDisk {
    static constexpr uint64_t FatSectors = 67584;
    static constexpr uint64_t P1 = 64, P2 = P1 + FatSectors, Extended = P2 + 256, P5 = Extended + 64,
                              P6 = P5 + FatSectors + 128;
    static constexpr uint64_t DiskSectors = P6 + 512 + 3072;
    // Where sfdisk put the EBRs, read from the chain itself.
    uint64_t ebr5 = 0, ebr6 = 0;
    std::string image;

    StandardDisk(const TempDir& dir, const std::string& name) {
        const auto part = [](uint64_t start, uint64_t size, const char* type) {
            return "start=" + std::to_string(start) + ", size=" + std::to_string(size) + ", type=" + type +
                   "\n";
        };
        image = MakeImage(dir, name, DiskSectors * 512,
                          part(P1, FatSectors, "c") + part(P2, 256, "7") +
                              part(Extended, DiskSectors - Extended, "5") + part(P5, FatSectors, "c") +
                              part(P6, 512, "7"));
        MakeFat32(image, P1, FatSectors, "BOOTONE");
        MakeFat32(image, P5, FatSectors, "LOGIC");
        const auto bytes = ImageBytes(image);
        ebr5 = Le(bytes, 0x1BE + 2 * 16 + 8, 4);                    // MBR slot 2: the container
        ebr6 = ebr5 + Le(bytes, Sector(ebr5) + 0x1BE + 16 + 8, 4);  // link in the EBR's second entry
        EXPECT_EQ(ebr5, Extended);
        EXPECT_EQ(Le(bytes, Sector(ebr6) + 0x1BE + 8, 4) + ebr6, P6);
    }
};

// Where the label field of a FAT32 boot sector and of its backup lie, and the
// first root-directory entry (where mkfs.fat puts the label entry, and where
// a new one goes on a fresh file system), all from the BPB of the image.
struct Fat32Places {
    uint64_t bootLabel = 0, backupLabel = 0, rootEntry = 0;
    explicit Fat32Places(const std::vector<uint8_t>& image, uint64_t startSector) {
        const uint64_t boot = Sector(startSector);
        bootLabel = boot + 0x47;
        backupLabel = boot + Sector(Le(image, boot + 0x32, 2)) + 0x47;
        const uint64_t fatStart = boot + Sector(Le(image, boot + 0x0E, 2));
        const uint64_t dataStart =
            fatStart + Sector(uint64_t{image.at(boot + 0x10)} * Le(image, boot + 0x24, 4));
        rootEntry = dataStart + (Le(image, boot + 0x2C, 4) - 2) * Sector(image.at(boot + 0x0D));
    }
};

inline std::vector<uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}
// A label as the 11-byte field holds it: blank-padded.
inline std::vector<uint8_t> LabelField(std::string label) {
    label.resize(11, ' ');
    return Bytes(label);
}

struct Patch {
    uint64_t offset = 0;
    std::vector<uint8_t> bytes;
};

inline std::string Describe(const std::vector<ByteChange>& changes) {
    std::string text;
    for (const ByteChange& change : changes) {
        char line[64];
        std::snprintf(line, sizeof line, "  at %llu: expected %02X, found %02X\n",
                      static_cast<unsigned long long>(change.offset), change.before, change.after);
        text += line;
    }
    return text;
}

// The image now equals `before` with exactly these patches: the intended bytes
// changed and no others.
inline void ExpectImage(const std::vector<uint8_t>& before, const std::string& image,
                        const std::vector<Patch>& patches) {
    std::vector<uint8_t> expected = before;
    for (const Patch& patch : patches)
        std::copy(patch.bytes.begin(), patch.bytes.end(), expected.begin() + patch.offset);
    const auto wrong = Diff(expected, ImageBytes(image));
    EXPECT_TRUE(wrong.empty()) << image << " differs from the intended bytes:\n" << Describe(wrong);
}

// fsck.fat -n on the partition, cut out with dd: exit 0 means the boot sector
// and its backup agree and the root-directory label matches the boot label.
inline CommandResult FsckPartition(const TempDir& dir, const std::string& image, uint64_t startSector,
                                   uint64_t sectors) {
    const std::string part = dir.File("partition.img");
    MustRun("dd if=" + Quote(image) + " of=" + Quote(part) + " bs=512 skip=" + std::to_string(startSector) +
            " count=" + std::to_string(sectors) + " status=none");
    return Run("fsck.fat -n " + Quote(part));
}

inline std::string FatlabelOfPartition(const TempDir& dir, const std::string& image, uint64_t startSector,
                                       uint64_t sectors) {
    const std::string part = dir.File("label.img");
    MustRun("dd if=" + Quote(image) + " of=" + Quote(part) + " bs=512 skip=" + std::to_string(startSector) +
            " count=" + std::to_string(sectors) + " status=none");
    std::string label = MustRun("fatlabel " + Quote(part) + " 2>/dev/null");
    while (!label.empty() && label.back() == '\n') label.pop_back();
    return label;
}


// What the window does, written down.
class RecordingShell : public Shell {
 public:
    void ShowHelp(const std::string& text) override { helpShown.push_back(text); }
    void RequestClose() override { ++closeRequests; }
    void ShowMainWindow() override { ++windowShown; }
    void SelectRow(int row) override { selected.push_back(row); }
    void SetWaitCursor(bool) override {}

    std::vector<std::string> helpShown;
    int closeRequests = 0;
    int windowShown = 0;
    std::vector<int> selected;
};

// One run of the program over image files: the start sequence, then every
// queued close request handled by the close path, as the message loop would.
struct ProgramRun {
    explicit ProgramRun(const std::vector<std::string>& images)
        : platform(images), session(platform, shell) {}

    int Command(const std::vector<std::string>& parameters) {
        session.Start(parameters);
        HandleCloses();
        return session.ExitCode();
    }
    // Window mode: the start sequence without parameters; the test then edits
    // cells as the window would and presses "确定" with Confirm.
    void OpenWindow() {
        session.Start({});
        scanCalls = platform.Calls().size();
    }
    int Confirm() {
        session.ApplyAndClose();
        HandleCloses();
        return session.ExitCode();
    }
    // Calls of one kind made after the start sequence of OpenWindow.
    std::vector<CallRecord> CallsSinceStart(PlatformCall call) const {
        std::vector<CallRecord> found;
        for (size_t i = scanCalls; i < platform.Calls().size(); ++i)
            if (platform.Calls()[i].call == call) found.push_back(platform.Calls()[i]);
        return found;
    }
    void HandleCloses() {
        for (; handledCloses < shell.closeRequests; ++handledCloses) session.OnClose();
    }
    PartitionRows& Rows() { return session.Rows(); }
    int Row(const std::string& disk, const std::string& partition) {
        for (int row = 0; row < Rows().Count(); ++row)
            if (Rows().Cell(row, ColumnDisk) == disk && Rows().Cell(row, ColumnPartition) == partition)
                return row;
        ADD_FAILURE() << "no row for disk " << disk << " partition " << partition;
        return -1;
    }
    ImagePlatform platform;
    RecordingShell shell;
    Session session;
    int handledCloses = 0;
    size_t scanCalls = 0;
};

}  // namespace quorvane::test
