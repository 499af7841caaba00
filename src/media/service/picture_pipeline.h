#pragma once
// From a decoded picture to the RGB32 pixels a player shows: HDR (PQ or HLG) brought to
// ordinary SDR colours, scaled into a rectangle, and turned upright as the file's
// display matrix says. Ordinary BT.601/709 pictures that need no turn go straight into
// the target's bits: at their own size through zimg (chroma interpolated where the
// file sites it, exact rounding, several times faster than the scaler's accurate
// path), scaled through libswscale.

#include <QImage>
#include <QRect>
#include <memory>
#include <optional>

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
    // Through zimg when the picture is one it takes; nothing when the scaler must do it.
    std::optional<MediaError> convert_unscaled(const AVFrame& f, uint8_t* dst, int dst_stride);
    MediaError convert_hdr(const AVFrame& f, QImage& out);
    struct Hdr;
    struct Unscaled;
    av::SwsPtr sws_;
    std::unique_ptr<Hdr> hdr_;
    std::unique_ptr<Unscaled> unscaled_;
};

}  // namespace tambrel::media
