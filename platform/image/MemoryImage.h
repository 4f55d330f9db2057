// A disk image held in memory, sparse: only sectors that were ever written
// take space, so an image can be many GiB large (tables past 4 GiB) and
// still be made and checked quickly, as fuzzing needs.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace quorvane {

class MemoryImage {
 public:
    explicit MemoryImage(uint64_t size) : size_(size) {}

    uint64_t Size() const { return size_; }
    // Reads up to `count` bytes at `position` (zeros where nothing was written);
    // returns how many lie inside the image.
    size_t ReadAt(uint64_t position, uint8_t* data, size_t count) const;
    // Writes all `count` bytes or nothing; a write past the end fails.
    bool WriteAt(uint64_t position, const uint8_t* data, size_t count);
    // Makes the image `size` bytes long: what lay past the new end is gone,
    // and what is added reads as zeros (a card of another size).
    void Resize(uint64_t size);
    // Number of sectors that hold data.
    size_t StoredSectors() const { return sectors_.size(); }
    // Grows with every write, so what was worked out from the content can be kept.
    uint64_t Generation() const { return generation_; }
    bool operator==(const MemoryImage& other) const;
    // Byte positions of the 512-byte blocks whose content differs from
    // `other`'s (a block never written reads as zeros), in order; a test
    // looks at just those rather than at every sector of a large image.
    std::vector<uint64_t> DifferingBlocks(const MemoryImage& other) const;

 private:
    using Block = std::array<uint8_t, 512>;
    uint64_t size_;
    uint64_t generation_ = 0;
    std::map<uint64_t, Block> sectors_;  // by sector number
};

using SharedMemoryImage = std::shared_ptr<MemoryImage>;

}  // namespace quorvane
