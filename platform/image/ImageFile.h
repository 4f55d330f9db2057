// Byte access to one disk image: a file, or a sparse image held in memory.
#pragma once

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>

#include "platform/image/MemoryImage.h"

namespace quorvane {

// Where an image lives: a file path, or (when `memory` is set) memory.
struct ImageSource {
    std::string path;
    SharedMemoryImage memory;
};

class ImageFile {
 public:
    // nullptr when the image cannot be opened with that access.
    static std::unique_ptr<ImageFile> Open(const ImageSource& source, bool writable);
    static std::unique_ptr<ImageFile> Open(const std::string& path, bool writable) {
        return Open(ImageSource{path, nullptr}, writable);
    }

    uint64_t Size() const { return size_; }
    // Reads up to `count` bytes at `position`; returns how many were there.
    size_t ReadAt(uint64_t position, uint8_t* data, size_t count);
    // Writes all `count` bytes or nothing; a write past the end fails.
    bool WriteAt(uint64_t position, const uint8_t* data, size_t count);

 private:
    std::unique_ptr<std::fstream> stream_;  // a file image; none for one in memory
    SharedMemoryImage memory_;
    uint64_t size_ = 0;
    bool writable_ = false;
};

}  // namespace quorvane
