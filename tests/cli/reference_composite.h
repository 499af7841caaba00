#pragma once
// Shared by the tambrel-compose tests: generated clips and the composite worked out
// independently from their frames.

#include <QImage>
#include <string>
#include <vector>

#include "clipgen.h"

namespace tambrel::compose_cli::testing {

// A raw-RGB clip of a bob moving over a dark field: decoding gives back exactly the
// pixels render_frame paints.
inline clipgen::ClipOptions raw_clip(const QString& path, int frames, int width = 96,
                                     int height = 72) {
    clipgen::ClipOptions o;
    o.path = path.toStdString();
    o.codec = clipgen::Codec::RawBgr24;
    o.width = width;
    o.height = height;
    o.frames = frames;
    return o;
}

inline int channel_sum(QRgb p) { return qRed(p) + qGreen(p) + qBlue(p); }

// The composite of `frames` (the first is the seed) worked out pixel by pixel: under
// white priority a frame's pixel replaces the composite's when its channel sum is at
// least as large, under black priority when it is smaller. Only the top-left `region`
// is merged; elsewhere the seed stays.
inline QImage fold_frames(const std::vector<QImage>& frames, bool white, QSize region) {
    QImage out = frames.front().convertToFormat(QImage::Format_RGB32);
    for (size_t i = 1; i < frames.size(); ++i) {
        const QImage f = frames[i].convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < std::min(region.height(), out.height()); ++y) {
            for (int x = 0; x < std::min(region.width(), out.width()); ++x) {
                const QRgb now = out.pixel(x, y), next = f.pixel(x, y);
                const bool take = white ? channel_sum(next) >= channel_sum(now)
                                        : channel_sum(next) < channel_sum(now);
                if (take) out.setPixel(x, y, next);
            }
        }
    }
    return out;
}

// The rendered frames start, start + step, ... (at most count, below the clip's end).
inline std::vector<QImage> rendered_frames(const clipgen::ClipOptions& clip, int start, int step,
                                           int count) {
    std::vector<QImage> frames;
    for (int n = start; n < clip.frames && static_cast<int>(frames.size()) < count; n += step)
        frames.push_back(clipgen::render_frame(clip, n));
    return frames;
}

// Pixels equal, the unused top byte aside; the first difference otherwise.
inline std::string difference(const QImage& actual, const QImage& expected) {
    if (actual.size() != expected.size())
        return "size " + std::to_string(actual.width()) + "x" + std::to_string(actual.height()) +
               " instead of " + std::to_string(expected.width()) + "x" +
               std::to_string(expected.height());
    for (int y = 0; y < actual.height(); ++y)
        for (int x = 0; x < actual.width(); ++x)
            if ((actual.pixel(x, y) & 0xffffff) != (expected.pixel(x, y) & 0xffffff))
                return "pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") is " +
                       QString::number(actual.pixel(x, y) & 0xffffff, 16).toStdString() +
                       " instead of " +
                       QString::number(expected.pixel(x, y) & 0xffffff, 16).toStdString();
    return {};
}

}  // namespace tambrel::compose_cli::testing
