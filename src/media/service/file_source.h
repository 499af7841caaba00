#pragma once
// The clip's file as libavformat reads it, through an I/O context of ours: the file is
// opened once (a clip renamed, replaced or deleted while open goes on from the same
// file), anything but a regular file is refused before a byte is read, and an index
// pass can skip packet payloads it does not need without reading them.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "media/service/media_errors.h"

struct AVIOContext;

namespace tambrel::media {

class FileSource {
  public:
    // FileNotFound for a missing or unreadable path, and for a directory, FIFO, socket
    // or device (reading one could wait for ever or never end).
    static std::unique_ptr<FileSource> open(const std::string& path, MediaError& error);
    ~FileSource();
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    AVIOContext* io() const { return io_; }
    // Reads up to n bytes at `offset` without moving the demuxer's position.
    size_t peek(int64_t offset, void* buffer, size_t n) const;
    int64_t size() const { return size_; }

    // Byte ranges [first, second) whose contents nobody will look at: reads inside them
    // return at once with the buffer left as it is. Sorted, not overlapping.
    void skip_unread(std::vector<std::pair<int64_t, int64_t>> ranges);
    void read_everything() { skipped_.clear(); }
    int64_t bytes_read() const { return bytes_read_; }

  private:
    FileSource(int fd, int64_t size);
    static int read(void* opaque, uint8_t* buffer, int size);
    static int64_t seek(void* opaque, int64_t offset, int whence);

    int fd_ = -1;
    int64_t size_ = 0;
    int64_t offset_ = 0;
    int64_t bytes_read_ = 0;
    std::vector<std::pair<int64_t, int64_t>> skipped_;
    AVIOContext* io_ = nullptr;
};

}  // namespace tambrel::media
