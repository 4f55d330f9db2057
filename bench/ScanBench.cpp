// quorvane-bench: the partition scan on the largest inputs its tables hold,
// side by side with `sfdisk --dump` over the same images.
//   (a) one disk whose extended partition chains 255 logical partitions
//       (hand-built: sfdisk writes at most 60 partitions);
//   (b) 26 disks of 9 logical partitions each (260 rows), made by sfdisk.
// For each reader: rows listed, wall time (median of several runs) and the
// reads it made; the scan's own reads come from the image platform's call
// log, a process's from strace (read calls on the image files).
//   quorvane-bench [RUNS]
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "app/Session.h"
#include "platform/image/ImagePlatform.h"
#include "scan/DiskFormat.h"
#include "scan/PartitionRows.h"
#include "scan/ScanDisks.h"

using namespace quorvane;
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// --- running programs -------------------------------------------------------

struct Output {
    int status = -1;
    std::string out;
};

// Runs `argv` with standard output caught (standard error dropped).
Output RunProgram(const std::vector<std::string>& argv) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDERR_FILENO);
        close(pipeFds[0]);
        close(pipeFds[1]);
        std::vector<char*> args;
        for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(pipeFds[1]);
    Output result;
    char buffer[65536];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) result.out.append(buffer, n);
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

void MustRun(const std::vector<std::string>& argv) {
    if (RunProgram(argv).status != 0) {
        std::fprintf(stderr, "quorvane-bench: %s failed\n", argv[0].c_str());
        std::exit(1);
    }
}

// --- images -----------------------------------------------------------------

void PutEntry(std::fstream& image, uint64_t sector, int slot, uint8_t type, uint32_t first, uint32_t count) {
    uint8_t entry[PartitionEntrySize] = {};
    entry[EntryType] = type;
    for (int i = 0; i < 4; ++i) {
        entry[EntryFirstSector + i] = static_cast<uint8_t>(first >> (8 * i));
        entry[EntrySectorCount + i] = static_cast<uint8_t>(count >> (8 * i));
    }
    image.seekp(
        static_cast<std::streamoff>(sector * SectorSize + PartitionTableOffset + PartitionEntrySize * slot));
    image.write(reinterpret_cast<const char*>(entry), sizeof entry);
    image.seekp(static_cast<std::streamoff>(sector * SectorSize + 510));
    image.write("\x55\xAA", 2);
}

// A 0x0F container from sector 2048 whose chain holds `logicals` partitions of
// 1 MiB, each 1 MiB behind its own EBR. Links count from the first EBR.
std::string MakeLongChain(const fs::path& dir, uint32_t logicals) {
    const std::string path = (dir / "chain.img").string();
    constexpr uint32_t Base = 2048, Step = 4096;
    std::ofstream(path, std::ios::binary).close();
    fs::resize_file(path, (uint64_t{Base} + uint64_t{Step} * logicals + 2048) * SectorSize);
    std::fstream image(path, std::ios::binary | std::ios::in | std::ios::out);
    PutEntry(image, 0, 0, 0x0F, Base, Step * logicals);
    for (uint32_t k = 0; k < logicals; ++k) {
        const uint64_t ebr = Base + uint64_t{Step} * k;
        PutEntry(image, ebr, 0, 0x83, 2048, 2048);
        const bool last = k + 1 == logicals;
        PutEntry(image, ebr, 1, 0x05, last ? 0 : Step * (k + 1), last ? 0 : Step);
    }
    return path;
}

// `count` disks, each a 0x0F container with `logicals` partitions, by sfdisk.
std::vector<std::string> MakeSfdiskDisks(const fs::path& dir, int count, int logicals) {
    std::string script =
        "label: dos\nunit: sectors\np1 : start=2048, size=" + std::to_string(logicals * 4096) + ", type=f\n";
    for (int k = 0; k < logicals; ++k)
        script += "p" + std::to_string(5 + k) + " : start=" + std::to_string(4096 + 4096 * k) +
                  ", size=2048, type=83\n";
    const std::string scriptPath = (dir / "disk.sfdisk").string();
    std::ofstream(scriptPath) << script;
    std::vector<std::string> paths;
    for (int d = 0; d < count; ++d) {
        char name[32];
        std::snprintf(name, sizeof name, "disk%02d.img", d);
        const std::string path = (dir / name).string();
        std::ofstream(path, std::ios::binary).close();
        fs::resize_file(path, uint64_t{32} << 20);
        MustRun({"/bin/sh", "-c",
                 "sfdisk --no-reread --no-tell-kernel -q '" + path + "' < '" + scriptPath + "'"});
        paths.push_back(path);
    }
    return paths;
}

// --- measuring --------------------------------------------------------------

struct Measure {
    std::string reader;
    int rows = 0;
    double milliseconds = 0;
    uint64_t reads = 0;
    uint64_t bytes = 0;  // 0: reads are whole sectors
};

double MedianMilliseconds(int runs, const std::function<void()>& work) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

Measure ScanInProcess(const std::vector<std::string>& images, int runs) {
    Measure measure{"ScanDisks, in-process"};
    measure.milliseconds = MedianMilliseconds(runs, [&] {
        ImagePlatform platform(images);
        PartitionRows rows;
        ScanDisks(platform, rows);
        measure.rows = rows.Count();
        measure.reads = platform.CountCalls(PlatformCall::Read);
    });
    return measure;
}

// The start sequence without a window: scan, temporary letters for the
// partitions without one, scan again. Its reads are those that pass the
// platform seam, as they would reach the disks on Windows.
class NoWindow : public Shell {
 public:
    void ShowHelp(const std::string&) override {}
    void RequestClose() override {}
    void ShowMainWindow() override {}
    void SelectRow(int) override {}
    void SetWaitCursor(bool) override {}
};

