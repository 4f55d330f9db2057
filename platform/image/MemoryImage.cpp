#include "platform/image/MemoryImage.h"

#include <algorithm>
#include <cstring>

namespace quorvane {

size_t MemoryImage::ReadAt(uint64_t position, uint8_t* data, size_t count) const {
    if (position >= size_) return 0;
    const size_t available = static_cast<size_t>(std::min<uint64_t>(count, size_ - position));
    for (size_t done = 0; done < available;) {
        const uint64_t at = position + done;
        const size_t inSector = static_cast<size_t>(at % 512);
        const size_t piece = std::min(available - done, 512 - inSector);
        const auto block = sectors_.find(at / 512);
        if (block == sectors_.end())
            std::memset(data + done, 0, piece);
        else
            std::memcpy(data + done, block->second.data() + inSector, piece);
        done += piece;
    }
    return available;
}

bool MemoryImage::WriteAt(uint64_t position, const uint8_t* data, size_t count) {
    if (position > size_ || size_ - position < count) return false;
    ++generation_;
    for (size_t done = 0; done < count;) {
        const uint64_t at = position + done;
        const size_t inSector = static_cast<size_t>(at % 512);
        const size_t piece = std::min(count - done, 512 - inSector);
        auto [block, added] = sectors_.try_emplace(at / 512);
        if (added) block->second.fill(0);
        std::memcpy(block->second.data() + inSector, data + done, piece);
        done += piece;
    }
    return true;
}

void MemoryImage::Resize(uint64_t size) {
    ++generation_;
    size_ = size;
    sectors_.erase(sectors_.lower_bound((size + 511) / 512), sectors_.end());
    if (size % 512 != 0) {
        const auto last = sectors_.find(size / 512);
        if (last != sectors_.end()) std::fill(last->second.begin() + size % 512, last->second.end(), 0);
    }
}

bool MemoryImage::operator==(const MemoryImage& other) const {
    return size_ == other.size_ && DifferingBlocks(other).empty();
}

std::vector<uint64_t> MemoryImage::DifferingBlocks(const MemoryImage& other) const {
    std::vector<uint64_t> differing;
    // A stored sector of zeros equals one never written.
    const Block zero{};
    auto content = [&](const std::map<uint64_t, Block>& map, uint64_t sector) {
        const auto it = map.find(sector);
        return it == map.end() ? zero : it->second;
    };
    for (const auto& [sector, block] : sectors_)
        if (block != content(other.sectors_, sector)) differing.push_back(sector * 512);
    for (const auto& [sector, block] : other.sectors_)
        if (!sectors_.count(sector) && block != zero) differing.push_back(sector * 512);
    std::sort(differing.begin(), differing.end());
    return differing;
}

}  // namespace quorvane
