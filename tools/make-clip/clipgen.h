#pragma once

// Synthetic test clips: a bright bob (or a falling, gliding or swinging body) on a dark or
// textured field, with the frame number written into every frame as a band of large blocks
// along the top edge. Written as AVI exactly as before, or in the containers, codecs and
// forms phones and cameras write: MP4/MOV/3GP with a display rotation, a capture rate and
// B-frames behind an edit list; Matroska/WebM; MPEG transport and program streams; ASF;
// HEVC 8/10-bit, VP8, VP9, AV1, MPEG-2, ProRes, DV, WMV 8; non-square pixels, variable
// frame rate, HLG and PQ.
//
// Three pictures of a frame, and the words used for them below:
//   - upright picture: what a player shows, square pixels, upright; its size is
//     display_size(). The scene is drawn here and every position (bob_position, ...) is in
//     its pixels.
//   - stored picture: what the file holds and a decoder hands out, width x height of the
//     options (coded_size()); the upright picture turned back against the display rotation
//     and squeezed by the sample aspect ratio.
//   - frame n: the n-th picture in presentation order, counted from 0, every coded frame
//     once (what `ffmpeg -fps_mode passthrough` delivers).

#include <QImage>
#include <QPointF>
#include <QSize>
#include <cstdint>
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
    Cinepak,
    Hevc,    // libx265, 8-bit 4:2:0, 2 B-frames
    Hevc10,  // libx265, 10-bit 4:2:0 (BT.709, or BT.2020 HLG/PQ with `transfer`)
    Vp8,
    Vp9,  // 8-bit; 10-bit profile 2 with `transfer` HLG or PQ
    Av1,  // libsvtav1, fastest preset
    Mpeg2,
    ProRes,  // prores_ks, 4:2:2 10-bit
    Dv,      // DV25: 720x480 at 30000/1001 fps (4:1:1) or 720x576 at 25 fps (4:2:0) only
    Wmv2
};

// Chosen by the output's extension (any case): .avi; .mp4; .m4v; .mov; .3gp; .mkv; .webm;
// .ts (188-byte packets); .m2ts and .mts (192-byte packets with the arrival time stamp, as
// AVCHD cameras and Blu-ray write them); .mpg and .mpeg (MPEG-2 program stream); .wmv (ASF).
enum class Container { Avi, Mp4, M4v, Mov, ThreeGp, Matroska, WebM, MpegTs, M2ts, MpegPs, Asf };

// What the frames show. Bob: bounces around, by frame number (the oldest clips' motion).
// Pendulum: the simulated pendulum. Linear: constant velocity. Fall: free fall from rest.
// Pendulum, Linear and Fall follow each frame's presentation time, so a variable-rate clip
// shows the same physics at uneven times.
enum class Motion { Bob, Pendulum, Linear, Fall };

// Transfer of the stored video. Hlg and Pq: BT.2020, 10-bit 4:2:0 limited range, made from
// the SDR render (read as BT.709) with libavfilter's zscale, SDR white at 203 cd/m^2, HDR's
// reference white (ITU-R BT.2408; zscale's npl=203). zscale back to BT.709 with the same
// npl gives the render again within coding error (clip_formats_test does).
// PQ in HEVC also carries HDR10's mastering display (BT.2020, 1000 cd/m^2) and content
// light level (MaxCLL 203, MaxFALL 40) SEI, which the decoder hands out as frame side data,
// so a tone mapper that takes the peak from the frames keeps SDR white white.
enum class Transfer { Sdr, Hlg, Pq };

struct Ratio {
    int num = 0, den = 0;  // 0/0: not set
    bool operator==(const Ratio&) const = default;
};

