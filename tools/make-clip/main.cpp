// make-clip: writes a synthetic test clip in the container its name asks for.

#include <charconv>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "clipgen.h"

namespace {

using namespace tambrel::clipgen;

constexpr int usage_error = 2;

const char* codec_description(Codec codec) {
    switch (codec) {
        case Codec::RawBgr24:
            return "uncompressed 24-bit RGB";
        case Codec::RawPal8:
            return "uncompressed 8-bit with a 256-colour palette";
        case Codec::Mjpeg:
            return "Motion JPEG, quality 2";
        case Codec::Mpeg4:
            return "MPEG-4 Visual (FMP4 in AVI), quality 2, no B-frames";
        case Codec::Mpeg4BFrames:
            return "MPEG-4 Visual (XVID), 2 B-frames packed DivX-style";
        case Codec::H264:
            return "H.264 (libx264), crf 18, 2 B-frames";
        case Codec::Ffv1:
            return "FFV1, lossless";
        case Codec::HuffYuv:
            return "HuffYUV, lossless RGB";
        case Codec::MsVideo1:
            return "Microsoft Video 1 (CRAM), 15-bit";
        case Codec::Cinepak:
            return "Cinepak (cvid)";
        case Codec::Hevc:
            return "HEVC (libx265), 8-bit 4:2:0, 2 B-frames, IDR key frames";
        case Codec::Hevc10:
            return "HEVC (libx265), 10-bit 4:2:0 (Main 10)";
        case Codec::Vp8:
            return "VP8 (libvpx)";
        case Codec::Vp9:
            return "VP9 (libvpx), 8-bit; 10-bit profile 2 with --hlg/--pq";
        case Codec::Av1:
            return "AV1 (SVT-AV1, preset 12), at least 64x64";
        case Codec::Mpeg2:
            return "MPEG-2 video, quality 2, 2 B-frames, closed GOPs";
        case Codec::ProRes:
            return "Apple ProRes 422 (prores_ks), 10-bit 4:2:2";
        case Codec::Dv:
            return "DV25: 720x480 at 30000/1001 fps or 720x576 at 25 fps only";
        case Codec::Wmv2:
            return "Windows Media Video 8";
    }
    return "";
}

void print_help() {
    const ClipOptions d;
    const double small_angle = 2 * std::numbers::pi * std::sqrt(d.pendulum_length_m / gravity);
    const double theta0 = d.amplitude_deg * std::numbers::pi / 180;
    std::printf(
        "Usage: make-clip OUT [options]\n"
        "Writes a synthetic clip: a bright bob moving on a dark field, with the frame\n"
        "number coded as black/white blocks along the top edge. The extension of OUT\n"
        "(any case) picks the container; each holds these codecs:\n");
    for (Container container : all_containers) {
        std::string codecs;
        for (Codec codec : every_codec)
            if (container_holds(container, codec))
                codecs += (codecs.empty() ? "" : " ") + std::string(codec_name(codec));
        std::printf("  %s\n      %s\n", container_description(container).c_str(), codecs.c_str());
    }
    std::printf(
        "AVI is written exactly as before. Outside AVI, YUV is tagged BT.709 where the\n"
        "codec can say so (h264 hevc hevc10 vp9 av1 mpeg2 prores), and --audio writes AAC\n"
        "(MP4, MOV, 3GP, MKV, TS), Opus (WebM), MP2 (MPEG-PS) or WMA 2 (ASF).\n"
        "\n"
        "Options:\n"
        "  --codec NAME      video codec (default mjpeg), one of:\n");
    for (Codec codec : every_codec)
        std::printf("                      %-14s %s%s\n", std::string(codec_name(codec)).c_str(),
                    codec_description(codec),
                    codec_available(codec) ? "" : " (encoder not available here)");
    std::printf(
        "                    msvideo1 and cinepak need sizes that are multiples of 4: the\n"
        "                    picture is padded with dark field at the right and bottom.\n"
        "                    h264 at odd sizes is coded 4:4:4 to keep the exact size; hevc,\n"
        "                    hevc10, vp8, vp9, av1, mpeg2, prores, dv and wmv2 need even\n"
        "                    sizes. dv has fixed sizes and\n"
        "                    rates (without --size it is 720x480 at 30000/1001 fps) and\n"
        "                    always non-square pixels: 8:9 (720x480) or 16:15 (720x576),\n"
        "                    or with --sar 32:27 / 64:45 its 16:9 shape.\n"
        "  --size WxH        stored picture size (default 320x240, with --pendulum 640x480)\n"
        "  --fps N[/D]       frame rate (default 30)\n"
        "  --frames N        number of frames, up to 65536 (default 30, with --pendulum 300)\n"
        "  --gop N           key frame interval (default 12)\n"
        "  --audio           add an audio track (a 440 Hz tone; in AVI 16-bit PCM mono 8 kHz)\n"
        "  --no-band         leave out the frame-number band along the top edge\n"
        "\n"
        "Motion (positions are in pixels of the upright picture a player shows):\n"
        "  --motion NAME     bob (default: bounces around), pendulum, linear or fall\n"
        "  --pendulum        the same as --motion pendulum\n"
        "  --length M        pendulum length in metres (default %.2f)\n"
        "  --amplitude DEG   release angle in degrees (default %.0f)\n"
        "  --scale PX        pixels per metre, pendulum and fall (default %.0f)\n"
        "  --g G             fall: acceleration in m/s^2 (default %.2f), from rest at frame 0\n"
        "  --velocity VX,VY  linear: pixels per frame at the nominal rate (default 3,0)\n"
        "  --start X,Y       linear and fall: centre at frame 0 (default: linear at the\n"
        "                    left edge halfway down, fall at the top centre)\n"
        "  --texture         a still background of grey tiles, some brighter than the bob\n"
        "  --second          a second body of half the bob's size circling in the bottom\n"
        "                    right corner\n"
        "A body that moves out of the picture stays out; pendulum, linear and fall follow\n"
        "the presentation time of each frame, bob the frame number.\n"
        "\n"
        "What phones and cameras store:\n"
        "  --rotate DEG      a player turns the stored picture DEG (90, 180, 270) degrees\n"
        "                    clockwise: the display matrix (MP4, M4V, MOV, 3GP); the stored\n"
        "                    picture is the upright scene turned the other way\n"
        "  --hflip           a player also mirrors it left-right after turning (selfie)\n"
        "  --sar N:D         sample aspect ratio: the upright scene is squeezed into the\n"
        "                    stored size; a player widens it (N > D) or heightens it\n"
        "                    (N < D) back to square pixels\n"
        "  --vfr             variable frame rate: frame durations cycle through p-s, p, p+s\n"
        "                    ms around the nominal period p (30, 33, 36 ms at 30 fps)\n"
        "  --hlg, --pq       HDR: BT.2020 10-bit with the HLG or PQ transfer (hevc10 or\n"
        "                    vp9), made from the SDR picture with zscale, SDR white at\n"
        "                    100 cd/m^2; PQ also carries HDR10 light level metadata\n"
        "  --capture-fps N   slow-motion capture rate as Android writes it\n"
        "                    (com.android.capture.fps; MP4, M4V, MOV)\n"
        "  MP4 and MOV clips of h264 and hevc have B-frames and the edit list that goes\n"
        "  with them; .m2ts and .mts use 192-byte packets (AVCHD), .ts 188-byte packets.\n"
        "\n"
        "  --help            show this text\n"
        "Exit status: 0 written, 1 could not be written (nothing is left behind),\n"
        "2 bad arguments.\n"
        "\n"
        "The pendulum is integrated from theta'' = -(g/L) sin(theta), g = %.2f m/s^2, released\n"
        "at rest, pivot at the top centre just below the number band. With the defaults\n"
        "(L = %.2f m, %.0f degrees, %.0f px/m: the bob hangs %.0f px below the pivot) the\n"
        "small-angle period 2*pi*sqrt(L/g) is %.3f s; at %.0f degrees the swing is slower by\n"
        "about theta0^2/16, so expect %.3f s (%.1f frames at 30 fps).\n",
        d.pendulum_length_m, d.amplitude_deg, d.pixels_per_metre, d.fall_g, gravity,
        d.pendulum_length_m, d.amplitude_deg, d.pixels_per_metre,
        d.pendulum_length_m * d.pixels_per_metre, small_angle, d.amplitude_deg,
        small_angle * (1 + theta0 * theta0 / 16), small_angle * (1 + theta0 * theta0 / 16) * 30);
}

template <typename T>
std::optional<T> parse_number(std::string_view text) {
    T value{};
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty()) return std::nullopt;
    return value;
}

