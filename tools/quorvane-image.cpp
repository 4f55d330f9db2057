// quorvane-image: the program's logic over disk image files.
//   quorvane-image [--json] IMAGE...          lists the rows after the start sequence
//   quorvane-image [--undo-dir DIR] IMAGE... -- PARAM...
//                                             runs PARAM... as the program's own
//                                             command line, then the close path;
//                                             undo files go to DIR (by default
//                                             quorvane-undo/ beside the first image)
// Image k is physical drive k. Exit code: 0 all done, 1 a change did not reach
// the disk, 2 the command line asked for nothing valid (or bad usage).
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/RowsReport.h"
#include "app/Session.h"
#include "platform/image/ImageFile.h"
#include "platform/image/ImagePlatform.h"
#include "tools/Utf8.h"

using namespace quorvane;

namespace {

// A shell without a window: the help box is printed, close requests are queued
// for the loop that follows the start sequence.
class ToolShell : public Shell {
 public:
    void ShowHelp(const std::string& helpText) override {
        std::string text = GbkToUtf8(helpText);
        for (char& c : text)
            if (c == '\r') c = '\n';
        std::printf("%s\n", text.c_str());
    }
    void RequestClose() override { ++queuedCloses; }
    void ShowMainWindow() override {}
    void SelectRow(int) override {}
    void SetWaitCursor(bool) override {}

    int queuedCloses = 0;
};

int Usage() {
    std::fprintf(stderr,
                 "usage: quorvane-image [--json] IMAGE...\n"
                 "       quorvane-image [--undo-dir DIR] IMAGE... -- PARAM...\n"
                 "       --sector-size 4096: every image has 4096-byte logical sectors\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    bool json = false;
    bool command = false;
    std::string undoDir;
    uint32_t sectorSize = SectorSize;
    std::vector<std::string> images;
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (command)
            arguments.push_back(arg);
        else if (arg == "--")
            command = true;
        else if (arg == "--json")
            json = true;
        else if (arg == "--undo-dir" && i + 1 < argc)
            undoDir = argv[++i];
        else if (arg == "--sector-size" && i + 1 < argc)
            sectorSize = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        else if (arg.size() > 1 && arg[0] == '-')
            return Usage();
        else
            images.push_back(arg);
    }
    if (images.empty() || (json && command)) return Usage();
    for (const std::string& image : images)
        if (!ImageFile::Open(image, false))
            std::fprintf(stderr, "quorvane-image: cannot open %s: it gives no rows\n", image.c_str());

    // Parameters typed on Linux are UTF-8; the program's texts are code page
    // 936. Bytes that are not UTF-8 are passed as they are.
    for (std::string& argument : arguments) {
        try {
            argument = Utf8ToGbk(argument);
        } catch (const std::runtime_error&) {
        }
    }

    ImagePlatform platform(images);
    platform.SetSectorSize(sectorSize);
    // Undo files go beside the first image unless told otherwise.
    if (undoDir.empty())
        undoDir = (std::filesystem::absolute(images.front()).parent_path() / "quorvane-undo").string();
    platform.SetUndoFolder(undoDir);
    ToolShell shell;
    Session session(platform, shell);
    // The parameters take the way a Windows command line would give them.
    const std::vector<std::string> split = SplitCommandLine(JoinCommandLine("quorvane", arguments));
    const std::vector<std::string> parameters(split.begin() + 1, split.end());
    session.Start(parameters);

    if (parameters.empty()) {  // window mode: show the rows, then the user closes the window
        if (json)
            std::fputs(RowsJson(session.Rows(), GbkToUtf8).c_str(), stdout);
        else if (!command)
            std::fputs(GbkToUtf8(RowsTable(session.Rows())).c_str(), stdout);
        shell.RequestClose();
    }
    for (; shell.queuedCloses > 0; --shell.queuedCloses) session.OnClose();

    if (!session.UndoFile().empty()) std::printf("undo file: %s\n", session.UndoFile().c_str());
    for (const std::string& problem : session.RestoreProblems())
        std::fprintf(stderr, "quorvane-image: %s\n", GbkToUtf8(problem).c_str());
    for (const ChangeFailure& failure : session.Failures())
        std::fprintf(stderr, "quorvane-image: %s\n",
                     GbkToUtf8(DescribeFailure(session.Rows(), failure)).c_str());
    const ScanReport& scan = session.LastScan();
    if (!scan.diskCountRead) std::fprintf(stderr, "quorvane-image: the disk count could not be read\n");
    for (const uint32_t drive : scan.unreadDrives)
        std::fprintf(stderr, "quorvane-image: drive %u could not be read in full\n", drive);
    for (const uint32_t drive : scan.oddSectorDrives)
        std::fprintf(stderr, "quorvane-image: drive %u has a sector size other than 512 or 4096; skipped\n", drive);
    if (scan.drivesMissing)
        std::fprintf(stderr, "quorvane-image: %d of %d drives could not be opened\n",
                     scan.drivesCounted - scan.drivesOpened, scan.drivesCounted);
    if (scan.rowsFull)
        std::fprintf(stderr, "quorvane-image: more partitions than the list holds; the rest were left out\n");
    if (session.ExitCode() == ExitInvalidCommand)
        std::fprintf(stderr, "quorvane-image: the command line asks for nothing valid; nothing changed\n");
    return session.ExitCode();
}
