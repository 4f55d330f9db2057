#include "platform/image/ImageFile.h"

namespace quorvane {

std::unique_ptr<ImageFile> ImageFile::Open(const ImageSource& source, bool writable) {
    auto file = std::make_unique<ImageFile>();
    file->writable_ = writable;
    if (source.memory) {
        file->memory_ = source.memory;
        file->size_ = source.memory->Size();
        return file;
    }
    auto mode = std::ios::binary | std::ios::in;
    if (writable) mode |= std::ios::out;
    // Unbuffered, as a raw disk handle is: each read takes the sectors asked
    // for, not the stream's buffer around them.
    file->stream_ = std::make_unique<std::fstream>();
    file->stream_->rdbuf()->pubsetbuf(nullptr, 0);
    file->stream_->open(source.path, mode);
    if (!file->stream_->is_open()) return nullptr;
    file->stream_->seekg(0, std::ios::end);
    const auto end = file->stream_->tellg();
    if (end < 0) return nullptr;
    file->size_ = static_cast<uint64_t>(end);
    return file;
}

size_t ImageFile::ReadAt(uint64_t position, uint8_t* data, size_t count) {
    if (memory_) return memory_->ReadAt(position, data, count);
    if (position >= size_) return 0;
    const uint64_t available = size_ - position;
    const size_t wanted = available < count ? static_cast<size_t>(available) : count;
    stream_->clear();
    stream_->seekg(static_cast<std::streamoff>(position));
    stream_->read(reinterpret_cast<char*>(data), static_cast<std::streamsize>(wanted));
    return static_cast<size_t>(stream_->gcount());
}

bool ImageFile::WriteAt(uint64_t position, const uint8_t* data, size_t count) {
    if (!writable_) return false;
    if (memory_) return memory_->WriteAt(position, data, count);
    if (position > size_ || size_ - position < count) return false;
    stream_->clear();
    stream_->seekp(static_cast<std::streamoff>(position));
    stream_->write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(count));
    stream_->flush();
    return static_cast<bool>(*stream_);
}

}  // namespace quorvane
