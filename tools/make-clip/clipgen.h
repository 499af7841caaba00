#pragma once

// Synthetic AVI test clips: a bright bob on a dark field, with the frame number
// written into every frame as a band of large blocks along the top edge.

#include <QImage>
#include <QPointF>
#include <QSize>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tambrel::clipgen {

enum class Codec {
    RawBgr24,
    RawPal8,
    Mjpeg,
    Mpeg4,
    Mpeg4BFrames,
    H264,
    Ffv1,
    HuffYuv,
    MsVideo1,
    Cinepak
};
enum class Motion { Bob, Pendulum };

struct ClipOptions {
    std::string path;  // output .avi
    Codec codec = Codec::Mjpeg;
    // Odd sizes are kept exactly where the codec allows; MS Video 1 and Cinepak need
    // multiples of 4 and get dark columns/rows added at the right/bottom (see encoded_size).
    int width = 320, height = 240;
    int fps_num = 30, fps_den = 1;
    int frames = 30;
    int keyframe_interval = 12;  // gop size
    bool audio = false;          // PCM s16le mono 8 kHz track, interleaved
    Motion motion = Motion::Bob;
    // The frame-number band; the sample for students goes without it.
    bool frame_number_band = true;
    // Pendulum mode physics
    double pendulum_length_m = 0.5, amplitude_deg = 20, pixels_per_metre = 600;
};

// Writes the clip; returns an error text on failure, nullopt on success.
std::optional<std::string> write_clip(const ClipOptions& options);

// Reads the frame number that write_clip put into a frame, from decoded pixels (any QImage
// format), also when the picture was scaled by up to about ±10%. -1 when unreadable.
int read_frame_number(const QImage& image);

// The bob's centre in frame n, in clip pixels.
QPointF bob_position(const ClipOptions& options, int frame);

// Which codecs this machine's FFmpeg can encode.
bool codec_available(Codec codec);

// ---- Helpers around the core API ----

inline constexpr Codec all_codecs[] = {
    Codec::RawBgr24, Codec::RawPal8, Codec::Mjpeg,   Codec::Mpeg4,    Codec::Mpeg4BFrames,
    Codec::H264,     Codec::Ffv1,    Codec::HuffYuv, Codec::MsVideo1, Codec::Cinepak};

// Command-line names: "raw", "pal8", "mjpeg", "mpeg4", "mpeg4-bframes", "h264", "ffv1",
// "huffyuv", "msvideo1", "cinepak".
std::string_view codec_name(Codec codec);
std::optional<Codec> codec_from_name(std::string_view name);

// The picture size stored in the file for a requested size (differs only where the codec
// needs multiples of 4: the extra pixels are dark field at the right and bottom).
QSize encoded_size(Codec codec, int width, int height);

// Checks options without writing anything; nullopt when they are usable.
std::optional<std::string> validate(const ClipOptions& options);

// The picture of frame n at the requested size, as write_clip encodes it (before padding).
QImage render_frame(const ClipOptions& options, int frame);

// Largest frame number the band can carry.
inline constexpr int max_frame_number = 0xFFFF;

// Pendulum angle (radians) at times k * sample_interval_s for k = 0 .. samples-1, released
// at rest from amplitude_deg. Integrates theta'' = -(g/L) sin(theta) with RK4 at a fixed
// sub-step of at most 0.5 ms.
inline constexpr double gravity = 9.81;
std::vector<double> pendulum_angles(double length_m, double amplitude_deg, double sample_interval_s,
                                    int samples);

}  // namespace tambrel::clipgen
