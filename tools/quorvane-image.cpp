// quorvane-image: the program's logic over disk image files.
//   quorvane-image [--json] IMAGE...          lists the rows after the start sequence
//   quorvane-image [--undo-dir DIR] IMAGE... -- PARAM...
//                                             runs PARAM... as the program's own
//                                             command line, then the close path;
//                                             undo files go to DIR (by default
//                                             quorvane-undo/ beside the first image)
//   What Windows shows beyond the images (D: the disk as the rows count it,
//   from 1; N: Windows' partition number, JSON "windows_partition"):
//     --in-use D:N          that partition's volume has open files: no lock
//     --windows-on D:N      it holds the Windows directory and the page file (C:)
//     --system-partition D:N  the firmware boots from it (HKLM\SYSTEM\Setup)
//     --unlocked D:N FILE   a BitLocker volume whose decrypted file system is FILE
//     --no-layout           Windows does not answer the layout IOCTL (Wine)
// Image k is physical drive k. Exit code: 0 all done, 1 a change did not reach
// the disk, 2 the command line asked for nothing valid (or bad usage).
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/ConsoleRun.h"
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

// Where the Windows program turns its code page 936 texts into UTF-16 for
// the system, the tool turns them into what Linux takes: a path is opened by
// its UTF-8 name, and text that is not GBK (a character 936 lacks) reaches
// neither a file name nor a label, as it reaches no W call on Windows.
class ToolPlatform : public ImagePlatform {
 public:
    using ImagePlatform::ImagePlatform;
    std::optional<std::vector<uint8_t>> ReadUndoFile(const std::string& path) override {
        const std::optional<std::string> name = StrictUtf8FromGbk(path);
        if (!name) return std::nullopt;
        return ImagePlatform::ReadUndoFile(*name);
    }
    // The program keeps the path in code page 936, as Windows hands it over.
    std::optional<std::string> SaveUndoFile(std::span<const uint8_t> content) override {
        std::optional<std::string> path = ImagePlatform::SaveUndoFile(content);
        if (path) *path = GbkFromUtf8(*path);
        return path;
    }
    bool SetVolumeLabel(char letter, const std::string& label) override {
        return StrictUtf8FromGbk(label) && ImagePlatform::SetVolumeLabel(letter, label);
    }
};

// "D:N": disk D (from 1, as the rows count disks) and Windows' partition N.
std::optional<std::pair<uint32_t, uint32_t>> DiskPartition(const char* text) {
    unsigned disk = 0, partition = 0;
    char end = 0;
    if (std::sscanf(text, "%u:%u%c", &disk, &partition, &end) != 2 || disk == 0) return std::nullopt;
    return std::pair<uint32_t, uint32_t>{disk - 1, partition};
}

int Usage() {
    std::fprintf(stderr,
                 "usage: quorvane-image [--json] IMAGE...\n"
                 "       quorvane-image [--undo-dir DIR] IMAGE... -- PARAM...\n"
                 "       --sector-size 4096: every image has 4096-byte logical sectors\n"
                 "       --in-use D:N, --windows-on D:N, --system-partition D:N, --unlocked D:N FILE,\n"
                 "       --no-layout: what Windows shows of the disks (D from 1)\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    bool json = false;
    bool command = false;
    std::string undoDir;
    uint32_t sectorSize = SectorSize;
    bool layoutAnswered = true;
    struct Mark {
        std::string option;
        std::pair<uint32_t, uint32_t> place;
        std::string file;
    };
    std::vector<Mark> marks;
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
        else if (arg == "--no-layout")
            layoutAnswered = false;
        else if ((arg == "--in-use" || arg == "--windows-on" || arg == "--system-partition") && i + 1 < argc) {
            const auto place = DiskPartition(argv[++i]);
            if (!place) return Usage();
            marks.push_back({arg, *place, {}});
        } else if (arg == "--unlocked" && i + 2 < argc) {
            const auto place = DiskPartition(argv[++i]);
            if (!place) return Usage();
            marks.push_back({arg, *place, argv[++i]});
        } else if (arg.size() > 1 && arg[0] == '-')
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
    for (std::string& argument : arguments) argument = GbkFromUtf8(argument);

    ToolPlatform platform(images);
    platform.SetSectorSize(sectorSize);
    platform.SetLayoutAnswered(layoutAnswered);
    for (const Mark& mark : marks) {
        const auto [drive, partition] = mark.place;
        if (mark.option == "--in-use")
            platform.SetVolumeInUse(drive, partition);
        else if (mark.option == "--windows-on")
            platform.SetWindowsOn(drive, partition);
        else if (mark.option == "--system-partition")
            platform.SetSystemPartition(drive, partition);
        else
            platform.SetUnlockedView(drive, partition, {mark.file, nullptr});
    }
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

    // The same lines as the console companion's, in UTF-8.
    const RunReport report = ReportRun(session);
    if (!json)
        for (const std::string& line : report.out) std::printf("%s\n", GbkToUtf8(line).c_str());
    if (!session.UndoFile().empty()) std::printf("undo file: %s\n", GbkToUtf8(session.UndoFile()).c_str());
    for (const std::string& line : report.err)
        std::fprintf(stderr, "quorvane-image: %s\n", GbkToUtf8(line).c_str());
    return session.ExitCode();
}
