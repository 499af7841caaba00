// make-clip: writes a synthetic AVI test clip.

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
            return "MPEG-4 Visual (FMP4), quality 2, no B-frames";
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
    }
    return "";
}

void print_help() {
    const ClipOptions d;
    const double small_angle = 2 * std::numbers::pi * std::sqrt(d.pendulum_length_m / gravity);
    const double theta0 = d.amplitude_deg * std::numbers::pi / 180;
    std::printf(
        "Usage: make-clip OUT.avi [options]\n"
        "Writes a synthetic AVI clip: a bright bob moving on a dark field, with the frame\n"
        "number coded as black/white blocks along the top edge.\n"
        "\n"
        "Options:\n"
        "  --codec NAME      video codec (default mjpeg), one of:\n");
    for (Codec codec : all_codecs)
        std::printf("                      %-14s %s%s\n", std::string(codec_name(codec)).c_str(),
                    codec_description(codec),
                    codec_available(codec) ? "" : " (encoder not available here)");
    std::printf(
        "                    msvideo1 and cinepak need sizes that are multiples of 4: the\n"
        "                    picture is padded with dark field at the right and bottom.\n"
        "                    h264 at odd sizes is coded 4:4:4 to keep the exact size.\n"
        "  --size WxH        picture size (default 320x240, with --pendulum 640x480)\n"
        "  --fps N[/D]       frame rate (default 30)\n"
        "  --frames N        number of frames (default 30, with --pendulum 300)\n"
        "  --gop N           key frame interval (default 12)\n"
        "  --audio           add a PCM track (16-bit mono 8 kHz, a 440 Hz tone)\n"
        "  --no-band         leave out the frame-number band along the top edge\n"
        "  --pendulum        a simulated pendulum instead of the bouncing bob\n"
        "  --length M        pendulum length in metres (default %.2f)\n"
        "  --amplitude DEG   release angle in degrees (default %.0f)\n"
        "  --scale PX        pixels per metre (default %.0f)\n"
        "  --help            show this text\n"
        "\n"
        "The pendulum is integrated from theta'' = -(g/L) sin(theta), g = %.2f m/s^2, released\n"
        "at rest, pivot at the top centre just below the number band. With the defaults\n"
        "(L = %.2f m, %.0f degrees, %.0f px/m: the bob hangs %.0f px below the pivot) the\n"
        "small-angle period 2*pi*sqrt(L/g) is %.3f s; at %.0f degrees the swing is slower by\n"
        "about theta0^2/16, so expect %.3f s (%.1f frames at 30 fps).\n",
        d.pendulum_length_m, d.amplitude_deg, d.pixels_per_metre, gravity, d.pendulum_length_m,
        d.amplitude_deg, d.pixels_per_metre, d.pendulum_length_m * d.pixels_per_metre, small_angle,
        d.amplitude_deg, small_angle * (1 + theta0 * theta0 / 16),
        small_angle * (1 + theta0 * theta0 / 16) * 30);
}

template <typename T>
std::optional<T> parse_number(std::string_view text) {
    T value{};
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty()) return std::nullopt;
    return value;
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
    bool size_given = false, frames_given = false;
    bool length_given = false, amplitude_given = false, scale_given = false;
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
        if (arg == "--help" || arg == "-h") {
            parsed.help = true;
        } else if (arg == "--codec") {
            const std::string_view v = value();
            const auto codec = codec_from_name(v);
            if (!codec) throw bad(v, "a codec name from --help");
            o.codec = *codec;
        } else if (arg == "--size") {
            const std::string_view v = value();
            const size_t x = v.find('x');
            const auto w = x == v.npos ? std::nullopt : parse_number<int>(v.substr(0, x));
            const auto h = x == v.npos ? std::nullopt : parse_number<int>(v.substr(x + 1));
            if (!w || !h) throw bad(v, "WxH, e.g. 320x240");
            o.width = *w;
            o.height = *h;
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
        } else if (arg == "--length") {
            const std::string_view v = value();
            const auto m = parse_number<double>(v);
            if (!m || !(*m > 0) || !std::isfinite(*m)) throw bad(v, "metres above 0");
            o.pendulum_length_m = *m;
            length_given = true;
        } else if (arg == "--amplitude") {
            const std::string_view v = value();
            const auto deg = parse_number<double>(v);
            if (!deg || !(std::abs(*deg) < 180)) throw bad(v, "degrees between -180 and 180");
            o.amplitude_deg = *deg;
            amplitude_given = true;
        } else if (arg == "--scale") {
            const std::string_view v = value();
            const auto px = parse_number<double>(v);
            if (!px || !(*px > 0) || !std::isfinite(*px)) throw bad(v, "pixels per metre above 0");
            o.pixels_per_metre = *px;
            scale_given = true;
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
    if (o.motion != Motion::Pendulum && (length_given || amplitude_given || scale_given))
        throw ArgumentError("--length, --amplitude and --scale need --pendulum");
    if (o.path.empty()) throw ArgumentError("no output file given");
    if (o.motion == Motion::Pendulum) {
        if (!size_given) o.width = 640, o.height = 480;
        if (!frames_given) o.frames = 300;
    }
    if (auto error = validate(o)) throw ArgumentError(*error);
    return parsed;
}

// Tells the user when the swing leaves the picture (the clip is still written).
void warn_if_pendulum_leaves_picture(const ClipOptions& o) {
    if (o.motion != Motion::Pendulum) return;
    const double reach = o.pendulum_length_m * o.pixels_per_metre;
    const double radius = o.height / 16.0;
    const double theta = std::abs(o.amplitude_deg) * std::numbers::pi / 180;
    const QPointF lowest = bob_position(o, 0);
    const double lowest_y = lowest.y() - reach * std::cos(theta) + reach;
    const double widest = o.width / 2.0 + reach * std::sin(std::min(theta, std::numbers::pi / 2));
    if (lowest_y + radius > o.height || widest + radius > o.width)
        std::fprintf(stderr,
                     "make-clip: warning: the bob leaves the %dx%d picture (length %.3g m at "
                     "%.0f px/m); use --scale or --size\n",
                     o.width, o.height, o.pendulum_length_m, o.pixels_per_metre);
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