// "A<sep>B" as two numbers.
template <typename T>
std::optional<std::pair<T, T>> parse_pair(std::string_view text, char separator) {
    const size_t at = text.find(separator);
    if (at == std::string_view::npos) return std::nullopt;
    const auto a = parse_number<T>(text.substr(0, at));
    const auto b = parse_number<T>(text.substr(at + 1));
    if (!a || !b) return std::nullopt;
    return std::pair{*a, *b};
}

struct Parsed {
    ClipOptions options;
    bool help = false;
};

class ArgumentError {
  public:
    explicit ArgumentError(std::string text) : text(std::move(text)) {}
    std::string text;
};

Parsed parse(const std::vector<std::string_view>& args) {
    Parsed parsed;
    ClipOptions& o = parsed.options;
    bool size_given = false, frames_given = false, fps_given = false;
    bool length_given = false, amplitude_given = false, scale_given = false;
    bool g_given = false, velocity_given = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        const auto value = [&]() -> std::string_view {
            if (i + 1 >= args.size()) throw ArgumentError(std::string(arg) + " needs a value");
            return args[++i];
        };
        const auto bad = [&](std::string_view v, std::string_view expected) {
            return ArgumentError("bad value for " + std::string(arg) + ": '" + std::string(v) +
                                 "' (expected " + std::string(expected) + ")");
        };
        const auto positive = [&](std::string_view expected) {
            const std::string_view v = value();
            const auto number = parse_number<double>(v);
            if (!number || !(*number > 0) || !std::isfinite(*number)) throw bad(v, expected);
            return *number;
        };
        const auto point = [&]() {
            const std::string_view v = value();
            const auto xy = parse_pair<double>(v, ',');
            if (!xy || !std::isfinite(xy->first) || !std::isfinite(xy->second))
                throw bad(v, "X,Y, e.g. 2.5,-1");
            return QPointF(xy->first, xy->second);
        };
        if (arg == "--help" || arg == "-h") {
            parsed.help = true;
        } else if (arg == "--codec") {
            const std::string_view v = value();
            const auto codec = codec_from_name(v);
            if (!codec) throw bad(v, "a codec name from --help");
            o.codec = *codec;
        } else if (arg == "--size") {
            const std::string_view v = value();
            const auto wh = parse_pair<int>(v, 'x');
            if (!wh) throw bad(v, "WxH, e.g. 320x240");
            o.width = wh->first;
            o.height = wh->second;
            size_given = true;
        } else if (arg == "--fps") {
            const std::string_view v = value();
            const size_t slash = v.find('/');
            const auto num = parse_number<int>(v.substr(0, slash));
            const auto den =
                slash == v.npos ? std::optional<int>(1) : parse_number<int>(v.substr(slash + 1));
            if (!num || !den || *num <= 0 || *den <= 0) throw bad(v, "N or N/D, e.g. 30000/1001");
            o.fps_num = *num;
            o.fps_den = *den;
            fps_given = true;
        } else if (arg == "--frames") {
            const std::string_view v = value();
            const auto n = parse_number<int>(v);
            if (!n) throw bad(v, "a whole number");
            o.frames = *n;
            frames_given = true;
        } else if (arg == "--gop") {
            const std::string_view v = value();
            const auto n = parse_number<int>(v);
            if (!n || *n < 1) throw bad(v, "a whole number of at least 1");
            o.keyframe_interval = *n;
        } else if (arg == "--audio") {
            o.audio = true;
        } else if (arg == "--no-band") {
            o.frame_number_band = false;
        } else if (arg == "--pendulum") {
            o.motion = Motion::Pendulum;
        } else if (arg == "--motion") {
            const std::string_view v = value();
            if (v == "bob")
                o.motion = Motion::Bob;
            else if (v == "pendulum")
                o.motion = Motion::Pendulum;
            else if (v == "linear")
                o.motion = Motion::Linear;
            else if (v == "fall")
                o.motion = Motion::Fall;
            else
                throw bad(v, "bob, pendulum, linear or fall");
        } else if (arg == "--length") {
            o.pendulum_length_m = positive("metres above 0");
            length_given = true;
        } else if (arg == "--amplitude") {
            const std::string_view v = value();
            const auto deg = parse_number<double>(v);
            if (!deg || !(std::abs(*deg) < 180)) throw bad(v, "degrees between -180 and 180");
            o.amplitude_deg = *deg;
            amplitude_given = true;
        } else if (arg == "--scale") {
            o.pixels_per_metre = positive("pixels per metre above 0");
            scale_given = true;
        } else if (arg == "--g") {
            o.fall_g = positive("m/s^2 above 0");
            g_given = true;
        } else if (arg == "--velocity") {
            o.velocity = point();
            velocity_given = true;
        } else if (arg == "--start") {
            o.start = point();
        } else if (arg == "--texture") {
            o.textured_background = true;
        } else if (arg == "--second") {
            o.second_object = true;
        } else if (arg == "--rotate") {
            const std::string_view v = value();
            const auto deg = parse_number<int>(v);
            if (!deg || (*deg != 0 && *deg != 90 && *deg != 180 && *deg != 270))
                throw bad(v, "0, 90, 180 or 270");
            o.rotation = *deg;
        } else if (arg == "--hflip") {
            o.hflip = true;
        } else if (arg == "--sar") {
            const std::string_view v = value();
            const auto nd = parse_pair<int>(v, ':');
            if (!nd || nd->first <= 0 || nd->second <= 0) throw bad(v, "N:D, e.g. 4:3");
            o.sar = {nd->first, nd->second};
        } else if (arg == "--vfr") {
            o.vfr = true;
        } else if (arg == "--hlg") {
            o.transfer = Transfer::Hlg;
        } else if (arg == "--pq") {
            o.transfer = Transfer::Pq;
        } else if (arg == "--capture-fps") {
            o.capture_fps = positive("frames per second above 0");
        } else if (arg.starts_with("-") && arg.size() > 1) {
            throw ArgumentError("unknown option " + std::string(arg));
        } else if (o.path.empty()) {
            o.path = std::string(arg);
        } else {
            throw ArgumentError("more than one output file: '" + o.path + "' and '" +
                                std::string(arg) + "'");
        }
    }
    if (parsed.help) return parsed;
    if (o.motion != Motion::Pendulum && (length_given || amplitude_given))
        throw ArgumentError("--length and --amplitude need --pendulum");
    if (o.motion != Motion::Pendulum && o.motion != Motion::Fall && scale_given)
        throw ArgumentError("--scale needs --pendulum or --motion fall");
    if (o.motion != Motion::Fall && g_given) throw ArgumentError("--g needs --motion fall");
    if (o.motion != Motion::Linear && velocity_given)
        throw ArgumentError("--velocity needs --motion linear");
    if (o.motion != Motion::Linear && o.motion != Motion::Fall && o.start)
        throw ArgumentError("--start needs --motion linear or fall");
    if (o.path.empty()) throw ArgumentError("no output file given");
    if (o.motion == Motion::Pendulum) {
        if (!size_given) o.width = 640, o.height = 480;
        if (!frames_given) o.frames = 300;
    }
    if (o.codec == Codec::Dv) {
        if (!size_given) o.width = 720, o.height = 480;
        if (!fps_given) {
            o.fps_num = o.height == 576 ? 25 : 30000;
            o.fps_den = o.height == 576 ? 1 : 1001;
        }
    }
    if (auto error = validate(o)) throw ArgumentError(*error);
    return parsed;
}

