#pragma once
// A digest of a decoded picture's visible samples (and palette), to tell pictures apart
// exactly without keeping them. Padding bytes beyond each row are not included.

#include <cstdint>

extern "C" {
#include <libavutil/frame.h>
}

namespace tambrel::media {

uint64_t frame_digest(const AVFrame& frame);

}  // namespace tambrel::media
