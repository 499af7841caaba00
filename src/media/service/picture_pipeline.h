#pragma once
// From a decoded picture to the RGB32 pixels a player shows: HDR (PQ or HLG) brought to
// ordinary SDR colours, scaled into a rectangle, and turned upright as the file's
// display matrix says. Ordinary 8-bit BT.601/709 pictures that need no turn go
// straight from the scaler into the target's bits, exactly as before.

#include <QImage>
#include <QRect>
#include <memory>

#include "media/service/av_ptr.h"
#include "media/service/media_errors.h"

namespace tambrel::media {

// How a coded picture becomes upright: turned clockwise by quarter turns, then mirrored
// left to right (if so; a front camera's picture).
struct Orientation {
    int quarter_turns = 0;  // 0 .. 3
    bool mirrored = false;
    bool identity() const { return quarter_turns == 0 && !mirrored; }
    bool operator==(const Orientation&) const = default;
};

// The orientation a display matrix (nine 16.16/2.30 fixed-point numbers, as libavutil
// stores them) asks for, to the nearest quarter turn.
Orientation orientation_from_matrix(const int32_t matrix[9]);

// True for transfer characteristics that need tone mapping to SDR (PQ and HLG).
bool is_hdr(const AVFrame& frame);

class PicturePipeline {
  public:
    PicturePipeline();
    ~PicturePipeline();
    PicturePipeline(const PicturePipeline&) = delete;
    PicturePipeline& operator=(const PicturePipeline&) = delete;

    // Draws `frame` turned by `orientation` and scaled into `dest` of `target` (clipped
    // to the image). Pixels outside `dest` are untouched.
    MediaError draw(const AVFrame& frame, Orientation orientation, QImage& target,
                    const QRect& dest);

  private:
    MediaError convert_sdr(const AVFrame& f, uint8_t* dst, int dst_stride, QSize size);
    MediaError convert_hdr(const AVFrame& f, QImage& out);
    struct Hdr;
    av::SwsPtr sws_;
    std::unique_ptr<Hdr> hdr_;
};

}  // namespace tambrel::media