Measure StartInProcess(const std::vector<std::string>& images, int runs) {
    Measure measure{"start sequence, in-process"};
    measure.milliseconds = MedianMilliseconds(runs, [&] {
        ImagePlatform platform(images);
        NoWindow shell;
        Session session(platform, shell);
        session.Start({});
        session.OnClose();
        measure.rows = session.Rows().Count();
        measure.reads = platform.CountCalls(PlatformCall::Read);
    });
    return measure;
}

// read() calls, and bytes, on the image files, as strace shows a run of `argv`.
void CountImageReads(const std::vector<std::string>& argv, const fs::path& dir, Measure& measure) {
    const std::string log = (dir / "strace.log").string();
    std::vector<std::string> traced{"strace", "-f", "-qq", "-y",
                                    "-o",     log,  "-e",  "trace=read,pread64,readv,preadv,preadv2"};
    traced.insert(traced.end(), argv.begin(), argv.end());
    RunProgram(traced);
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) {
        if (line.find(".img>") == std::string::npos) continue;
        ++measure.reads;
        const size_t equals = line.rfind("= ");
        if (equals != std::string::npos)
            measure.bytes += std::strtoull(line.c_str() + equals + 2, nullptr, 10);
    }
}

int CountLines(const std::string& text, const std::string& containing) {
    int lines = 0;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines += line.find(containing) != std::string::npos;
    return lines;
}

// `sfdisk --dump` once per image, as a user would list several disks.
Measure SfdiskDump(const std::vector<std::string>& images, const fs::path& dir, int runs) {
    Measure measure{"sfdisk --dump"};
    for (const std::string& image : images) {
        measure.rows += CountLines(RunProgram({"sfdisk", "--dump", image}).out, "start=");
        CountImageReads({"sfdisk", "--dump", image}, dir, measure);
    }
    measure.milliseconds = MedianMilliseconds(runs, [&] {
        for (const std::string& image : images) RunProgram({"sfdisk", "--dump", image});
    });
    return measure;
}

// The image tool as a whole: the program's start sequence (two scans, the
// temporary letters, labels and free space), then the listing.
Measure ImageToolProcess(const std::vector<std::string>& images, const fs::path& dir, int runs) {
    Measure measure{"quorvane-image, whole process"};
    std::vector<std::string> argv{QUORVANE_IMAGE_TOOL};
    argv.insert(argv.end(), images.begin(), images.end());
    measure.rows = CountLines(RunProgram(argv).out, "\t") - 1;  // less the header line
    CountImageReads(argv, dir, measure);
    measure.milliseconds = MedianMilliseconds(runs, [&] { RunProgram(argv); });
    return measure;
}

// --- report -----------------------------------------------------------------

void PrintInput(const std::string& input, uint64_t minimumReads, const std::vector<Measure>& measures) {
    const auto sfdisk = std::find_if(measures.begin(), measures.end(),
                                     [](const Measure& m) { return m.reader == "sfdisk --dump"; });
    std::printf("\n%s\n  minimum sector reads (MBR + one per EBR): %llu\n", input.c_str(),
                static_cast<unsigned long long>(minimumReads));
    std::printf("  %-31s %5s %10s %7s %10s %10s %10s\n", "reader", "rows", "wall ms", "reads", "bytes",
                "time/sfd", "reads/sfd");
    for (const Measure& m : measures) {
        const std::string bytes = m.bytes ? std::to_string(m.bytes) : std::to_string(m.reads * SectorSize);
        std::printf("  %-31s %5d %10.3f %7llu %10s %10.3f %10.3f\n", m.reader.c_str(), m.rows, m.milliseconds,
                    static_cast<unsigned long long>(m.reads), bytes.c_str(),
                    m.milliseconds / sfdisk->milliseconds,
                    static_cast<double>(m.reads) / static_cast<double>(sfdisk->reads));
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 21;
    std::string pattern = (fs::temp_directory_path() / "quorvane-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return 1;
    const fs::path dir = pattern;

    const std::vector<std::string> chain{MakeLongChain(dir, 255)};
    const std::vector<std::string> disks = MakeSfdiskDisks(dir, 26, 9);

    std::printf(
        "Partition scan benchmark: median of %d runs; in-process reads are 512-byte sector reads\n"
        "from the image platform's call log, process reads are read() calls on the image files\n"
        "(strace). Ratios are against sfdisk --dump.\n",
        runs);
    PrintInput("(a) 1 image, extended partition with 255 logical partitions (hand-built chain)", 1 + 255,
               {ScanInProcess(chain, runs), StartInProcess(chain, runs), SfdiskDump(chain, dir, runs),
                ImageToolProcess(chain, dir, runs)});
    PrintInput("(b) 26 images, 9 logical partitions each (sfdisk), 260 rows", 26 * (1 + 9),
               {ScanInProcess(disks, runs), StartInProcess(disks, runs), SfdiskDump(disks, dir, runs),
                ImageToolProcess(disks, dir, runs)});

    const Output dump = RunProgram({"sfdisk", "--dump", chain[0]});
    std::string warning =
        RunProgram({"/bin/sh", "-c", "sfdisk --dump '" + chain[0] + "' 2>&1 >/dev/null"}).out;
    while (!warning.empty() && warning.back() == '\n') warning.pop_back();
    std::printf("\nsfdisk --dump of (a) lists %d entries (the container and its logicals) and says: %s\n",
                CountLines(dump.out, "start="), warning.c_str());
    fs::remove_all(dir);
    return 0;
}
