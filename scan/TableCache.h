// What the first scan of the start sequence read from each drive, so the
// second scan (after the temporary letters, which change only what Windows
// answers about volumes) reads no partition-table sector again.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "platform/Platform.h"

namespace quorvane {

class TableCache {
 public:
    // The drive as the first scan saw it: a device that records every read,
    // or (on the second scan) one that answers them from the record.
    std::unique_ptr<SectorDevice> Open(Platform& platform, uint32_t drive);

    struct Read {
        bool succeeded = false;
        uint32_t transferred = 0;
        std::vector<uint8_t> bytes;
    };
    struct Drive {
        uint32_t sectorSize = 0;
        std::optional<uint64_t> size;
        std::map<std::pair<uint64_t, size_t>, Read> reads;  // by position and length
        bool noMedium = false;
    };

 private:
    std::map<uint32_t, std::shared_ptr<Drive>> drives_;
};

}  // namespace quorvane
