// Runs one decoded case through the whole program (start sequence with "/F",
// apply pass, close path) on in-memory images and lists every broken promise:
// more rows than the tables hold, a byte changed that is not the ID byte of a
// row the command chose, a requested change that did not land without the
// exit code saying so, a temporary drive name left behind.
#pragma once

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/Session.h"
#include "fuzz/FuzzCase.h"
#include "platform/image/ImagePlatform.h"
#include "platform/image/MemoryImage.h"
#include "scan/PartitionRows.h"

namespace quorvane::fuzz {

class QuietShell : public Shell {
 public:
    void ShowHelp(const std::string&) override {}
    void RequestClose() override { ++closeRequests; }
    void ShowMainWindow() override { windowShown = true; }
    void SelectRow(int) override {}
    void SetWaitCursor(bool) override {}
    int closeRequests = 0;
    bool windowShown = false;
};

inline SharedMemoryImage MaterializeImage(const FuzzImage& image) {
    auto memory = std::make_shared<MemoryImage>(image.size);
    for (const auto& [sector, bytes] : image.sectors) {
        const uint64_t position = sector * ChunkSectorSize;
        if (position >= image.size) continue;
        const uint64_t room = image.size - position;
        memory->WriteAt(position, bytes.data(),
                        room < bytes.size() ? static_cast<size_t>(room) : bytes.size());
    }
    return memory;
}

inline std::string UpperAscii(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// What an ID text means as a byte: one or two hexadecimal digits, or nothing.
inline std::optional<uint8_t> IdByte(const std::string& text) {
    if (text.empty() || text.size() > 2) return std::nullopt;
    unsigned value = 0;
    for (const char c : text) {
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else
            return std::nullopt;
        value = value * 16 + digit;
    }
    return static_cast<uint8_t>(value);
}

struct FuzzOutcome {
    std::vector<std::string> violations;
    int rows = 0;
    int requestedRows = 0;
    int exitCode = 0;
};

inline FuzzOutcome RunFuzzCase(const FuzzCase& fuzzCase) {
    FuzzOutcome outcome;
    auto fail = [&outcome](std::string text) { outcome.violations.push_back(std::move(text)); };

    std::vector<SharedMemoryImage> originals;
    std::vector<ImageSource> sources;
    for (const FuzzImage& image : fuzzCase.images) {
        originals.push_back(MaterializeImage(image));
        sources.push_back({"", std::make_shared<MemoryImage>(*originals.back())});
    }
    ImagePlatform platform(sources);
    QuietShell shell;
    Session session(platform, shell);
    session.Start(fuzzCase.parameters);
    if (shell.closeRequests == 0) fail("a command line run did not request the close");
    if (shell.windowShown) fail("the window was shown for a command line run");
    session.OnClose();
    outcome.exitCode = session.ExitCode();

    const PartitionRows& rows = session.Rows();
    outcome.rows = rows.Count();
    if (rows.Count() > RowCapacity) fail("more rows than the tables hold: " + std::to_string(rows.Count()));
    std::set<int> mapped;
    for (const DeviceMapEntry& entry : rows.DeviceMap()) {
        if (!rows.Exists(entry.row) || !mapped.insert(entry.row).second)
            fail("DeviceMap names row " + std::to_string(entry.row) + " wrongly");
        else if (rows.Side(entry.row).drive != entry.drive)
            fail("DeviceMap drive differs from the row's drive");
    }
    for (int row = 0; row < rows.Count(); ++row)
        if (rows.Side(row).drive >= fuzzCase.images.size()) fail("a row on a drive that does not exist");

    // The rows "/F" chose: their scanned ID is ID1 (both upper-cased texts).
    const std::string from = UpperAscii(fuzzCase.parameters.at(1));
    const std::string to = UpperAscii(fuzzCase.parameters.at(2));
    const std::optional<uint8_t> newByte = IdByte(to);
    std::vector<std::set<uint64_t>> allowed(fuzzCase.images.size());
    std::vector<std::set<uint64_t>> allowedSectors(fuzzCase.images.size());
    bool allLanded = true;
    for (int row = 0; row < rows.Count(); ++row) {
        const RowSideEntries& side = rows.Side(row);
        if (side.scannedId != from || from == to || side.drive >= fuzzCase.images.size()) continue;
        ++outcome.requestedRows;
        const uint64_t position = side.entrySectorPosition + side.idByteOffset;
        allowed[side.drive].insert(position);
        allowedSectors[side.drive].insert(side.entrySectorPosition);
        // A sector that does not lie whole on the disk cannot be read and
        // written back, so its entry cannot change, not even to the byte it
        // already holds ("/F 05 5").
        const MemoryImage& image = *sources[side.drive].memory;
        const bool wholeSector = side.entrySectorPosition < image.Size() &&
                                 image.Size() - side.entrySectorPosition >= ChunkSectorSize;
        uint8_t now = 0;
        image.ReadAt(position, &now, 1);
        if (!newByte || !wholeSector || now != *newByte) allLanded = false;
    }
    // "/F" means every partition with ID1: when the scan could not list them
    // all (more entries than the rows hold), exit 1 says so even if every
    // listed one changed.
    const bool reported = !allLanded || !session.LastScan().Complete();
    if (outcome.exitCode != ExitDone && outcome.exitCode != ExitNotApplied)
        fail("exit code " + std::to_string(outcome.exitCode) + " for a valid /F");
    else if ((outcome.exitCode == ExitNotApplied) != reported)
        fail(reported ? "exit code 0 although a requested change did not land"
                      : "exit code 1 although every change landed and every disk was read");

    // Nothing but the chosen ID bytes may differ, and those only to the new ID:
    // put the old bytes back into the final image and compare it whole.
    for (size_t index = 0; index < sources.size(); ++index) {
        MemoryImage& image = *sources[index].memory;
        for (const uint64_t position : allowed[index]) {
            uint8_t before = 0, after = 0;
            originals[index]->ReadAt(position, &before, 1);
            image.ReadAt(position, &after, 1);
            if (after != before && (!newByte || after != *newByte))
                fail("an ID byte got a value that was not asked for");
            if (position < image.Size()) image.WriteAt(position, &before, 1);
        }
        if (!(image == *originals[index]))
            fail("image " + std::to_string(index) + " changed outside the chosen ID bytes");
    }
    // A sector goes back only to where a chosen row's entry lies.
    for (const CallRecord& call : platform.Calls()) {
        if (call.call != PlatformCall::Write) continue;
        if (call.drive < 0 || !allowedSectors[static_cast<size_t>(call.drive)].count(call.position))
            fail("a sector was written that holds no chosen ID byte");
    }

    if (!platform.DosDevices().empty()) fail("a temporary drive name was left defined");
    if (!session.TemporaryNames().empty()) fail("the list of temporary names was not emptied");
    return outcome;
}

}  // namespace quorvane::fuzz
