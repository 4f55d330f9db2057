// Helpers of the reliability suites: disk images made by the real tools moved
// into memory (so a run on a fresh copy costs a map copy), a byte diff of two
// such images, and a deadline that ends a hung run with a message.
#pragma once

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/image/MemoryImage.h"

namespace quorvane::test {

// The sectors of an image file that are not all zero, in a sparse memory image.
inline SharedMemoryImage LoadMemoryImage(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const auto size = static_cast<uint64_t>(in.tellg());
    auto image = std::make_shared<MemoryImage>(size);
    in.seekg(0);
    std::vector<uint8_t> chunk(1 << 20);
    for (uint64_t at = 0; at < size; at += chunk.size()) {
        in.read(reinterpret_cast<char*>(chunk.data()), static_cast<std::streamsize>(chunk.size()));
        const auto got = static_cast<size_t>(in.gcount());
        for (size_t sector = 0; sector < got; sector += 512) {
            const size_t length = std::min<size_t>(512, got - sector);
            const uint8_t* bytes = chunk.data() + sector;
            bool zero = true;
            for (size_t i = 0; i < length && zero; ++i) zero = bytes[i] == 0;
            if (!zero) image->WriteAt(at + sector, bytes, length);
        }
    }
    return image;
}

inline SharedMemoryImage CopyImage(const SharedMemoryImage& image) {
    return std::make_shared<MemoryImage>(*image);
}

inline uint8_t ByteAt(const MemoryImage& image, uint64_t position) {
    uint8_t byte = 0;
    image.ReadAt(position, &byte, 1);
    return byte;
}

// Positions where two images of one size differ (the whole images are read).
inline std::vector<uint64_t> DifferingBytes(const MemoryImage& a, const MemoryImage& b) {
    std::vector<uint64_t> positions;
    std::vector<uint8_t> left(1 << 20), right(1 << 20);
    for (uint64_t at = 0; at < a.Size(); at += left.size()) {
        const size_t got = a.ReadAt(at, left.data(), left.size());
        b.ReadAt(at, right.data(), got);
        if (std::memcmp(left.data(), right.data(), got) == 0) continue;
        for (size_t i = 0; i < got; ++i)
            if (left[i] != right[i]) positions.push_back(at + i);
    }
    return positions;
}

// Ends the process with `what` on standard error when a run outlives its time:
// a hang in the code under test must fail the suite, not stall it.
class Deadline {
 public:
    Deadline(unsigned seconds, std::string what) {
        message_ = "deadline passed: " + what + "\n";
        std::signal(SIGALRM, [](int) {
            static_cast<void>(write(2, message_.data(), message_.size()));
            _exit(124);
        });
        alarm(seconds);
    }
    ~Deadline() { alarm(0); }
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

 private:
    static inline std::string message_;
};

}  // namespace quorvane::test