struct ClipOptions {
    std::string path;  // output file; its extension picks the container
    Codec codec = Codec::Mjpeg;
    // The stored picture size. Odd sizes are kept exactly where the codec allows; MS Video 1
    // and Cinepak need multiples of 4 and get dark columns/rows added at the right/bottom
    // (see encoded_size); the newer 4:2:0/4:2:2 codecs need even sizes.
    int width = 320, height = 240;
    // Nominal frame rate; with `vfr` the frames come at uneven times around it.
    int fps_num = 30, fps_den = 1;
    int frames = 30;
    int keyframe_interval = 12;  // gop size
    // An audio track, interleaved: a 440 Hz tone. AVI: PCM s16le mono 8 kHz as before;
    // MP4/MOV/3GP/MKV/TS: AAC; WebM: Opus; MPEG-PS: MP2; ASF: WMA 2 (mono 48 kHz).
    bool audio = false;
    Motion motion = Motion::Bob;
    // The frame-number band; the sample for students goes without it.
    bool frame_number_band = true;
    // Pendulum mode physics
    double pendulum_length_m = 0.5, amplitude_deg = 20;
    // Pendulum and Fall: the scale of the upright picture.
    double pixels_per_metre = 600;
    // Fall: acceleration in m/s^2 (downwards in the upright picture), from rest at frame 0.
    double fall_g = 9.81;
    // Linear: velocity in upright pixels per frame at the nominal rate (x right, y down).
    QPointF velocity{3, 0};
    // Linear and Fall: centre at frame 0; unset: Linear starts at the left edge halfway down
    // the motion area, Fall at the top centre just below the band.
    std::optional<QPointF> start;
    // A still background of tiles, some brighter than the bob, most darker, instead of the
    // plain dark field.
    bool textured_background = false;
    // A second, smaller moving body (half the bob's radius, same colour) circling in the
    // bottom right corner; see second_object_place.
    bool second_object = false;

    // ---- What phones and cameras store ----
    // A player turns the stored picture this many degrees clockwise (0, 90, 180, 270): the
    // display matrix of MP4/MOV (av_display_rotation_get gives minus this), the same sense
    // as the old "rotate" tag. The stored picture is the upright one turned the other way.
    int rotation = 0;
    // A player mirrors the picture left-right after turning it (a selfie camera's matrix).
    bool hflip = false;
    // Sample aspect ratio stored in the stream where the codec can, and in the container
    // where it can (MP4/MOV pasp, Matroska display size). Unset: square, except DV, whose
    // stream always carries its own (see effective_sar).
    Ratio sar;
    // Variable frame rate: frame durations cycle through p - s, p, p + s milliseconds, where
    // p is the nominal period rounded to whole ms and s = max(1, round(p / 10)): 30, 33,
    // 36 ms at 30 fps, 15, 17, 19 at 60. See frame_time_us.
    bool vfr = false;
    Transfer transfer = Transfer::Sdr;
    // Slow-motion capture rate as Android writes it: com.android.capture.fps in the
    // metadata keys of MP4, M4V or MOV (moov/meta with "mdta" keys, a big-endian 32-bit
    // float); libavformat shows it as format metadata "com.android.capture.fps" with six
    // decimals ("240.000000"). 0: none.
    double capture_fps = 0;
};

// Writes the clip; returns an error text on failure, nullopt on success. A failed write
// leaves no file behind.
std::optional<std::string> write_clip(const ClipOptions& options);

// Checks options without writing anything; nullopt when they are usable. The text says
// what is wrong, e.g. which codecs a container holds.
std::optional<std::string> validate(const ClipOptions& options);

// Reads the frame number that write_clip put into a frame, from decoded pixels (any QImage
// format), also when the picture was scaled by up to about ±10%. -1 when unreadable (also
// for a stored picture that still needs its rotation or flip).
int read_frame_number(const QImage& image);

// ---- Geometry ----

// Size of the stored picture: width x height of the options.
QSize coded_size(const ClipOptions& options);

// The sample aspect ratio the stored stream carries: `sar` when set; for DV the stream's own
// (720x480: 8:9, or 32:27 for 16:9; 720x576: 16:15, or 64:45); otherwise 1:1.
Ratio effective_sar(const ClipOptions& options);

// The upright square-pixel size a player shows: the stored size widened for a sample aspect
// ratio above 1 (width * num / den) or heightened for one below 1 (height * den / num),
// never narrowed, rounded to the nearest pixel (halves up); then width and height swapped
// for a rotation of 90 or 270. The scene is drawn at this size.
QSize display_size(const ClipOptions& options);

// The upright picture of frame n, as the scene is drawn before it is stored.
QImage render_frame(const ClipOptions& options, int frame);

// The stored picture of frame n before padding and encoding (8-bit RGB, for SDR and HDR
// clips alike): the upright picture turned back and squeezed.
QImage render_stored_frame(const ClipOptions& options, int frame);

// ---- Time ----

// Presentation time of frame n in microseconds from frame 0 (rounded to the nearest; exact
// for rates and durations in whole ms). Constant rate: n * fps_den / fps_num seconds.
int64_t frame_time_us(const ClipOptions& options, int frame);