// Tells the user when the swing leaves the picture (the clip is still written).
void warn_if_pendulum_leaves_picture(const ClipOptions& o) {
    if (o.motion != Motion::Pendulum) return;
    const QSize shown = display_size(o);
    const double reach = o.pendulum_length_m * o.pixels_per_metre;
    const double radius = bob_place(o, 0).radius;
    const double theta = std::abs(o.amplitude_deg) * std::numbers::pi / 180;
    const QPointF lowest = bob_position(o, 0);
    const double lowest_y = lowest.y() - reach * std::cos(theta) + reach;
    const double widest =
        shown.width() / 2.0 + reach * std::sin(std::min(theta, std::numbers::pi / 2));
    if (lowest_y + radius > shown.height() || widest + radius > shown.width())
        std::fprintf(stderr,
                     "make-clip: warning: the bob leaves the %dx%d picture (length %.3g m at "
                     "%.0f px/m); use --scale or --size\n",
                     shown.width(), shown.height(), o.pendulum_length_m, o.pixels_per_metre);
}

}  // namespace

int main(int argc, char** argv) {
    av_log_set_level(AV_LOG_WARNING);
    std::vector<std::string_view> args(argv + 1, argv + argc);
    Parsed parsed;
    try {
        parsed = parse(args);
    } catch (const ArgumentError& error) {
        std::fprintf(stderr, "make-clip: %s\nTry 'make-clip --help'.\n", error.text.c_str());
        return usage_error;
    }
    if (parsed.help) {
        print_help();
        return 0;
    }
    const ClipOptions& o = parsed.options;
    if (!codec_available(o.codec)) {
        std::fprintf(stderr, "make-clip: the %s encoder is not available in this FFmpeg\n",
                     std::string(codec_name(o.codec)).c_str());
        return 1;
    }
    warn_if_pendulum_leaves_picture(o);
    if (auto error = write_clip(o)) {
        std::fprintf(stderr, "make-clip: %s\n", error->c_str());
        return 1;
    }
    return 0;
}
