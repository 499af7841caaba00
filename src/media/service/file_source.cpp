#include "media/service/file_source.h"

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace tambrel::media {

namespace {
constexpr int kBufferSize = 32 * 1024;  // libavformat's own default
}

std::unique_ptr<FileSource> FileSource::open(const std::string& path, MediaError& error) {
    error = MediaError::FileNotFound;
    // Non-blocking, so that opening a FIFO cannot wait for a writer; the type is checked
    // on the open descriptor, so nothing can swap the file in between.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    std::unique_ptr<FileSource> source(new FileSource(fd, st.st_size));
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
    if (buffer)
        source->io_ = avio_alloc_context(buffer, kBufferSize, 0, source.get(), &FileSource::read,
                                         nullptr, &FileSource::seek);
    if (!source->io_) {
        av_free(buffer);
        error = MediaError::NotPlayable;
        return nullptr;
    }
    error = MediaError::None;
    return source;
}

FileSource::FileSource(int fd, int64_t size) : fd_(fd), size_(size) {}

FileSource::~FileSource() {
    if (io_) av_freep(&io_->buffer);
    avio_context_free(&io_);
    if (fd_ >= 0) ::close(fd_);
}

size_t FileSource::peek(int64_t offset, void* buffer, size_t n) const {
    size_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(fd_, static_cast<char*>(buffer) + done, n - done,
                                    offset + static_cast<int64_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<size_t>(got);
    }
    return done;
}

void FileSource::skip_unread(std::vector<std::pair<int64_t, int64_t>> ranges) {
    skipped_ = std::move(ranges);
}

int FileSource::read(void* opaque, uint8_t* buffer, int size) {
    auto& self = *static_cast<FileSource*>(opaque);
    int done = 0;
    while (done < size) {
        const int64_t at = self.offset_;
        int64_t want = size - done;
        // Inside a skipped range: pretend to have read up to its end.
        const auto next = std::upper_bound(
            self.skipped_.begin(), self.skipped_.end(), at,
            [](int64_t pos, const std::pair<int64_t, int64_t>& r) { return pos < r.first; });
        if (next != self.skipped_.begin() && at < std::prev(next)->second) {
            const int64_t n = std::min(want, std::prev(next)->second - at);
            self.offset_ += n;
            done += static_cast<int>(n);
            continue;
        }
        if (next != self.skipped_.end()) want = std::min(want, next->first - at);
        const ssize_t got = ::pread(self.fd_, buffer + done, static_cast<size_t>(want), at);
        if (got < 0) {
            if (errno == EINTR) continue;
            return done > 0 ? done : AVERROR(errno);
        }
        if (got == 0) break;
        self.offset_ += got;
        self.bytes_read_ += got;
        done += static_cast<int>(got);
    }
    return done > 0 ? done : AVERROR_EOF;
}

int64_t FileSource::seek(void* opaque, int64_t offset, int whence) {
    auto& self = *static_cast<FileSource*>(opaque);
    // The file may have been cut or grown since it was opened.
    struct stat st {};
    const int64_t size = ::fstat(self.fd_, &st) == 0 ? st.st_size : self.size_;
    switch (whence & ~AVSEEK_FORCE) {
        case AVSEEK_SIZE:
            return size;
        case SEEK_SET:
            break;
        case SEEK_CUR:
            offset += self.offset_;
            break;
        case SEEK_END:
            offset += size;
            break;
        default:
            return AVERROR(EINVAL);
    }
    if (offset < 0) return AVERROR(EINVAL);
    self.offset_ = offset;
    return offset;
}

}  // namespace tambrel::media