// ---- Where the bodies are ----

enum class Visibility { Whole, Partly, Hidden };

struct ObjectPlace {
    QPointF centre;  // upright picture pixels, (0, 0) the top-left corner of the picture
    double radius = 0;
    // Against the area where bodies are drawn: the whole upright picture below the band
    // strip (which is drawn over anything that reaches it, band or not).
    Visibility visibility = Visibility::Whole;
};

// The bob (the main body) in frame n. A body that moves out of the picture stays out: its
// place is still given and marked Hidden.
ObjectPlace bob_place(const ClipOptions& options, int frame);

// The bob's centre in frame n, in upright picture pixels (bob_place(...).centre).
QPointF bob_position(const ClipOptions& options, int frame);

// Every frame's bob place at once (the pendulum integrated once, not once per frame).
std::vector<ObjectPlace> bob_places(const ClipOptions& options);

// The second body in frame n; nullopt without `second_object`. It circles (radius a tenth
// of the shorter side, one turn in 60 nominal frames, clockwise from the right) in the
// bottom right corner; in pictures at least 120 pixels high it keeps clear of the default
// linear motion (default start, horizontal velocity), the default fall and the default
// pendulum.
std::optional<ObjectPlace> second_object_place(const ClipOptions& options, int frame);

// Top of the area where bodies are drawn, in upright pixels: below the band and a dark gap.
int motion_top(const ClipOptions& options);

// ---- Codecs and containers ----

// Which codecs this machine's FFmpeg can encode.
bool codec_available(Codec codec);

// The codecs AVI clips were written with before the other containers came; AVI keeps
// them byte for byte. (Callers iterate this list to make one AVI clip per codec.)
inline constexpr Codec all_codecs[] = {
    Codec::RawBgr24, Codec::RawPal8, Codec::Mjpeg,   Codec::Mpeg4,    Codec::Mpeg4BFrames,
    Codec::H264,     Codec::Ffv1,    Codec::HuffYuv, Codec::MsVideo1, Codec::Cinepak};

// Every codec make-clip writes.
inline constexpr Codec every_codec[] = {
    Codec::RawBgr24, Codec::RawPal8, Codec::Mjpeg,   Codec::Mpeg4,    Codec::Mpeg4BFrames,
    Codec::H264,     Codec::Ffv1,    Codec::HuffYuv, Codec::MsVideo1, Codec::Cinepak,
    Codec::Hevc,     Codec::Hevc10,  Codec::Vp8,     Codec::Vp9,      Codec::Av1,
    Codec::Mpeg2,    Codec::ProRes,  Codec::Dv,      Codec::Wmv2};

inline constexpr Container all_containers[] = {
    Container::Avi,     Container::Mp4,      Container::M4v,  Container::Mov,
    Container::ThreeGp, Container::Matroska, Container::WebM, Container::MpegTs,
    Container::M2ts,    Container::MpegPs,   Container::Asf};

// Command-line names: "raw", "pal8", "mjpeg", "mpeg4", "mpeg4-bframes", "h264", "ffv1",
// "huffyuv", "msvideo1", "cinepak", "hevc", "hevc10", "vp8", "vp9", "av1", "mpeg2",
// "prores", "dv", "wmv2".
std::string_view codec_name(Codec codec);
std::optional<Codec> codec_from_name(std::string_view name);

// The container for a path's extension; nullopt for an unknown or missing extension.
std::optional<Container> container_for_path(std::string_view path);
// Name with the extensions, e.g. "MP4 (.mp4)", "MPEG-TS with 192-byte packets (.m2ts .mts)".
std::string container_description(Container container);
// Whether the container holds the codec (as make-clip writes it).
bool container_holds(Container container, Codec codec);

// The picture size stored in the file for a requested size (differs only where the codec
// needs multiples of 4: the extra pixels are dark field at the right and bottom).
QSize encoded_size(Codec codec, int width, int height);

// Largest frame number the band can carry.
inline constexpr int max_frame_number = 0xFFFF;

// Pendulum angle (radians) at times k * sample_interval_s for k = 0 .. samples-1, released
// at rest from amplitude_deg. Integrates theta'' = -(g/L) sin(theta) with RK4 at a fixed
// sub-step of at most 0.5 ms.
inline constexpr double gravity = 9.81;
std::vector<double> pendulum_angles(double length_m, double amplitude_deg, double sample_interval_s,
                                    int samples);

}  // namespace tambrel::clipgen
