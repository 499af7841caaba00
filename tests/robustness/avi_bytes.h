#pragma once
// Bad AVI files made in code: a small writer of uncompressed AVI files whose header can
// lie, and byte surgery on any AVI file (finding chunks, cutting, blanking). Nothing
// here is committed as a binary; every test makes the files it needs.

#include <QByteArray>
#include <QImage>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace tambrel::robustness {

struct RawAvi {
    int width = 8, height = 6;  // the pictures actually stored
    int frames = 10;
    bool video = true;
    bool audio = false;  // a PCM stream, interleaved with the video chunks
    bool index = true;   // idx1 at the end
    int fps = 25;
    // The pictures, where not the grey levels of raw_grey: frame k at the stored size
    // (stored bottom-up as blue, green, red, as uncompressed AVI has them).
    std::function<QImage(int k)> picture;
    // What the headers claim, when it differs from the truth.
    std::optional<int32_t> header_width, header_height;
    std::optional<uint32_t> header_frames;
};

// Grey level of frame k in files from raw_avi.
inline int raw_grey(int k) { return (k * 16 + 8) % 256; }

QByteArray raw_avi(const RawAvi& layout);

// Offset of the first chunk or list whose four-character code is `fourcc` at or after
// `from`, walking the RIFF structure (so data bytes are never mistaken for a code).
std::optional<qsizetype> find_chunk(const QByteArray& avi, const char fourcc[4]);
// Offsets of the video chunks ("00dc" / "00db") inside the movi list, in file order.
std::vector<qsizetype> video_chunks(const QByteArray& avi);
// Size field of the chunk at `offset`.
uint32_t chunk_size(const QByteArray& avi, qsizetype offset);

bool write_file(const QString& path, const QByteArray& bytes);
QByteArray read_file(const QString& path);

}  // namespace tambrel::robustness
