#include "tests/support/DiskImages.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace quorvane::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "quorvane-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

CommandResult Run(const std::string& command) {
    // Standard error goes through a file so both streams can be read in full.
    char errPath[] = "/tmp/quorvane-stderr-XXXXXX";
    const int errFd = mkstemp(errPath);
    if (errFd < 0) throw std::runtime_error("mkstemp failed");
    close(errFd);
    CommandResult result;
    FILE* pipe = popen((command + " 2>" + errPath).c_str(), "r");
    if (!pipe) throw std::runtime_error("cannot run " + command);
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) result.out.append(buffer.data(), n);
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream err(errPath, std::ios::binary);
    result.err.assign(std::istreambuf_iterator<char>(err), {});
    unlink(errPath);
    return result;
}

std::string MustRun(const std::string& command) {
    const CommandResult result = Run(command);
    if (result.exitCode != 0)
        throw std::runtime_error(command + " failed (" + std::to_string(result.exitCode) +
                                 "): " + result.err);
    return result.out;
}

std::optional<std::string> SgdiskVerify(const std::string& image, uint32_t sectorSize) {
    const CommandResult loop =
        Run("losetup --find --show --sector-size " + std::to_string(sectorSize) + " " + Quote(image) + " 2>/dev/null");
    if (loop.exitCode != 0 || loop.out.empty()) return std::nullopt;
    const std::string device = loop.out.substr(0, loop.out.find('\n'));
    const CommandResult verify = Run("sgdisk -v " + Quote(device) + " 2>&1");
    Run("losetup -d " + Quote(device));
    return verify.out;
}

std::string MakeBlankImage(const TempDir& dir, const std::string& name, uint64_t bytes) {
    const std::string path = dir.File(name);
    std::ofstream(path, std::ios::binary).close();
    fs::resize_file(path, bytes);
    return path;
}

namespace {
std::string MakeLabelledImage(const TempDir& dir, const std::string& name, uint64_t bytes, const std::string& label,
                              const std::string& script) {
    const std::string path = MakeBlankImage(dir, name, bytes);
    const std::string input = dir.File(name + ".sfdisk");
    std::ofstream(input) << "label: " << label << "\nunit: sectors\n" << script << "\n";
    MustRun("sfdisk --no-reread --no-tell-kernel -q " + Quote(path) + " < " + Quote(input));
    return path;
}
}  // namespace

std::string MakeImage(const TempDir& dir, const std::string& name, uint64_t bytes, const std::string& script) {
    return MakeLabelledImage(dir, name, bytes, "dos", script);
}

std::string MakeFdiskImage(const TempDir& dir, const std::string& name, uint64_t bytes, uint32_t sectorSize,
                           const std::string& keys) {
    const std::string path = MakeBlankImage(dir, name, bytes);
    const std::string input = dir.File(name + ".fdisk");
    std::ofstream(input) << keys;
    MustRun("fdisk -b " + std::to_string(sectorSize) + " " + Quote(path) + " < " + Quote(input) + " >/dev/null 2>&1");
    return path;
}

std::string MakeGptImage(const TempDir& dir, const std::string& name, uint64_t bytes, const std::string& script) {
    return MakeLabelledImage(dir, name, bytes, "gpt", script);
}

void MakeFat32(const std::string& image, uint64_t startSector, uint64_t sectors, const std::string& label) {
    std::string command = "mkfs.fat -F 32 -s 1 --offset " + std::to_string(startSector) + " ";
    if (!label.empty()) command += "-n " + Quote(label) + " ";
    MustRun(command + Quote(image) + " " + std::to_string(sectors / 2) + " >/dev/null");
}

nlohmann::json SfdiskJson(const std::string& image) {
    return nlohmann::json::parse(MustRun("sfdisk --json " + Quote(image)))["partitiontable"];
}

std::string BlkidTag(const std::string& image, uint64_t offsetBytes, const std::string& tag) {
    const CommandResult result =
        Run("blkid -p -O " + std::to_string(offsetBytes) + " -o value -s " + tag + " " + Quote(image));
    std::string value = result.out;
    while (!value.empty() && value.back() == '\n') value.pop_back();
    return value;
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::vector<uint8_t> bytes(static_cast<size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

std::vector<uint8_t> ReadBytes(const std::string& path, uint64_t position, size_t count) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(position));
    std::vector<uint8_t> bytes(count);
    if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count)))
        throw std::runtime_error("cannot read " + path);
    return bytes;
}

void WriteBytes(const std::string& path, uint64_t position, const std::vector<uint8_t>& bytes) {
    std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(static_cast<std::streamoff>(position));
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<uint8_t> EntryBytes(uint8_t boot, uint8_t type, uint32_t firstSector, uint32_t sectorCount) {
    std::vector<uint8_t> entry(16, 0);
    entry[0] = boot;
    entry[4] = type;
    for (int i = 0; i < 4; ++i) {
        entry[8 + i] = static_cast<uint8_t>(firstSector >> (8 * i));
        entry[12 + i] = static_cast<uint8_t>(sectorCount >> (8 * i));
    }
    return entry;
}

void WriteEntry(const std::string& path, uint64_t sectorPosition, int slot, uint8_t boot, uint8_t type,
                uint32_t firstSector, uint32_t sectorCount) {
    WriteBytes(path, EntryPosition(sectorPosition, slot), EntryBytes(boot, type, firstSector, sectorCount));
    WriteBytes(path, sectorPosition + 510, {0x55, 0xAA});
}

std::vector<ByteChange> Diff(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after) {
    std::vector<ByteChange> changes;
    const size_t common = std::min(before.size(), after.size());
    // Whole blocks first: images of two FAT32 volumes are tens of MiB.
    constexpr size_t Block = 4096;
    for (size_t at = 0; at < common; at += Block) {
        const size_t count = std::min(Block, common - at);
        if (std::memcmp(before.data() + at, after.data() + at, count) == 0) continue;
        for (size_t i = at; i < at + count; ++i)
            if (before[i] != after[i]) changes.push_back({i, before[i], after[i]});
    }
    EXPECT_EQ(before.size(), after.size()) << "image size changed";
    return changes;
}

Snapshot::Snapshot(std::vector<std::string> images) : images_(std::move(images)) {
    for (const std::string& image : images_) bytes_.push_back(ReadBytes(image));
}

std::vector<ByteChange> Snapshot::Changes(size_t index) const {
    return Diff(bytes_.at(index), ReadBytes(images_.at(index)));
}

bool Snapshot::Unchanged() const {
    for (size_t i = 0; i < images_.size(); ++i)
        if (!Changes(i).empty()) return false;
    return true;
}

CommandResult RunImageTool(const std::vector<std::string>& arguments) {
    std::string command = QUORVANE_IMAGE_TOOL;
    for (const std::string& argument : arguments) command += " " + Quote(argument);
    return Run(command);
}

nlohmann::json ImageToolJson(const std::vector<std::string>& images) {
    std::vector<std::string> arguments{"--json"};
    arguments.insert(arguments.end(), images.begin(), images.end());
    const CommandResult result = RunImageTool(arguments);
    if (result.exitCode != 0) throw std::runtime_error("quorvane-image failed: " + result.err);
    return nlohmann::json::parse(result.out);
}

}  // namespace quorvane::test
